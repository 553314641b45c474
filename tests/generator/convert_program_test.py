"""The convert program end to end: command line, example template, workbook to discovery file, and
errors that name the row and column and leave every output file as it was."""

import csv
import json
import os
import shutil
import subprocess
import sys

import yaml

from support import harness, workbook

WRITE_WORKBOOK = sys.argv.pop(1) if len(sys.argv) > 1 else str(harness.program("write_workbook"))
OPENPYXL_READER = harness.SOURCE_DIR / "tests/serializers/xlsx/read_with_openpyxl.py"
# The discovery files convert wrote for estate_rows() before it read workbooks as a stream; what it
# writes must stay the same to the byte.
EXPECTED = harness.SOURCE_DIR / "tests/generator/convert/expected"
SOFFICE_SECONDS = 120

HEADERS = ["account_id", "account_name", "hpe", "managed_tgw", "filter_cidrs", "spoke_gw_size", "role_name",
           "region", "vpc_id", "vpc_cidrs", "hvn_cidr", "gw_zones", "spoke_gw_tags", "domain", "encrypt",
           "inspection", "spoke_advertisement", "spoke_routes", "spoke_gw_name", "transit_gw_name"]

PROD = "012345678901"
TEST = "000987654321"


def workbook_row(account_id, region, vpc_id, **cells):
    """A row as generate writes it: every column, the account columns repeated in each row."""
    name = {PROD: "Prod", TEST: "Test"}.get(account_id, "Other")
    row = dict.fromkeys(HEADERS, "")
    row.update(account_id=account_id, account_name=name, hpe=False, managed_tgw=None, filter_cidrs=["10.0.0.0/8"],
               role_name="discovery", region=region, vpc_id=vpc_id, vpc_cidrs="10.0.0.0/16,100.64.0.0/16",
               hvn_cidr="10.0.255.224/27", gw_zones=None, encrypt=True, inspection=None,
               spoke_gw_name="gw-" + vpc_id[4:], transit_gw_name="transit-1")
    row.update(cells)
    return row


def estate_rows():
    return [
        workbook_row(PROD, "us-east-1", "vpc-0000000a", spoke_gw_tags="Name=web,env=prod", encrypt="no"),
        workbook_row(TEST, "eu-west-1", "vpc-0000000b", hvn_cidr=""),
        workbook_row(PROD, "us-west-2", "vpc-0000000c", gw_zones=["us-west-2a", "us-west-2b"]),
        workbook_row(PROD, "us-east-1", "vpc-0000000d", domain="prod", spoke_routes="10.1.0.0/16, 10.2.0.0/16"),
    ]


def vpc(vpc_id, hvn_cidr="10.0.255.224/27", names=True, **fields):
    entry = {"vpc_id": vpc_id, "hvn_cidr": hvn_cidr}
    entry.update(fields)
    entry.update({"encrypt": fields.get("encrypt", True)})
    ordered = {key: entry[key] for key in ["vpc_id", "hvn_cidr", "gw_zones", "spoke_gw_tags", "domain", "encrypt",
                                           "inspection", "spoke_routes"] if key in entry}
    if names:
        ordered.update(spoke_gw_name="gw-" + vpc_id[4:], transit_gw_name="transit-1")
    return ordered


def expected_accounts(names=True):
    account = {"hpe": False, "filter_cidrs": ["10.0.0.0/8"], "role_name": "discovery"}
    return [
        {"account_id": PROD, "account_name": "Prod", **account, "regions": [
            {"region": "us-east-1", "vpcs": [
                vpc("vpc-0000000a", names=names, spoke_gw_tags=[{"key": "Name", "value": "web"},
                                                                {"key": "env", "value": "prod"}], encrypt=False),
                vpc("vpc-0000000d", names=names, domain="prod", spoke_routes=["10.1.0.0/16", "10.2.0.0/16"]),
            ]},
            {"region": "us-west-2", "vpcs": [vpc("vpc-0000000c", names=names, gw_zones=["us-west-2a", "us-west-2b"])]},
        ]},
        {"account_id": TEST, "account_name": "Test", **account, "regions": [
            {"region": "eu-west-1", "vpcs": [vpc("vpc-0000000b", hvn_cidr="", names=names)]},
        ]},
    ]


