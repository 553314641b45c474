#!/usr/bin/python3
"""Writes a workbook with openpyxl as an operator's spreadsheet program would hold it, from JSON:

{"path": "book.xlsx", "sheets": [{"title": "Discovery", "rows": [[cell, ...], ...], "merged": ["B2:B4"]}]}

A cell is a JSON value (null for an empty cell; a text stays text, "=x" and "#N/A" included), or
{"formula": "=1/0"} or {"date": "2024-05-01"}. Run by Debian's Python, which has openpyxl:
    /usr/bin/python3 write_with_openpyxl.py <spec.json>
"""

import datetime
import json
import sys

import openpyxl


def main(spec_path):
    with open(spec_path) as handle:
        spec = json.load(handle)
    workbook = openpyxl.Workbook()
    workbook.remove(workbook.active)
    for sheet_spec in spec["sheets"]:
        sheet = workbook.create_sheet(sheet_spec["title"])
        for row_number, row in enumerate(sheet_spec["rows"], start=1):
            for column_number, value in enumerate(row, start=1):
                if value is None:
                    continue
                cell = sheet.cell(row=row_number, column=column_number)
                if isinstance(value, dict) and "formula" in value:
                    cell.value = value["formula"]
                elif isinstance(value, dict) and "date" in value:
                    cell.value = datetime.date.fromisoformat(value["date"])
                else:
                    cell.value = value
                    # A text stays text, even one that openpyxl would take for a formula or an error.
                    if isinstance(value, str):
                        cell.data_type = "s"
        for cell_range in sheet_spec.get("merged", []):
            sheet.merge_cells(cell_range)
    workbook.save(spec["path"])


if __name__ == "__main__":
    main(sys.argv[1])
