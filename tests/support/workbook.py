"""Reads and writes workbooks with openpyxl, an independent implementation. openpyxl is Debian's
package, installed for the system Python, which may not be the Python that runs the tests."""

import json
import subprocess

from support import harness

READER = harness.SOURCE_DIR / "tests" / "generator" / "common" / "serializers" / "xlsx" / "read_with_openpyxl.py"
WRITER = harness.SOURCE_DIR / "tests" / "support" / "write_with_openpyxl.py"


def read_rows(path):
    """The first sheet's rows as lists of plain values (None for an empty cell), header row first."""
    result = subprocess.run(["/usr/bin/python3", str(READER), str(path)], capture_output=True, text=True,
                            timeout=120, check=True)
    return [[cell["value"] for cell in row] for row in json.loads(result.stdout)["rows"]]


def write_with_openpyxl(path, sheets):
    """Writes a workbook with openpyxl; `sheets` as write_with_openpyxl.py describes them (a list of
    {"title", "rows", "merged"}, cells as JSON values, {"formula": ...} or {"date": ...})."""
    layout = path.with_name(path.name + ".json")
    layout.write_text(json.dumps({"path": str(path), "sheets": sheets}))
    subprocess.run(["/usr/bin/python3", str(WRITER), str(layout)], capture_output=True, text=True, timeout=120,
                   check=True)
    layout.unlink()
    return path