class ConvertProgram(harness.ScratchTestCase):
    def write_workbook(self, rows, name="book.xlsx"):
        rows_path = self.scratch / (name + ".json")
        rows_path.write_text(json.dumps(rows))
        path = self.scratch / name
        subprocess.run([WRITE_WORKBOOK, str(rows_path), str(path)], check=True, timeout=60)
        rows_path.unlink()
        return path

    def convert(self, *args):
        return harness.run_program("convert", *args, cwd=self.scratch)

    def assert_fails_leaving_files_alone(self, args, kind, message_part):
        """Runs convert twice, without and with an existing output file: exit 1, the error on the
        last line of standard error, and afterwards the folder exactly as it was."""
        output = self.scratch / "out.yaml"
        for existing in (None, "account_info: [] # before\n"):
            if existing is None:
                output.unlink(missing_ok=True)
            else:
                output.write_text(existing)
            before = sorted(os.listdir(self.scratch))
            result = self.convert(*args, "-y", "out.yaml")
            self.assertEqual(result.returncode, 1, result.stderr)
            last_line = result.stderr.splitlines()[-1]
            self.assertTrue(last_line.startswith(kind + ": "), result.stderr)
            self.assertIn(message_part, last_line)
            self.assertEqual(sorted(os.listdir(self.scratch)), before, "no file left behind")
            if existing is not None:
                self.assertEqual(output.read_text(), existing, "the existing output is unchanged")
        return last_line

    def test_version_help_and_required_options(self):
        version = self.convert("--version", "-e")
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertRegex(version.stdout, r"^convert \d+\.\d+\.\d+\n$")

        usage = self.convert("--help")
        self.assertEqual(usage.returncode, 0)
        self.assertIn("Convert Excel to YAML for Ovra", usage.stdout)
        for line in ("-e EXCEL, --excel EXCEL", "Excel file to convert from", "-y YAML, --yaml YAML",
                     "YAML file to convert to", "--example-template    Generate an example template file.",
                     "--template TEMPLATE   Path to a template file."):
            self.assertIn(line, usage.stdout)
        self.assertLess(usage.stdout.index("--quiet"), usage.stdout.index("--excel"))
        self.assertIn("usage: convert [-h] [--version] [--verbose] [--quiet] -e EXCEL -y YAML", usage.stdout)
        self.assertTrue(usage.stdout.endswith("example:\n  convert -e discovery.xlsx -y discovery.yaml\n"),
                        usage.stdout)

        for args, missing in ((["--example-template"], "-e/--excel, -y/--yaml"), (["-e", "book.xlsx"], "-y/--yaml"),
                              (["-y", "out.yaml"], "-e/--excel")):
            result = self.convert(*args)
            self.assertEqual(result.returncode, 2)
            self.assertTrue(result.stderr.startswith("usage: convert [-h]"), result.stderr)
            self.assertTrue(result.stderr.endswith(
                f"convert: error: the following arguments are required: {missing}\n"), result.stderr)

        ambiguous = self.convert("--ex", "book.xlsx", "-y", "out.yaml")
        self.assertEqual(ambiguous.returncode, 2)
        self.assertIn("ambiguous option: --ex could match --excel, --example-template", ambiguous.stderr)
        self.assertEqual(os.listdir(self.scratch), [])

    def test_example_template_prints_the_data_file_and_touches_nothing(self):
        expected = (harness.SOURCE_DIR / "data" / "template.yaml").read_text() + "\n"
        result = self.convert("--example-template", "-e", "missing.xlsx", "-y", "out.yaml")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, expected, ""))
        self.assertEqual(os.listdir(self.scratch), [])
        template = yaml.safe_load(expected)
        self.assertEqual(template["config"], {"configure_gw_name": True})

    def test_workbook_becomes_the_discovery_file_in_the_default_template(self):
        book = self.write_workbook(estate_rows())
        result = self.convert("-e", book.name, "-y", "discovery.yaml")
        self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)
        default_template = (harness.BIN_DIR / "data" / "template.yaml").resolve()
        self.assertEqual(result.stderr.splitlines(), [
            "generator.convert:INFO Loading VPC data from book.xlsx",
            f"generator.convert:INFO Reading discovery configuration template: {default_template}",
            "generator.convert:INFO Parsing discovery account information",
            "generator.convert:INFO Exporting accounts to discovery file: discovery.yaml",
        ])
        written = (self.scratch / "discovery.yaml").read_text()
        self.assertEqual(written, (EXPECTED / "estate.yaml").read_text())
        self.assertIn('account_id: "012345678901"', written, "account numbers are written as quoted text")
        self.assertEqual(yaml.safe_load(written),
                         {"config": {"configure_gw_name": True}, "account_info": expected_accounts()})

    def test_names_made_of_digits_stay_texts(self):
        rows = [workbook_row(PROD, "us-east-1", "vpc-0000000a", account_name=PROD, transit_gw_name="0123",
                             spoke_gw_name="0042", domain="7")]
        result = self.convert("-e", self.write_workbook(rows).name, "-y", "discovery.yaml")
        self.assertEqual(result.returncode, 0, result.stderr)
        account = yaml.safe_load((self.scratch / "discovery.yaml").read_text())["account_info"][0]
        self.assertEqual(account["account_name"], PROD)
        self.assertEqual({key: account["regions"][0]["vpcs"][0][key]
                          for key in ("transit_gw_name", "spoke_gw_name", "domain")},
                         {"transit_gw_name": "0123", "spoke_gw_name": "0042", "domain": "7"})

    def test_template_replaces_account_info_in_place_and_can_drop_gateway_names(self):
        book = self.write_workbook(estate_rows())
        (self.scratch / "template.yml").write_text(
            "account_info:\n  - account_id: '999999999999'\nconfig:\n  configure_gw_name: false\n")
        result = self.convert("-e", book.name, "-y", "out.yaml", "--temp", "template.yml")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("generator.convert:INFO Reading discovery configuration template: template.yml", result.stderr)
        self.assertEqual((self.scratch / "out.yaml").read_text(),
                         (EXPECTED / "estate_without_gateway_names.yaml").read_text())
        written = yaml.safe_load((self.scratch / "out.yaml").read_text())
        self.assertEqual(list(written), ["account_info", "config"])
        self.assertEqual(written, {"account_info": expected_accounts(names=False),
                                   "config": {"configure_gw_name": False}})

    def test_header_only_workbook_gives_no_accounts_and_verbose_shows_the_data(self):
        book = self.write_workbook([dict.fromkeys(HEADERS, "")])
        result = self.convert("-v", "-e", book.name, "-y", "out.yaml")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(yaml.safe_load((self.scratch / "out.yaml").read_text())["account_info"], [])
        self.assertRegex(result.stderr, r"WARNING generator.convert:check_sheet sheet 'Sheet1' of book.xlsx has no "
                                        r"rows under its header row: the discovery file gets no accounts\n")
        self.assertIn("Loaded data from excel:", result.stderr)
        self.assertIn("Generated DiscoveryConfig:", result.stderr)

        rows = estate_rows()[:1]
        # A cell may hold what steers a terminal: the renderings show it escaped.
        rows[0]["domain"] = "dom\rain\nforged line\u009b2J"
        book = self.write_workbook(rows)
        result = self.convert("-v", "-e", book.name, "-y", "out.yaml")
        for header in ("Record:", "Parsing VPC Record:", "VPC Data:", "Region Data:", "Account Data:",
                       "Loaded dataframe from excel:"):
            self.assertIn(header, result.stderr)
        self.assertIn("dom\\rain\\nforged line\\u009b2J", result.stderr)
        for raw in ("\r", "\u009b", "\nforged line"):
            self.assertNotIn(raw, result.stderr)
        self.assertRegex(result.stderr, r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} DEBUG generator.convert:\w+ Record:")
        # The steps of the run are named as the run's own.
        for step in ("INFO generator.convert:main Parsing discovery account information",
                     "DEBUG generator.convert:main Generated DiscoveryConfig:",
                     "DEBUG generator.common.serializers.xlsx:load_from_xlsx Loaded dataframe from excel:"):
            self.assertIn(step, result.stderr)

    def test_a_workbook_of_more_than_100000_rows_converts(self):
        accounts, vpcs_per_account = 2040, 50
        rows = []
        for account in range(accounts):
            for vpc in range(vpcs_per_account):
                rows.append({"account_id": f"{100000000000 + account:012d}", "account_name": f"a{account}",
                             "region": "us-east-1" if vpc % 2 else "eu-west-1",
                             "vpc_id": f"vpc-{account:04x}{vpc:04x}"})
        book = workbook.write_inline_strings(self.scratch / "big.xlsx", HEADERS, rows)
        result = self.convert("-e", book.name, "-y", "big.yaml")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(result.stderr.splitlines()), 4, result.stderr)
        with open(self.scratch / "big.yaml", encoding="utf-8") as lines:
            listed = [line.strip() for line in lines if line.lstrip().startswith(("- account_id:", "- vpc_id:"))]
        self.assertEqual(len(listed), accounts + accounts * vpcs_per_account)
        self.assertEqual(listed[:2], ['- account_id: "100000000000"', '- vpc_id: "vpc-00000000"'])
        self.assertEqual(listed[-1], f'- vpc_id: "vpc-{accounts - 1:04x}{vpcs_per_account - 1:04x}"',
                         "each account's regions in order of first appearance")

    def test_cell_errors_name_row_and_column_and_write_nothing(self):
        rows = estate_rows()
        rows[2]["encrypt"] = "maybe"
        book = self.write_workbook(rows)
        line = self.assert_fails_leaving_files_alone(["-e", book.name], "ValueError",
                                                     "row 4, column encrypt: \"maybe\" is not a yes/no value")
        self.assertNotIn("Exporting", line)

        rows = estate_rows()
        rows[3]["spoke_gw_tags"] = "Name"
        self.assert_fails_leaving_files_alone(["-e", self.write_workbook(rows).name], "ValueError",
                                              "row 5, column spoke_gw_tags: tag \"Name\"")

        rows = estate_rows()
        rows[1]["hvn_cidr"] = "10.0.0.1/27"
        self.assert_fails_leaving_files_alone(["-e", self.write_workbook(rows).name], "ValidationError",
                                              "row 3, column hvn_cidr: account '000987654321', region 'eu-west-1', "
                                              "VPC 'vpc-0000000b': hvn_cidr")

        rows = estate_rows()
        rows[2]["role_name"] = "other"
        self.assert_fails_leaving_files_alone(["-e", self.write_workbook(rows).name], "AssertionError",
                                              "account 012345678901: rows 2 and 4 differ in role_name "
                                              "(row 2: \"discovery\", row 4: \"other\")")

        rows = [{key: value for key, value in row.items() if key != "region"} for row in estate_rows()]
        self.assert_fails_leaving_files_alone(["-e", self.write_workbook(rows).name], "KeyError",
                                              "sheet 'Sheet1' of book.xlsx lacks the column region; row 1 must "
                                              "name every column of the discovery workbook")

    def test_file_and_template_errors_write_nothing(self):
        book = self.write_workbook(estate_rows())
        self.assert_fails_leaving_files_alone(["-e", "missing.xlsx"], "FileNotFoundError", "missing.xlsx")
        self.assert_fails_leaving_files_alone(["-e", book.name, "--template", "none.yaml"], "FileNotFoundError",
                                              "none.yaml")
        (self.scratch / "template.json").write_text("{}")
        self.assert_fails_leaving_files_alone(["-e", book.name, "--template", "template.json"], "ValueError",
                                              "Could not determine loader from template.json")
        (self.scratch / "empty.yaml").write_text("# nothing\n")
        self.assert_fails_leaving_files_alone(["-e", book.name, "--template", "empty.yaml"], "TypeError",
                                              "template empty.yaml holds null")
        (self.scratch / "worded.yaml").write_text("config:\n  configure_gw_name: sometimes\n")
        self.assert_fails_leaving_files_alone(["-e", book.name, "--template", "worded.yaml"], "ValidationError",
                                              "template worded.yaml: ")
        (self.scratch / "nulled.yaml").write_text("config:\n")
        self.assert_fails_leaving_files_alone(["-e", book.name, "--template", "nulled.yaml"], "TypeError",
                                              "config section must be a mapping")

        # Outputs are checked before the workbook is read (here it does not even exist), as generate
        # checks its own.
        result = self.convert("-e", "missing.xlsx", "-y", "out.txt")
        self.assertEqual((result.returncode, result.stderr),
                         (1, "ValueError: Cannot write --yaml 'out.txt': no writer for the extension '.txt' "
                             "(known: .yaml, .yml)\n"))
        self.assertFalse((self.scratch / "out.txt").exists())

        # A workbook open in a spreadsheet program converts with a warning; its lock file is refused.
        lock = self.scratch / f".~lock.{book.name}#"
        lock.write_text(",operator,host,09.12.2026 10:00,file:///home/operator/.config/libreoffice/4;")
        result = self.convert("-e", book.name, "-y", "open.yaml")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"generator.convert:WARNING {book.name} is open in a spreadsheet program (lock file "
                      f"{lock.name}): changes not saved there are not converted", result.stderr)
        (self.scratch / "open.yaml").unlink()
        self.assert_fails_leaving_files_alone(["-e", lock.name], "ValueError",
                                              "is the lock file of a workbook that is open in a spreadsheet "
                                              "program, not the workbook itself")
        lock.unlink()

        # The workbook or the template as the output, by name or through a link: refused before
        # anything is written, naming the option that reads the file.
        before = book.read_bytes()
        (self.scratch / "book.yaml").symlink_to(book.name)
        (self.scratch / "template.yaml").write_text("config: {}\n")
        for output, message in ((book.name, f"Cannot write --yaml '{book.name}': it leads to the file read by "
                                             f"--excel '{book.name}'; an output must not replace an input"),
                                ("book.yaml", f"Cannot write --yaml 'book.yaml': it leads to the file read by "
                                              f"--excel '{book.name}'"),
                                ("template.yaml", "it leads to the file read by --template 'template.yaml'")):
            result = self.convert("-e", book.name, "--template", "template.yaml", "-y", output)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertTrue(result.stderr.startswith(f"ValueError: Cannot write --yaml '{output}': "), result.stderr)
            self.assertIn(message, result.stderr)
            self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertEqual(book.read_bytes(), before)
        self.assertEqual((self.scratch / "template.yaml").read_text(), "config: {}\n")


