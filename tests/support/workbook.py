"""Reads a workbook with openpyxl, an independent reader. openpyxl is Debian's package, installed
for the system Python, which may not be the Python that runs the tests."""

import json
import subprocess

from support import harness

READER = harness.SOURCE_DIR / "tests" / "generator" / "common" / "serializers" / "xlsx" / "read_with_openpyxl.py"


def read_rows(path):
    """The first sheet's rows as lists of plain values (None for an empty cell), header row first."""
    result = subprocess.run(["/usr/bin/python3", str(READER), str(path)], capture_output=True, text=True,
                            timeout=120, check=True)
    return [[cell["value"] for cell in row] for row in json.loads(result.stdout)["rows"]]
