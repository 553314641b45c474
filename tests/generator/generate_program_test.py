"""The generate program's command line, example configuration and configuration checks."""

import re
import textwrap

from support import harness

VALID_CONFIG = """\
controller:
  ip: 127.0.0.1
  username: admin
account_ids:
  - "012345678901"
  - 123456789012
aws_regions: [us-east-1]
defaults:
  role_name: discovery
  hpe: true
"""


class GenerateCommandLine(harness.ScratchTestCase):
    def write(self, name, text):
        path = self.scratch / name
        path.write_text(textwrap.dedent(text))
        return path

    def test_version_prints_name_and_version_even_without_required_input(self):
        result = harness.run_program("generate", "--version", "--config")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^generate \d+\.\d+\.\d+\n$")
        self.assertEqual(result.stderr, "")

    def test_example_config_prints_the_data_file_and_nothing_else(self):
        expected = (harness.SOURCE_DIR / "data" / "config.yaml").read_text() + "\n"
        for args in (["--example-config"], ["--exa", "-c", "missing.yaml", "-d", "out.yaml", "-e", "out.xlsx"]):
            result = harness.run_program("generate", *args, cwd=self.scratch)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout, expected)
        self.assertEqual(list(self.scratch.iterdir()), [])

    def test_example_config_is_a_valid_configuration(self):
        example = harness.run_program("generate", "--example-config").stdout
        path = self.write("example.yaml", example)
        result = harness.run_program("generate", "-c", path)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_ambiguous_prefix_is_a_usage_error(self):
        result = harness.run_program("generate", "--ex")
        self.assertEqual(result.returncode, 2)
        self.assertTrue(result.stderr.startswith("usage: generate [-h]"), result.stderr)
        self.assertIn("generate: error: ambiguous option: --ex could match --example-config, --excel",
                      result.stderr)

    def test_missing_configuration_names_the_path_or_none(self):
        for args, shown in (([], "None"), (["-c", "nowhere.yaml"], "nowhere.yaml")):
            result = harness.run_program("generate", *args, cwd=self.scratch)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stderr.splitlines(), [
                f"generator.generate:ERROR Configuration file not found: {shown}",
                "generator.generate:ERROR You can generate an example file with 'generate --example-config'",
                f"FileNotFoundError: Configuration file not found: {shown}",
            ])

    def test_verbosity_options_switch_layout_and_level(self):
        quiet = harness.run_program("generate", "-q")
        self.assertEqual(quiet.stderr.splitlines()[0], "ERROR: Configuration file not found: None")
        silent = harness.run_program("generate", "-qqq")
        self.assertEqual(silent.stderr.splitlines(), ["FileNotFoundError: Configuration file not found: None"])
        debug = harness.run_program("generate", "-v")
        self.assertRegex(debug.stderr.splitlines()[0],
                         r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} ERROR generator.generate:\w+ "
                         r"Configuration file not found: None$")
        back = harness.run_program("generate", "-vq")
        self.assertEqual(back.stderr.splitlines()[0], "ERROR: Configuration file not found: None")

    def test_valid_configuration_alone_ends_successfully_without_output(self):
        path = self.write("config.yaml", VALID_CONFIG)
        result = harness.run_program("generate", "-c", path, cwd=self.scratch)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(sorted(p.name for p in self.scratch.iterdir()), ["config.yaml"])

    def test_configuration_directory_fails_in_the_loader(self):
        result = harness.run_program("generate", "-c", self.scratch)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is a directory", result.stderr)

    def test_bad_configuration_gets_one_line_naming_file_and_key(self):
        cases = {
            "missing key": (VALID_CONFIG.replace("  username: admin\n", ""),
                            r"KeyError: .*bad\.yaml: controller\.username: missing required key"),
            "wrong type": (VALID_CONFIG.replace("hpe: true", "hpe: 'yes'"),
                           r"TypeError: .*bad\.yaml: defaults\.hpe: expected true or false, got a text"),
            "unknown key": (VALID_CONFIG.replace("hpe: true", "hpee: true"),
                            r"ValueError: .*bad\.yaml: defaults\.hpee: unknown key"),
            "malformed cidr": (VALID_CONFIG + "  filter_cidrs: [10.0.0.0/8, 10.1.2.3/16]\n",
                               r"ValueError: .*bad\.yaml: defaults\.filter_cidrs\[1\]: \"10\.1\.2\.3/16\" .*host bits"),
            "octal account number": (VALID_CONFIG.replace('"012345678901"', "012345670123"),
                                     r"ValueError: .*bad\.yaml: account_ids\[0\]: read as the number 1402433619, "
                                     r"which is not a 12-digit AWS account number"),
            "short account number": (VALID_CONFIG.replace('"012345678901"', '"12345"'),
                                     r"ValueError: .*bad\.yaml: account_ids\[0\]: \"12345\" is not a 12-digit"),
            "bad region": (VALID_CONFIG.replace("[us-east-1]", "[US East]"),
                           r"ValueError: .*bad\.yaml: aws_regions\[0\]: \"US East\" is not an AWS region"),
            # Long enough to overflow the stack of a recursive pattern matcher.
            "long region": (VALID_CONFIG.replace("[us-east-1]", "[us" + "-east" * 100_000 + "-1x]"),
                            r"ValueError: .*bad\.yaml: aws_regions\[0\]: \"us-east-east.*-1x\" is not an AWS region"),
            "not a mapping": ("- a\n- b\n", r"TypeError: .*mapping .*bad\.yaml, got a sequence"),
        }
        for name, (text, pattern) in cases.items():
            with self.subTest(name):
                path = self.write("bad.yaml", text)
                result = harness.run_program("generate", "-c", path)
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertRegex(lines[0], pattern)

    def test_optional_texts_may_be_left_empty(self):
        config = self.write("config.yaml", VALID_CONFIG + '  transit_gw_name: ""\n  spoke_gw_size: ""\n'
                                                          '  domain: ""\n')
        result = harness.run_program("generate", "-c", config)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        config = self.write("config.yaml", VALID_CONFIG.replace("role_name: discovery", 'role_name: ""'))
        result = harness.run_program("generate", "-c", config)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, r"ValueError: .*config\.yaml: defaults\.role_name: must not be empty")

    def test_help_lists_every_option_and_ends_with_an_example(self):
        result = harness.run_program("generate", "--help")
        self.assertEqual(result.returncode, 0, result.stderr)
        for option in ("--example-config", "-c config_file, --config config_file", "-d discovery_file",
                       "-e excel_file", "--version", "--verbose, -v", "--quiet, -q"):
            self.assertIn(option, result.stdout)
        self.assertTrue(result.stdout.endswith(
            "example:\n  generate --example-config > config.yaml     # then edit it\n"
            "  halvane_controller_password=... generate -c config.yaml -d discovery.yaml -e discovery.xlsx\n"),
            result.stdout)

    def test_unreachable_controller_ends_the_run_with_the_address_it_tried(self):
        port = harness.free_port()
        config = self.write("config.yaml", VALID_CONFIG.replace("ip: 127.0.0.1", f"ip: 127.0.0.1:{port}"))
        out = self.scratch / "discovery.yaml"
        result = harness.run_program("generate", "-c", config, "-d", out,
                                     extra_env={"halvane_controller_password": "secret"})
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1],
                         f"HalvaneError: The Halvane Controller did not answer the login request "
                         f"(POST https://127.0.0.1:{port}/v1/api): POST https://127.0.0.1:{port}/v1/api: "
                         f"Failed to connect to 127.0.0.1 port {port} after 0 ms: Couldn't connect to server")
        self.assertFalse(out.exists())


if __name__ == "__main__":
    harness.main()
