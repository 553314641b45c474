"""Reads and writes workbooks with openpyxl, an independent implementation. openpyxl is Debian's
package, installed for the system Python, which may not be the Python that runs the tests. Large
workbooks are written here directly, in the form a writer in constant-memory mode gives them."""

import json
import subprocess
import zipfile
from xml.sax.saxutils import escape

from support import harness

READER = harness.SOURCE_DIR / "tests" / "serializers" / "xlsx" / "read_with_openpyxl.py"
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


def write_inline_strings(path, headers, rows):
    """Writes one sheet with `headers` in row 1 and a row per mapping of `rows` (header -> text;
    missing headers are empty cells), every text an inline string, rows as they stream out of a
    writer in constant-memory mode; fast enough for a hundred thousand rows."""
    main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    relationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    package = "http://schemas.openxmlformats.org/package/2006/relationships"

    def row(number, cells):
        return f'<row r="{number}">' + "".join(
            f'<c r="{column}{number}" t="inlineStr"><is><t>{escape(text)}</t></is></c>'
            for column, text in cells) + "</row>"

    columns = [chr(ord("A") + index) if index < 26 else "A" + chr(ord("A") + index - 26)
               for index in range(len(headers))]
    lines = [row(1, zip(columns, headers))]
    for number, values in enumerate(rows, start=2):
        lines.append(row(number, [(column, values[header]) for column, header in zip(columns, headers)
                                  if values.get(header, "") != ""]))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("[Content_Types].xml",
                         '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                         '<Default Extension="xml" ContentType="application/xml"/></Types>')
        archive.writestr("_rels/.rels", f'<Relationships xmlns="{package}"><Relationship Id="rId1" '
                                        f'Type="{relationships}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        archive.writestr("xl/workbook.xml", f'<workbook xmlns="{main}" xmlns:r="{relationships}"><sheets>'
                                            '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>')
        archive.writestr("xl/_rels/workbook.xml.rels",
                         f'<Relationships xmlns="{package}"><Relationship Id="rId1" Type="{relationships}/worksheet" '
                         'Target="worksheets/sheet1.xml"/></Relationships>')
        archive.writestr("xl/worksheets/sheet1.xml",
                         f'<worksheet xmlns="{main}"><sheetData>' + "".join(lines) + "</sheetData></worksheet>")
    return path