def sheet_cells(rows):
    """Rows of workbook_row mappings as the cells of a sheet: the header row first, lists in the text
    form generate writes, None for an empty cell."""
    def cell(value):
        if value == "" or value is None:
            return None
        if isinstance(value, list):
            return "[" + ", ".join(f"'{item}'" for item in value) + "]"
        return value
    return [HEADERS] + [[cell(row[header]) for header in HEADERS] for row in rows]


def discovery_sheet(rows, **sheet):
    return [{"title": "Discovery", "rows": sheet_cells(rows), **sheet}]


class ConvertLibreOfficeWorkbooks(harness.ScratchTestCase):
    """Workbooks that LibreOffice Calc opened, changed and saved, as an operator's would be."""

    def setUp(self):
        super().setUp()
        self.assertIsNotNone(shutil.which("soffice"), "LibreOffice (soffice) is required: run scripts/install-deps")
        self.profile = self.scratch / "lo-profile"

    def soffice(self, *args, cwd):
        result = subprocess.run(["soffice", f"-env:UserInstallation=file://{self.profile}", "--headless", *args],
                                cwd=cwd, capture_output=True, text=True, timeout=SOFFICE_SECONDS)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result

    def saved_by_calc(self, source, folder, *import_options):
        """Has Calc open `source` and save it as a workbook in `folder`; returns the new workbook."""
        self.soffice(*import_options, "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", str(folder),
                     str(source), cwd=self.scratch)
        saved = folder / (source.stem + ".xlsx")
        self.assertTrue(saved.exists(), f"Calc wrote no {saved}")
        return saved

    def as_csv(self, workbook):
        """The sheet as Calc exports it to CSV, as rows of texts."""
        folder = self.scratch / "csv"
        self.soffice("--convert-to", "csv", "--outdir", str(folder), str(workbook), cwd=self.scratch)
        with open(folder / (workbook.stem + ".csv"), newline="") as handle:
            return list(csv.reader(handle))

    def edited_in_calc(self, workbook, edit, name, account_column_as_text=True):
        """Exports the sheet to CSV with Calc, applies `edit` to the rows, and has Calc import the CSV
        again and save it as a workbook: with the account column imported as text, or with Calc's
        usual detection, which turns digits into numbers."""
        rows = self.as_csv(workbook)
        edit(rows)
        source = self.scratch / "edited" / (name + ".csv")
        source.parent.mkdir(exist_ok=True)
        with open(source, "w", newline="") as handle:
            csv.writer(handle).writerows(rows)
        # Comma separated, double-quoted texts, UTF-8, from line 1; column 1 as text ("1/2") or standard.
        options = "CSV:44,34,76,1," + ("1/2" if account_column_as_text else "")
        return self.saved_by_calc(source, self.scratch / "calc", "--infilter=" + options)

    def openpyxl_account_cells(self, workbook):
        result = subprocess.run(["/usr/bin/python3", str(OPENPYXL_READER), str(workbook)], capture_output=True,
                                text=True, timeout=120)
        self.assertEqual(result.returncode, 0, f"openpyxl could not read {workbook}: {result.stderr}")
        return [row[0] for row in json.loads(result.stdout)["rows"][1:]]

    def converted(self, workbook, output):
        result = harness.run_program("convert", "-e", workbook, "-y", output, cwd=self.scratch)
        self.assertEqual(result.returncode, 0, result.stderr)
        return yaml.safe_load(output.read_text())

    def calc_saved(self, books):
        """Writes each workbook of `books` (name -> sheets) with openpyxl and has Calc open and save them
        all in one run, as an operator's spreadsheet program would; returns name -> saved workbook."""
        folder = self.scratch / "openpyxl"
        folder.mkdir(exist_ok=True)
        sources = [str(workbook.write_with_openpyxl(folder / f"{name}.xlsx", sheets)) for name, sheets in books.items()]
        self.soffice("--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", "calc", *sources, cwd=self.scratch)
        return {name: self.scratch / "calc" / f"{name}.xlsx" for name in books}

    def run_convert(self, saved, name):
        """Converts the workbook calc/<name>.xlsx to <name>.yaml; returns the run and its WARNING lines."""
        result = harness.run_program("convert", "-e", f"calc/{name}.xlsx", "-y", f"{name}.yaml", cwd=self.scratch)
        self.assertTrue(saved[name].exists())
        warnings = [line for line in result.stderr.splitlines() if ":WARNING " in line]
        return result, warnings

    def refusal(self, saved, name):
        """The last line of a conversion of calc/<name>.xlsx that must fail and write nothing."""
        result, _ = self.run_convert(saved, name)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertFalse((self.scratch / f"{name}.yaml").exists())
        return result.stderr.splitlines()[-1]

    def write_workbook(self, rows):
        rows_path = self.scratch / "rows.json"
        rows_path.write_text(json.dumps(rows))
        path = self.scratch / "generated.xlsx"
        subprocess.run([WRITE_WORKBOOK, str(rows_path), str(path)], check=True, timeout=60)
        return path

    def test_workbook_saved_by_calc_converts_like_the_original(self):
        original = self.write_workbook(estate_rows())
        saved = self.saved_by_calc(original, self.scratch / "calc")
        self.assertEqual([cell["type"] for cell in self.openpyxl_account_cells(saved)], ["text"] * 4)
        expected = self.converted(original, self.scratch / "original.yaml")
        self.assertEqual(expected["account_info"], expected_accounts())
        self.assertEqual(self.converted(saved, self.scratch / "saved.yaml"), expected)

    def test_cells_edited_in_calc_arrive_in_the_discovery_file(self):
        original = self.write_workbook(estate_rows())

        def edit(rows):
            header = rows[0]
            column = {name: header.index(name) for name in header}
            rows[2][column["spoke_gw_tags"]] = "Name=test,owner=ops"
            rows[2][column["inspection"]] = "Yes"
            rows[3][column["spoke_gw_name"]] = "renamed-gw"
            rows[4][column["hvn_cidr"]] = ""
            self.assertEqual(rows[1][column["account_id"]], PROD, "Calc exports the account number as written")

        edited = self.edited_in_calc(original, edit, "edited")
        self.assertEqual([cell["value"] for cell in self.openpyxl_account_cells(edited)], [PROD, TEST, PROD, PROD])
        written = self.converted(edited, self.scratch / "edited.yaml")

        accounts = expected_accounts()
        test_vpc = accounts[1]["regions"][0]["vpcs"][0]
        test_vpc.update(spoke_gw_tags=[{"key": "Name", "value": "test"}, {"key": "owner", "value": "ops"}],
                        inspection=True)
        accounts[0]["regions"][1]["vpcs"][0]["spoke_gw_name"] = "renamed-gw"
        accounts[0]["regions"][0]["vpcs"][1]["hvn_cidr"] = ""
        self.assertEqual(written["account_info"], accounts)

    def test_account_numbers_calc_turned_into_numbers_give_the_right_account_or_a_clear_error(self):
        rows = estate_rows()
        numbers = self.edited_in_calc(self.write_workbook(rows), lambda rows: None, "numbers",
                                      account_column_as_text=False)
        cells = self.openpyxl_account_cells(numbers)
        self.assertEqual([cell["type"] for cell in cells], ["number"] * 4, "Calc stored the accounts as numbers")
        self.assertEqual(cells[0]["value"], int(PROD), "and the leading zero is gone")

        output = self.scratch / "numbers.yaml"
        result = harness.run_program("convert", "-e", numbers, "-y", output, cwd=self.scratch)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1],
                         "ValueError: row 2, column account_id: account number 12345678901 has 11 digits, not 12; "
                         "a spreadsheet that stores the column as numbers drops leading zeros. Format the column "
                         "as text and write all 12 digits (012345678901 if only zeros were lost)")
        self.assertFalse(output.exists())

        # Twelve digits survive the change to numbers: the same account comes back.
        for row in rows:
            row["account_id"] = "123456789012" if row["account_id"] == PROD else "987654321098"
        numbers = self.edited_in_calc(self.write_workbook(rows), lambda rows: None, "twelve",
                                      account_column_as_text=False)
        self.assertEqual([cell["type"] for cell in self.openpyxl_account_cells(numbers)], ["number"] * 4)
        written = self.converted(numbers, self.scratch / "twelve.yaml")
        self.assertEqual([account["account_id"] for account in written["account_info"]],
                         ["123456789012", "987654321098"])

    def test_a_sheet_that_is_not_the_discovery_sheet_is_refused_naming_the_columns(self):
        near_miss = sheet_cells(estate_rows())
        near_miss[0] = [{"domain": "Domain", "encrypt": "encrypt "}.get(header, header) for header in near_miss[0]]
        two_domains = [row + [value] for row, value in zip(sheet_cells(estate_rows()), ["domain", "corp", None, None, None])]
        blocks = HEADERS.index("vpc_cidrs")
        no_blocks = [row[:blocks] + row[blocks + 1:] for row in sheet_cells(estate_rows())]
        saved = self.calc_saved({
            "blank_in_front": [{"title": "Notes", "rows": []}] + discovery_sheet(estate_rows()),
            "near_miss": [{"title": "Discovery", "rows": near_miss}],
            "headers_only": [{"title": "Discovery", "rows": [HEADERS]}],
            "two_domains": [{"title": "Discovery", "rows": two_domains}],
            "no_blocks": [{"title": "Discovery", "rows": no_blocks}],
        })
        self.assertEqual(self.refusal(saved, "two_domains"),
                         "KeyError: sheet 'Discovery' of calc/two_domains.xlsx has the header domain in columns N, U; "
                         "row 1 must name each column of the discovery workbook once")
        # The blocks serve only the check of the gateway subnets, which is then left out once.
        result, warnings = self.run_convert(saved, "no_blocks")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(warnings, ["generator.convert:WARNING sheet 'Discovery' of calc/no_blocks.xlsx has no column "
                                    "vpc_cidrs: the gateway subnets (hvn_cidr) are not checked against the VPCs' "
                                    "address blocks"])
        self.assertEqual(yaml.safe_load((self.scratch / "no_blocks.yaml").read_text())["account_info"],
                         expected_accounts())
        self.assertEqual(self.refusal(saved, "blank_in_front"),
                         "KeyError: sheet 'Notes' of calc/blank_in_front.xlsx has none of the discovery workbook's "
                         "column headers in row 1; convert reads the first sheet of a workbook, so the discovery "
                         "sheet must come first")
        self.assertEqual(self.refusal(saved, "near_miss"),
                         "KeyError: sheet 'Discovery' of calc/near_miss.xlsx lacks the columns domain (row 1 has "
                         "\"Domain\"), encrypt (row 1 has \"encrypt \"); row 1 must name every column of the "
                         "discovery workbook exactly as generate writes it")
        result, warnings = self.run_convert(saved, "headers_only")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(warnings, ["generator.convert:WARNING sheet 'Discovery' of calc/headers_only.xlsx has no rows "
                                    "under its header row: the discovery file gets no accounts"])
        self.assertEqual(yaml.safe_load((self.scratch / "headers_only.yaml").read_text())["account_info"], [])

    def test_cells_that_would_be_lost_or_misread_are_refused_naming_row_column_and_cell(self):
        def edited(index, column, value):
            rows = estate_rows()
            rows[index][column] = value
            return rows

        grouped = [estate_rows()[index] for index in (0, 3, 2, 1)]  # the Prod rows on sheet rows 2 to 4
        saved = self.calc_saved({
            "error_cell": discovery_sheet(edited(1, "domain", {"formula": "=1/0"})),
            "date": discovery_sheet(edited(2, "gw_zones", {"date": "2024-05-01"})),
            "copied_row": discovery_sheet(estate_rows() + [estate_rows()[0]]),
            "merged": discovery_sheet(grouped, merged=["B2:B4"]),
            "name_read_as_empty": discovery_sheet(edited(1, "account_name", "NA")),
        })
        self.assertEqual(self.refusal(saved, "error_cell"),
                         "ValueError: row 3, column domain: the cell shows the error #DIV/0!; type the value itself, "
                         "or leave the cell empty")
        self.assertEqual(self.refusal(saved, "date"),
                         "ValueError: row 4, column gw_zones: the cell holds the date 2024-05-01, not text; a "
                         "spreadsheet program turns some typed texts into dates: format the cell as text and type "
                         "the value again")
        self.assertEqual(self.refusal(saved, "copied_row"),
                         "AssertionError: account 012345678901, region us-east-1: VPC vpc-0000000a stands in rows 2 "
                         "and 6; a VPC may have one row only, so remove the copy")
        self.assertEqual(self.refusal(saved, "merged"),
                         "AssertionError: account 012345678901: rows 2 and 3 differ in account_name (row 2: \"Prod\", "
                         "row 3: empty); every row of an account must repeat the same account columns; row 3, column "
                         "account_name: a merged cell keeps its value in its first row only: if cells of column "
                         "account_name are merged, unmerge them and repeat the value in every row")
        result, warnings = self.run_convert(saved, "name_read_as_empty")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(warnings, ["generator.convert:WARNING row 3, column account_name: \"NA\" is read as an empty "
                                    "cell (a word that stands for a missing value)"])
        self.assertEqual(result.stderr.splitlines()[-1],
                         "ValidationError: row 3, column account_name: account '000987654321': account_name: missing; "
                         "a migration needs it (only discovery output may omit it); the cell holds \"NA\", which is "
                         "read as an empty cell")

    def test_words_read_as_empty_and_blanks_or_commas_in_lists_and_tags_convert_as_read_with_a_warning(self):
        rows = estate_rows()
        rows[0].update(domain="None", spoke_gw_tags="Name=web, env=prod,=x")
        rows[1].update(transit_gw_name="nan", spoke_routes="#N/A")
        rows[2].update(gw_zones="us-west-2a , us-west-2b,us-west-2c")
        rows[3].update(spoke_gw_tags="Name=db\u00a0")
        saved = self.calc_saved({"words": discovery_sheet(rows)})
        result, warnings = self.run_convert(saved, "words")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(warnings, [
            "generator.convert:WARNING row 2, column spoke_gw_tags (\"Name=web, env=prod,=x\"): key \" env\" begins "
            "with a blank, tag \"=x\" has an empty key; kept as read (tags are key=value pairs separated by commas)",
            "generator.convert:WARNING row 2, column domain: \"None\" is read as an empty cell (a word that stands for "
            "a missing value)",
            "generator.convert:WARNING row 3, column spoke_routes: \"#N/A\" is read as an empty cell (a word that "
            "stands for a missing value)",
            "generator.convert:WARNING row 3, column transit_gw_name: \"nan\" is read as an empty cell (a word that "
            "stands for a missing value)",
            "generator.convert:WARNING row 4, column gw_zones (\"us-west-2a , us-west-2b,us-west-2c\"): item "
            "\"us-west-2a \" ends with a blank, item \"us-west-2b,us-west-2c\" holds a comma that did not separate; "
            "kept as read (list items are separated by a comma and one blank)",
            "generator.convert:WARNING row 5, column spoke_gw_tags (\"Name=db\u00a0\"): value \"db\u00a0\" ends with a "
            "blank; kept as read (tags are key=value pairs separated by commas)",
        ])
        accounts = yaml.safe_load((self.scratch / "words.yaml").read_text())["account_info"]
        prod_east, prod_west = accounts[0]["regions"]
        self.assertEqual(prod_east["vpcs"][0]["spoke_gw_tags"], [
            {"key": "Name", "value": "web"}, {"key": " env", "value": "prod"}, {"key": "", "value": "x"}])
        self.assertNotIn("domain", prod_east["vpcs"][0])
        self.assertEqual(prod_east["vpcs"][1]["spoke_gw_tags"], [{"key": "Name", "value": "db\u00a0"}])
        self.assertEqual(prod_west["vpcs"][0]["gw_zones"], ["us-west-2a ", "us-west-2b,us-west-2c"])
        test_vpc = accounts[1]["regions"][0]["vpcs"][0]
        self.assertNotIn("transit_gw_name", test_vpc)
        self.assertNotIn("spoke_routes", test_vpc)

    def test_gateway_subnets_are_checked_against_their_vpc_and_an_empty_hpe_stays_absent(self):
        rows = estate_rows()
        for row in rows:
            row["hpe"] = None if row["account_id"] == PROD else True
        rows[0]["hvn_cidr"] = "10.0.255.128/25"
        rows[2]["hvn_cidr"] = "100.64.0.0/27"
        rows[1]["hvn_cidr"] = "10.0.255.224/27"
        outside = [dict(row) for row in rows]
        outside[3]["hvn_cidr"] = "10.9.0.0/27"
        saved = self.calc_saved({"sizes": discovery_sheet(rows), "outside": discovery_sheet(outside)})
        result, warnings = self.run_convert(saved, "sizes")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(warnings, [
            "generator.convert:WARNING row 2, column hvn_cidr: 10.0.255.128/25 is a /25 subnet, but hpe is false or "
            "empty, which asks for a /27",
            "generator.convert:WARNING row 3, column hvn_cidr: 10.0.255.224/27 is a /27 subnet, but hpe is true, "
            "which asks for a /25",
        ])
        prod, test = yaml.safe_load((self.scratch / "sizes.yaml").read_text())["account_info"]
        self.assertNotIn("hpe", prod, "an empty hpe cell gives no hpe entry")
        self.assertIs(test["hpe"], True)
        self.assertEqual(prod["regions"][1]["vpcs"][0]["hvn_cidr"], "100.64.0.0/27", "any block of the VPC will do")

        self.assertEqual(self.refusal(saved, "outside"),
                         "ValueError: row 5, column hvn_cidr: 10.9.0.0/27 lies in none of the VPC's address blocks "
                         "(column vpc_cidrs: 10.0.0.0/16,100.64.0.0/16); the gateway subnet must lie inside one of "
                         "them")


if __name__ == "__main__":
    harness.main()
