"""The generate program's command line, example configuration and configuration checks, and its
session with a hostile controller."""

import os
import pathlib
import re
import stat
import textwrap
import time

from support import harness
from support.controller_stand_in import ControllerStandIn, certificate_fingerprint, make_certificate

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
                         r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} ERROR generator.generate:main "
                         r"Configuration file not found: None$")
        back = harness.run_program("generate", "-vq")
        self.assertEqual(back.stderr.splitlines()[0], "ERROR: Configuration file not found: None")

    def test_valid_configuration_alone_ends_successfully_and_says_what_to_add(self):
        path = self.write("config.yaml", VALID_CONFIG)
        result = harness.run_program("generate", "-c", path, cwd=self.scratch)
        self.assertEqual((result.returncode, result.stdout), (0, ""))
        self.assertEqual(result.stderr.splitlines(), [
            f"generator.generate:WARNING Configuration '{path}' read; nothing to scan for: add -d discovery.yaml "
            "(discovery file), -e discovery.xlsx (workbook), -r address-map.html (address map) or --verify "
            "discovery.yaml (check an earlier discovery file)"])
        self.assertEqual(sorted(p.name for p in self.scratch.iterdir()), ["config.yaml"])

    def test_configuration_directory_device_or_pipe_is_refused_at_once_in_the_loader(self):
        result = harness.run_program("generate", "-c", self.scratch)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is a directory", result.stderr)
        # Neither an endless device nor a named pipe that nobody writes holds the run up.
        pipe = self.scratch / "pipe.yaml"
        os.mkfifo(pipe)
        config = self.write("config.yaml", VALID_CONFIG)
        runs = {("-c", "/dev/zero"): "OSError: Cannot read /dev/zero: it is a character device, not a regular file",
                ("-c", pipe): f"OSError: Cannot read {pipe}: it is a named pipe, not a regular file",
                ("-c", config, "--verify", pipe): f"OSError: Cannot read {pipe}: it is a named pipe, not a regular file"}
        for args, message in runs.items():
            with self.subTest(args[-1]):
                started = time.monotonic()
                result = harness.run_program("generate", *args, timeout=60)
                self.assertLess(time.monotonic() - started, 30)
                self.assertEqual((result.returncode, result.stderr.splitlines()[-1]), (1, message))
        huge = self.write("huge.yaml", "")
        os.truncate(huge, 9 << 20)
        result = harness.run_program("generate", "-c", huge)
        self.assertEqual(result.stderr.splitlines()[-1],
                         f"ValueError: Cannot read {huge}: it is larger than 8 MiB, the limit of a YAML file")

    def test_bad_configuration_gets_one_line_naming_file_and_key(self):
        cases = {
            "missing key": (VALID_CONFIG.replace("  username: admin\n", ""),
                            r"KeyError: .*bad\.yaml: controller\.username: missing required key"),
            "wrong type": (VALID_CONFIG.replace("hpe: true", "hpe: 'yes'"),
                           r"TypeError: .*bad\.yaml: defaults\.hpe: expected true or false, got a text"),
            "unknown key": (VALID_CONFIG.replace("hpe: true", "hpee: true"),
                            r"ValueError: .*bad\.yaml: defaults\.hpee: unknown key"),
            "malformed cidr": (VALID_CONFIG + "  filter_cidrs: [10.0.0.0/8, 10.1.2.3/16]\n",
                               r"ValueError: .*bad\.yaml: defaults\.filter_cidrs\[1\]: '10\.1\.2\.3/16' .*host bits "
                               r"are set \(the network would be 10\.1\.0\.0/16\)"),
            "reserved range": (VALID_CONFIG + "reserved_cidrs: [10.0.0.0/24, 10.0.1.0/33]\n",
                               r"ValueError: .*bad\.yaml: reserved_cidrs\[1\]: '10\.0\.1\.0/33' .*prefix length"),
            "external ranges": (VALID_CONFIG + "external_cidrs: 192.168.0.0/16\n",
                                r"TypeError: .*bad\.yaml: external_cidrs: expected a list, got a text"),
            "octal account number": (VALID_CONFIG.replace('"012345678901"', "012345670123"),
                                     r"ValueError: .*bad\.yaml: account_ids\[0\]: read as the number 1402433619, "
                                     r"which is not a 12-digit AWS account number"),
            # Twelve digits, but not the ones written (underscores and base 60 are read the same way).
            "hexadecimal account number": (VALID_CONFIG.replace('"012345678901"', "0x19DEBD01C7"),
                                           r"ValueError: .*bad\.yaml: account_ids\[0\]: written as 0x19DEBD01C7, "
                                           r"which is read as the number 111111111111; .* so write account "
                                           r"numbers in quotes"),
            "short account number": (VALID_CONFIG.replace('"012345678901"', '"12345"'),
                                     r"ValueError: .*bad\.yaml: account_ids\[0\]: \"12345\" is not a 12-digit"),
            # A slip of copy and paste would have the account scanned and written twice.
            "repeated account": (VALID_CONFIG.replace("  - 123456789012\n", '  - 123456789012\n  - "012345678901"\n'),
                                 r"ValueError: .*bad\.yaml: account_ids\[2\]: \"012345678901\" is listed twice "
                                 r"\(first as account_ids\[0\]\); list each account once$"),
            "repeated region": (VALID_CONFIG.replace("[us-east-1]", "[us-east-1, eu-west-1, us-east-1]"),
                                r"ValueError: .*bad\.yaml: aws_regions\[2\]: \"us-east-1\" is listed twice "
                                r"\(first as aws_regions\[0\]\); list each region once$"),
            # A line break in a value stays on the message's one line.
            "line break in a unit": (VALID_CONFIG.replace('account_ids:\n  - "012345678901"\n  - 123456789012\n',
                                                          'account_ids: organization\n'
                                                          'organization: {ous: ["ou-ab12-cd34ef56\\nINFO forged"]}\n'),
                                     r"ValueError: .*bad\.yaml: organization\.ous\[0\]: \"ou-ab12-cd34ef56\\nINFO "
                                     r"forged\" is not an organizational unit id"),
            "bad region": (VALID_CONFIG.replace("[us-east-1]", "[US East]"),
                           r"ValueError: .*bad\.yaml: aws_regions\[0\]: \"US East\" is not an AWS region"),
            # Long enough to overflow the stack of a recursive pattern matcher.
            "long region": (VALID_CONFIG.replace("[us-east-1]", "[us" + "-east" * 100_000 + "-1x]"),
                            r"ValueError: .*bad\.yaml: aws_regions\[0\]: \"us-east-east.*-1x\" is not an AWS region"),
            "not a mapping": ("- a\n- b\n", r"TypeError: .*mapping .*bad\.yaml, got a sequence"),
            "short fingerprint": (VALID_CONFIG.replace("username: admin", "username: admin\n  certificate_sha256: AB:CD"),
                                  r"ValueError: .*bad\.yaml: controller\.certificate_sha256: \"AB:CD\" is not a "
                                  r"SHA-256 fingerprint"),
            "missing bundle": (VALID_CONFIG.replace("username: admin", "username: admin\n  ca_file: nowhere.pem"),
                               r"FileNotFoundError: .*bad\.yaml: controller\.ca_file: no such file: .*nowhere\.pem"),
            "bundle without certificate": (VALID_CONFIG.replace("username: admin", "username: admin\n  ca_file: bad.yaml"),
                                           r"ValueError: .*bad\.yaml: controller\.ca_file: .*bad\.yaml holds no PEM"),
            "pin and bundle": (VALID_CONFIG.replace("username: admin", "username: admin\n  ca_file: x.pem\n"
                                                    "  certificate_sha256: " + "ab" * 32),
                               r"ValueError: .*bad\.yaml: controller\.certificate_sha256: give either ca_file or "
                               r"certificate_sha256, not both"),
            "below a second": (VALID_CONFIG.replace("username: admin", "username: admin\n  timeout: 0.0001"),
                               r"ValueError: .*bad\.yaml: controller\.timeout: must be a number of seconds from 1 to 86400"),
            "session too short": (VALID_CONFIG + "assume_role: {duration_seconds: 899}\n",
                                  r"ValueError: .*bad\.yaml: assume_role\.duration_seconds: must be 900 to 43200 "
                                  r"seconds, got 899$"),
            "session beyond 64 bits": (VALID_CONFIG + "assume_role: {duration_seconds: 18446744073709551615}\n",
                                       r"ValueError: .*bad\.yaml: assume_role\.duration_seconds: must be 900 to "
                                       r"43200 seconds, got 18446744073709551615$"),
            "session in minutes": (VALID_CONFIG + "assume_role: {duration_seconds: 60m}\n",
                                   r"TypeError: .*bad\.yaml: assume_role\.duration_seconds: expected a whole number"),
            # The external ID is half a secret: the message does not repeat it.
            "external id with a blank": (VALID_CONFIG + "assume_role: {external_id: 'Zq7 secret'}\n",
                                         r"ValueError: .*bad\.yaml: assume_role\.external_id: must be 2 to 1224 "
                                         r"characters of letters, digits and _ \+ = , \. @ : / -$"),
            "session name with a blank": (VALID_CONFIG + "assume_role: {session_name: 'network scan'}\n",
                                          r"ValueError: .*bad\.yaml: assume_role\.session_name: must be 2 to 64 "),
            "patience beyond an hour": (VALID_CONFIG + "throttling_patience: 3601\n",
                                        r"ValueError: .*bad\.yaml: throttling_patience: must be a number of seconds "
                                        r"from 0 to 3600$"),
            "unknown assume_role key": (VALID_CONFIG + "assume_role: {mfa_serial: x}\n",
                                        r"ValueError: .*bad\.yaml: assume_role\.mfa_serial: unknown key \(expected "
                                        r"one of: external_id, session_name, duration_seconds\)"),
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
        self.assertEqual((result.returncode, len(result.stderr.splitlines())), (0, 1), result.stderr)
        self.assertIn("read; nothing to scan for", result.stderr)
        config = self.write("config.yaml", VALID_CONFIG.replace("role_name: discovery", 'role_name: ""'))
        result = harness.run_program("generate", "-c", config)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, r"ValueError: .*config\.yaml: defaults\.role_name: must not be empty")

    def test_help_lists_every_option_and_ends_with_an_example(self):
        result = harness.run_program("generate", "--help")
        self.assertEqual(result.returncode, 0, result.stderr)
        for option in ("--example-config", "-c config_file, --config config_file", "-d discovery_file",
                       "-e excel_file", "--verify discovery_file", "--version", "--verbose, -v", "--quiet, -q"):
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
        refused = "Couldn't connect to server (Connection refused)"
        self.assertEqual(result.stderr.splitlines()[-1],
                         f"HalvaneError: The Halvane Controller at 127.0.0.1:{port} did not answer: tried V2 (the "
                         f"get_api_token request, GET /v2/api: {refused}), then V1 (the login request, POST /v1/api: "
                         f"{refused})")
        self.assertIn("generator.generate:ERROR Failed to get V2 API token. Retry V1 login API.\n  The Halvane "
                      f"Controller did not answer the get_api_token request (GET https://127.0.0.1:{port}/v2/api): "
                      f"{refused}\n", result.stderr)
        self.assertFalse(out.exists())

    def test_unusable_output_paths_are_refused_before_the_controller_is_contacted(self):
        # Nothing listens on the controller's port: any contact would end in a connection error.
        port = harness.free_port()
        config = self.write("config.yaml", VALID_CONFIG.replace("ip: 127.0.0.1", f"ip: 127.0.0.1:{port}"))
        (self.scratch / "folder").mkdir()
        node = self.scratch / "node.xlsx"
        try:
            os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # what /dev/null is
            node_kind = "a character device"
        except PermissionError:
            os.mkfifo(node)
            node_kind = "a named pipe"
        (self.scratch / "old.yaml").write_text("account_info: []\n")
        (self.scratch / "link.xlsx").symlink_to("old.yaml")
        (self.scratch / "settings.xlsx").symlink_to("config.yaml")
        os.link(self.scratch / "old.yaml", self.scratch / "copy.yaml")
        # The address map's pages go to a folder named after it, which is replaced whole.
        (self.scratch / "taken_files").write_text("not a folder\n")
        (self.scratch / "held_files").mkdir()
        (self.scratch / "held_files" / "old.yaml").write_text("account_info: []\n")
        cases = {
            "directory": (["-d", "folder"],
                          "OSError: Cannot write --discovery 'folder': it is a directory, not a regular file"),
            "device node": (["-e", node.name], f"OSError: Cannot write --excel '{node.name}': it is {node_kind}, "
                                               "not a regular file"),
            "missing folder": (["-e", "nowhere/out.xlsx"],
                               "OSError: Cannot write --excel 'nowhere/out.xlsx': the folder 'nowhere' does not exist"),
            "unknown extension": (["-d", "out.txt"], "ValueError: Cannot write --discovery 'out.txt': no writer for "
                                                     "the extension '.txt' (known: .yaml, .yml)"),
            "workbook extension": (["-d", "out.xlsx"], "ValueError: Cannot write --discovery 'out.xlsx': a '.xlsx' "
                                                       "file holds rows of a table, not a document like this one "
                                                       "(known: .yaml, .yml)"),
            "the configuration through a link": (
                ["-e", "settings.xlsx"], "ValueError: Cannot write --excel 'settings.xlsx': it leads to the file "
                                         f"read by --config '{config}'; an output must not replace an input"),
            "the verified file through a hard link": (
                ["--verify", "old.yaml", "-d", "copy.yaml"],
                "ValueError: Cannot write --discovery 'copy.yaml': it leads to the file read by --verify 'old.yaml'; "
                "an output must not replace an input"),
            "same file through ..": (["-d", "old.yaml", "-e", "folder/../old.yaml"],
                                     "ValueError: --discovery 'old.yaml' and --excel 'folder/../old.yaml' name the "
                                     "same file; each output needs a file of its own"),
            "same file through a link": (["-d", "old.yaml", "-e", "link.xlsx"],
                                         "ValueError: --discovery 'old.yaml' and --excel 'link.xlsx' name the same "
                                         "file; each output needs a file of its own"),
            "the map's folder is a file": (["-r", "taken.html"], "OSError: Cannot write --report 'taken_files': it "
                                                                 "is a regular file, not a folder"),
            "the verified file in the map's folder": (
                ["--verify", "held_files/old.yaml", "-r", "held.html"],
                "ValueError: Cannot write --report 'held_files': it holds the file read by --verify "
                "'held_files/old.yaml', and it is replaced whole; an output must not replace an input"),
            "an output in the map's folder": (
                ["-d", "held_files/d.yaml", "-r", "held.html"],
                "ValueError: --discovery 'held_files/d.yaml' lies in the folder of --report 'held_files', which is "
                "replaced whole; each output needs a file of its own"),
        }
        for name, (args, message) in cases.items():
            with self.subTest(name):
                result = harness.run_program("generate", "-c", config, *args, cwd=self.scratch,
                                             extra_env={"halvane_controller_password": "secret"})
                self.assertEqual((result.returncode, result.stderr.splitlines()), (1, [message]))
        self.assertTrue(stat.S_ISCHR(node.stat().st_mode) or stat.S_ISFIFO(node.stat().st_mode))
        self.assertEqual((self.scratch / "old.yaml").read_text(), "account_info: []\n")
        self.assertEqual(config.read_text(), VALID_CONFIG.replace("ip: 127.0.0.1", f"ip: 127.0.0.1:{port}"))
        self.assertEqual(sorted(p.name for p in self.scratch.iterdir()),
                         ["config.yaml", "copy.yaml", "folder", "held_files", "link.xlsx", "node.xlsx", "old.yaml",
                          "settings.xlsx", "taken_files"])
        self.assertEqual(os.listdir(self.scratch / "held_files"), ["old.yaml"])


