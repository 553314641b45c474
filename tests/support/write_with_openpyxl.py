#!/usr/bin/python3
"""Writes a workbook with openpyxl as an operator's spreadsheet program would hold it, from JSON:

{"path": "book.xlsx", "sheets": [{"title": "Discovery", "rows": [[cell, ...], ...], "merged": ["B2:B4"]}]}

A cell is a JSON value (null for an empty cell; a text stays text, "=x" and "#N/A" included), or
{"formula": "=1/0"} or {"date": "2024-05-01"}. Run by Debian's Python, which has openpyxl:
    /usr/bin/python3 write_with_openpyxl.py <layout.json>
"""

import datetime
import json
import sys

import openpyxl


def main(layout_path):
    with open(layout_path) as handle:
        layout = json.load(handle)
    workbook = openpyxl.Workbook()
    workbook.remove(workbook.active)
    for sheet_layout in layout["sheets"]:
        sheet = workbook.create_sheet(sheet_layout["title"])
        for row_number, row in enumerate(sheet_layout["rows"], start=1):
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
        for cell_range in sheet_layout.get("merged", []):
            sheet.merge_cells(cell_range)
    workbook.save(layout["path"])


if __name__ == "__main__":
    main(sys.argv[1])
