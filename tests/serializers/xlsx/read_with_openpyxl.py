#!/usr/bin/python3
"""Prints what openpyxl reads from a workbook, as JSON, for the writer tests.

{"sheets": [names], "rows": [[{"type": "s"|"b"|"n"|"empty"|..., "value": ...}, ...], ...],
 "widths": {"A": 20.7, ...}, "freeze": "A2", "filter": "A1:C4", "bold_header": true}
"""

import json
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def cell_json(cell):
    if cell.value is None:
        return {"type": "empty", "value": None}
    if isinstance(cell.value, bool):
        return {"type": "bool", "value": cell.value}
    if isinstance(cell.value, (int, float)):
        return {"type": "number", "value": cell.value}
    return {"type": "text" if cell.data_type == "s" else cell.data_type, "value": str(cell.value)}


def main(path):
    workbook = openpyxl.load_workbook(path)
    sheet = workbook.worksheets[0]
    rows = [[cell_json(cell) for cell in row] for row in sheet.iter_rows()]
    widths = {}
    for dimension in sheet.column_dimensions.values():
        if dimension.customWidth:
            for column in range(dimension.min, dimension.max + 1):
                widths[get_column_letter(column)] = dimension.width
    print(json.dumps({
        "sheets": workbook.sheetnames,
        "rows": rows,
        "widths": widths,
        "freeze": sheet.freeze_panes,
        "filter": sheet.auto_filter.ref,
        "bold_header": all(cell.font.b for cell in sheet[1]),
    }))


if __name__ == "__main__":
    main(sys.argv[1])