class HostileController(harness.ScratchTestCase):
    """generate against a controller that misbehaves: each run ends with status 1 and a message that
    names the request, in bounded time, and the discovery file of an earlier run stays as it was."""

    OLD_FILE = "account_info: []  # an earlier run\n"

    def run_against(self, controller, controller_keys=""):
        config = self.scratch / "config.yaml"
        config.write_text(VALID_CONFIG.replace("  ip: 127.0.0.1\n", f'  ip: "{controller.address}"\n'
                                               + textwrap.indent(textwrap.dedent(controller_keys), "  ")))
        out = self.scratch / "discovery.yaml"
        out.write_text(self.OLD_FILE)
        started = time.monotonic()
        result = harness.run_program("generate", "-c", config, "-d", out, timeout=120,
                                     extra_env={"halvane_controller_password": "pa55-w0rd"})
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(out.read_text(), self.OLD_FILE)
        self.assertNotIn("pa55-w0rd", result.stderr)
        return result.stderr.splitlines()[-1], time.monotonic() - started

    def test_answers_nested_too_deep_or_too_long_are_refused(self):
        with ControllerStandIn(self.scratch / "deep", hostile="deep") as controller:
            last, _ = self.run_against(controller)
        self.assertEqual(last, "HalvaneError: The Halvane Controller's answer to the login request (POST https://"
                               f"{controller.address}/v1/api) is nested more than 64 levels deep (HTTP status 200, "
                               "200000 bytes).")
        with ControllerStandIn(self.scratch / "huge", hostile="huge") as controller:
            last, seconds = self.run_against(controller)
        url = f"https://{controller.address}/v1/api"
        self.assertEqual(last, f"HalvaneError: Refused the Halvane Controller's answer to the login request (POST {url}): "
                               "the answer is larger than the limit of 16 MiB")
        self.assertLess(seconds, 60)

    def test_silent_or_trickling_controller_is_given_up_at_the_configured_limit(self):
        for mode in ("silent", "trickle"):
            with self.subTest(mode=mode), ControllerStandIn(self.scratch / mode, hostile=mode) as controller:
                last, seconds = self.run_against(controller, "timeout: 2\n")
                self.assertRegex(last, rf"^HalvaneError: The Halvane Controller at {re.escape(controller.address)} "
                                       r"did not answer: tried V2 \(the get_api_token request, GET /v2/api: .*\b2 s\b.*\), "
                                       r"then V1 \(the login request, POST /v1/api: .*\b2 s\b")
                # The token request and the login each wait their 2 s, no more.
                self.assertLess(seconds, 20)

    def test_pinned_or_checked_certificate_refuses_an_impostor_before_anything_is_sent(self):
        genuine, _ = make_certificate(self.scratch, "genuine")
        impostor = make_certificate(self.scratch, "impostor")
        pinned = certificate_fingerprint(genuine)
        presented = certificate_fingerprint(impostor[0])
        far_in = self.scratch / "far-in.pem"
        far_in.write_bytes(b"# padding\n" * (900 * 1024) + pathlib.Path(genuine).read_bytes())
        broken = self.scratch / "broken.pem"
        broken.write_bytes(b"-----BEGIN CERTIFICATE-----\nMIIBroken!!\n-----END CERTIFICATE-----\n" +
                           pathlib.Path(genuine).read_bytes())
        cases = {
            # The pin as openssl prints it, or without colons in lower case.
            "pinned": (f"certificate_sha256: {pinned}\n",
                       f"the server presented a certificate with SHA-256 fingerprint {presented}, not the pinned {pinned}"),
            "pinned-plain": (f"certificate_sha256: {pinned.replace(':', '').lower()}\n",
                             f"SHA-256 fingerprint {presented}, not the pinned {pinned}"),
            "ca-file": (f"ca_file: {genuine}\n",
                        f"the server's certificate (SHA-256 fingerprint {presented}) failed verification: "),
            # The authority far into a large bundle is still found and used.
            "ca-file-far-in": (f"ca_file: {far_in}\n", "failed verification: "),
            "ca-file-broken": (f"ca_file: {broken}\n",
                               f"the certificate authority file {broken} could not be read as PEM certificates"),
        }
        for name, (keys, detail) in cases.items():
            with self.subTest(name), ControllerStandIn(self.scratch / name, certificate=impostor) as controller:
                last, _ = self.run_against(controller, keys)
                login = f"login request (POST https://{controller.address}/v1/api)"
                self.assertTrue(last.startswith(
                    f"HalvaneError: Cannot check the Halvane Controller's certificate for the {login} with "
                    "controller.ca_file: " if name == "ca-file-broken" else
                    f"HalvaneError: Refused the Halvane Controller's certificate in the {login}, before "
                    "anything was sent: "), last)
                self.assertIn(detail, last)
                self.assertEqual(controller.requests, [], "no request, so no password, reached the impostor")

    def test_control_characters_of_the_refusal_reason_are_shown_escaped(self):
        reason = "Denied\x1b]0;owned\x07\r\nHalvaneError: all is well\x9b2J"
        with ControllerStandIn(self.scratch, token="v1", password="other", refusal_reason=reason) as controller:
            config = self.scratch / "config.yaml"
            config.write_text(VALID_CONFIG.replace("ip: 127.0.0.1", f'ip: "{controller.address}"'))
            result = harness.run_program("generate", "-c", config, "-d", self.scratch / "d.yaml",
                                         extra_env={"halvane_controller_password": "pa55-w0rd"})
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("The controller says: Denied\\x1b]0;owned\\x07\\r\\nHalvaneError: all is well\\u009b2J",
                      result.stderr)
        for forbidden in ("\x1b", "\x07", "\r", "\x9b", "\nHalvaneError: all is well"):
            self.assertNotIn(forbidden, result.stderr)


if __name__ == "__main__":
    harness.main()
