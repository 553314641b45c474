"""The built generate program against moto_server and the controller stand-in: three accounts (one
refuses the role, one the controller does not know), two regions, VPCs with secondary blocks in and
out of state "associated", IPv6-only subnets and Name tags with spaces and multi-byte characters;
the controller's certificate pinned or checked against its CA; and an AWS path that answers with
something else than AWS."""

import http.client
import json
import os
import pty
import select
import subprocess
import textwrap
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import yaml

from support import harness
from support.controller_stand_in import ControllerStandIn, certificate_fingerprint
from support.moto import MotoEstateTestCase, role_arn
from support.workbook import read_rows

ALPHA, BETA, GAMMA = "111111111111", "222222222222", "033333333333"
DELTA = "444444444444"  # its role may not list VPCs
ROLE = "Discovery"
# Well-formed XML that a captive portal or a proxy might answer with status 200.
PORTAL_PAGE = '<?xml version="1.0"?><html><body><p>Sign in to continue</p></body></html>'
OVERSIZED_BYTES = 70 << 20
PASSWORD = "s3cret&=+% ü"
LONG_NAME = "Réseau de production très étendu"  # 32 characters, 36 bytes


class _ProxyHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_POST(self):
        proxy = self.server.proxy
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if dict(urllib.parse.parse_qsl(body.decode())).get("Action") == proxy.action:
            self.close_connection = True
            self.send_response(200)
            if proxy.answer == "portal":
                data = PORTAL_PAGE.encode()
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
                return
            # No length: only the program's cap ends this answer (or the bound here).
            self.end_headers()
            chunk = b"<" * (1 << 20)
            try:
                for _ in range(OVERSIZED_BYTES // len(chunk)):
                    self.wfile.write(chunk)
            except OSError:
                pass  # the program stopped reading, as it should
            return
        # Everything else goes to moto as it came; the Host header stays, so the signature holds.
        upstream = http.client.HTTPConnection("127.0.0.1", proxy.upstream_port, timeout=60)
        try:
            upstream.request("POST", self.path, body, dict(self.headers.items()))
            answer = upstream.getresponse()
            data = answer.read()
        finally:
            upstream.close()
        self.send_response(answer.status)
        for name, value in answer.getheaders():
            if name.lower() not in ("content-length", "transfer-encoding", "connection", "date", "server"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class HostileAwsProxy:
    """Passes AWS requests on to moto, except those of `action`, which it answers with a portal page
    ("portal") or an endless body ("oversized")."""

    def __init__(self, upstream_url, action, answer):
        self.upstream_port = urllib.parse.urlsplit(upstream_url).port
        self.action, self.answer = action, answer
        self._server = ThreadingHTTPServer(("127.0.0.1", 0), _ProxyHandler)
        self._server.daemon_threads = True
        self._server.proxy = self
        self.url = f"http://127.0.0.1:{self._server.server_address[1]}"
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)


class GenerateAgainstMoto(MotoEstateTestCase):

    @classmethod
    def seed(cls):
        moto = cls.moto
        cls.key, cls.secret = moto.create_operator(denied_role_arns=[role_arn(BETA, ROLE)])
        for account in (ALPHA, BETA, GAMMA):
            moto.add_account(account, ROLE)
            for region in ("us-east-1", "eu-west-1"):
                moto.remove_default_vpcs(account, region)
        # A VPC with a free upper half, and an IPv6-only subnet that must not block anything.
        cls.east = moto.add_vpc(ALPHA, "us-east-1", "10.0.0.0/24", name="Production VPC East", ipv6=True)
        moto.add_subnet(ALPHA, "us-east-1", cls.east, "10.0.0.0/25")
        ipv6_block = moto.vpc_ipv6_block(ALPHA, "us-east-1", cls.east).replace("/56", "/64")
        moto.add_subnet(ALPHA, "us-east-1", cls.east, None, ipv6_block)
        # A full primary block: the gateway subnet comes from the associated secondary block.
        cls.full = moto.add_vpc(ALPHA, "us-east-1", "10.1.0.0/26", ["100.64.0.0/24"], name=LONG_NAME)
        moto.add_subnet(ALPHA, "us-east-1", cls.full, "10.1.0.0/26")
        moto.add_subnet(ALPHA, "us-east-1", cls.full, "100.64.0.0/27")
        # A secondary block that is no longer associated is neither listed nor searched.
        cls.gone = moto.add_vpc(ALPHA, "eu-west-1", "10.2.0.0/27", ["100.65.0.0/24"])
        moto.add_subnet(ALPHA, "eu-west-1", cls.gone, "10.2.0.0/28")
        ec2 = moto.client("ec2", ALPHA, "eu-west-1")
        vpc = ec2.describe_vpcs(VpcIds=[cls.gone])["Vpcs"][0]
        for association in vpc["CidrBlockAssociationSet"]:
            if association["CidrBlock"] == "100.65.0.0/24":
                ec2.disassociate_vpc_cidr_block(AssociationId=association["AssociationId"])
        cls.gamma = moto.add_vpc(GAMMA, "eu-west-1", "172.16.0.0/16", name="gamma")
        moto.add_account(DELTA, ROLE)
        moto.client("iam", DELTA).put_role_policy(RoleName=ROLE, PolicyName="no-vpcs", PolicyDocument=json.dumps(
            {"Version": "2012-10-17",
             "Statement": [{"Effect": "Deny", "Action": "ec2:DescribeVpcs", "Resource": "*"}]}))
        moto.enable_signature_checks()

    def setUp(self):
        super().setUp()
        self.controller = ControllerStandIn(self.scratch, username="admin", password=PASSWORD).start()
        self.addCleanup(self.controller.stop)

    def write_config(self, extra_defaults="", accounts=(ALPHA, BETA, GAMMA), controller_keys=""):
        path = self.scratch / "config.yaml"
        path.write_text(textwrap.dedent(f"""\
            controller:
              ip: "{self.controller.address}"
              username: admin
              {controller_keys}
            account_ids: {json.dumps(list(accounts))}
            aws_regions: [us-east-1, eu-west-1]
            defaults:
              role_name: {ROLE}
              hpe: false
              transit_gw_name: transit-east
            """) + textwrap.indent(textwrap.dedent(extra_defaults), "  "))
        return path

    def environment(self, **extra):
        return self.moto.environment(self.key, self.secret, **{"halvane_controller_password": PASSWORD, **extra})

    def generate(self, *args, env=None):
        return harness.run_program("generate", *args, env=env or self.environment(), timeout=300)

    def expected_vpcs(self):
        return {
            (ALPHA, "us-east-1"): [
                {"vpc_id": self.east, "hvn_cidr": "10.0.0.128/27", "spoke_gw_name": "Production_VPC_East-HVNGW",
                 "transit_gw_name": "transit-east"},
                {"vpc_id": self.full, "hvn_cidr": "100.64.0.32/27", "spoke_gw_name": "Réseau_de_production_tr-HVNGW",
                 "transit_gw_name": "transit-east"},
            ],
            (ALPHA, "eu-west-1"): [
                {"vpc_id": self.gone, "hvn_cidr": "", "spoke_gw_name": f"{self.gone}-HVNGW",
                 "transit_gw_name": "transit-east"},
            ],
            (GAMMA, "us-east-1"): [],
            (GAMMA, "eu-west-1"): [
                {"vpc_id": self.gamma, "hvn_cidr": "172.16.0.0/27", "spoke_gw_name": "gamma-HVNGW",
                 "transit_gw_name": "transit-east"},
            ],
        }

    def test_discovery_file_holds_every_entered_account_with_regions_and_vpcs(self):
        config = self.write_config()
        out = self.scratch / "discovery.yaml"
        result = self.generate("-c", config, "-d", out)
        self.assertEqual(result.returncode, 0, result.stderr)

        vpcs = self.expected_vpcs()
        expected = {"account_info": [
            {"account_id": ALPHA, "account_name": "prod-network", "hpe": False, "role_name": ROLE,
             "regions": [{"region": "us-east-1", "vpcs": vpcs[ALPHA, "us-east-1"]},
                         {"region": "eu-west-1", "vpcs": vpcs[ALPHA, "eu-west-1"]}]},
            {"account_id": GAMMA, "account_name": None, "hpe": False, "role_name": ROLE,
             "regions": [{"region": "us-east-1", "vpcs": []},
                         {"region": "eu-west-1", "vpcs": vpcs[GAMMA, "eu-west-1"]}]},
        ]}
        text = out.read_text(encoding="ascii")
        self.assertEqual(yaml.safe_load(text), expected)
        # Account numbers stay texts, keys keep the model's order, regions come last.
        self.assertIn(f'  - account_id: "{GAMMA}"\n    account_name: null\n    hpe: false\n'
                      f'    role_name: "{ROLE}"\n    regions:\n      - region: "us-east-1"\n        vpcs: []\n', text)
        self.assertIn('spoke_gw_name: "R\\xE9seau_de_production_tr-HVNGW"', text)
        self.assertIn('hvn_cidr: ""', text)

        self.assertIn(f"generator.generate:INFO Generating minimal discovery file: {out}", result.stderr)
        self.assertIn(f"generator.generate:ERROR - Failed to assume role into account {BETA} -- skipped",
                      result.stderr)
        self.assertIn("generator.generate:WARNING Could not compute hvn_cidr for vpc "
                      f"'{self.gone}': No available subnets with prefix 27", result.stderr)
        self.assertIn(f"generator.generate:INFO Exporting accounts to discovery file: {out}", result.stderr)
        self.assertNotIn(PASSWORD, result.stderr)

    def test_workbook_has_one_row_per_vpc_in_the_twenty_columns(self):
        config = self.write_config("""\
            managed_tgw: false
            filter_cidrs: [10.0.0.0/8, 192.168.0.0/16]
            gw_zones: []
            encrypt: true
            """, controller_keys=f"ca_file: {self.controller.certificate[0]}")
        out = self.scratch / "discovery.xlsx"
        result = self.generate("-c", config, "-e", out)
        self.assertEqual(result.returncode, 0, result.stderr)

        rows = read_rows(out)
        headers = rows[0]
        self.assertEqual(headers, [
            "account_id", "account_name", "hpe", "managed_tgw", "filter_cidrs", "spoke_gw_size", "role_name",
            "region", "vpc_id", "vpc_cidrs", "hvn_cidr", "gw_zones", "spoke_gw_tags", "domain", "encrypt",
            "inspection", "spoke_advertisement", "spoke_routes", "spoke_gw_name", "transit_gw_name"])
        records = [dict(zip(headers, row)) for row in rows[1:]]
        vpcs = self.expected_vpcs()
        expected_order = [(ALPHA, "us-east-1", v) for v in vpcs[ALPHA, "us-east-1"]] + \
                         [(ALPHA, "eu-west-1", v) for v in vpcs[ALPHA, "eu-west-1"]] + \
                         [(GAMMA, "eu-west-1", v) for v in vpcs[GAMMA, "eu-west-1"]]
        self.assertEqual([(r["account_id"], r["region"], r["vpc_id"], r["hvn_cidr"], r["spoke_gw_name"])
                          for r in records],
                         [(a, region, v["vpc_id"], v["hvn_cidr"] or None, v["spoke_gw_name"])
                          for a, region, v in expected_order])
        first = records[0]
        self.assertEqual(first["account_name"], "prod-network")
        self.assertIs(first["hpe"], False)
        self.assertIs(first["managed_tgw"], False)
        self.assertEqual(first["filter_cidrs"], "['10.0.0.0/8', '192.168.0.0/16']")
        self.assertEqual(first["gw_zones"], "[]")
        self.assertIs(first["encrypt"], True)
        for empty in ("spoke_gw_size", "spoke_gw_tags", "domain", "inspection", "spoke_advertisement",
                      "spoke_routes"):
            self.assertIsNone(first[empty], empty)
        self.assertEqual(first["vpc_cidrs"], "10.0.0.0/24")
        self.assertEqual(records[1]["vpc_cidrs"], "10.1.0.0/26,100.64.0.0/24")
        self.assertEqual(records[2]["vpc_cidrs"], "10.2.0.0/27")
        self.assertIsNone(records[3]["account_name"])

    def test_both_outputs_log_in_twice_and_write_the_discovery_file_first(self):
        fingerprint = certificate_fingerprint(self.controller.certificate[0])
        config = self.write_config("add_vpc_cidr: true\n", controller_keys=f"certificate_sha256: {fingerprint}")
        discovery, workbook = self.scratch / "d.yaml", self.scratch / "w.xlsx"
        result = self.generate("-v", "-c", config, "-e", workbook, "-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
        # The fingerprint shown at DEBUG is the one openssl prints, ready to be pinned.
        self.assertIn(f"Controller certificate SHA-256 fingerprint: {fingerprint}", result.stderr)
        self.assertEqual(len(self.controller.requests_for("login")), 2)
        self.assertLess(result.stderr.index("Exporting accounts to discovery file"),
                        result.stderr.index("Generating Excel file"))
        self.assertLess(discovery.stat().st_mtime_ns, workbook.stat().st_mtime_ns)
        for account in yaml.safe_load(discovery.read_text())["account_info"]:
            for region in account["regions"]:
                self.assertTrue(all(vpc["hvn_cidr"] == "" for vpc in region["vpcs"]))

    def test_refused_vpc_listing_skips_regions_in_the_discovery_file_and_ends_the_workbook_pass(self):
        config = self.write_config(accounts=(DELTA, GAMMA))
        discovery = self.scratch / "discovery.yaml"
        result = self.generate("-c", config, "-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
        for region in ("us-east-1", "eu-west-1"):
            self.assertIn(f"generator.generate:WARNING Error occured while scanning VPCs in region '{region}'.",
                          result.stderr)
        accounts = yaml.safe_load(discovery.read_text())["account_info"]
        self.assertEqual([(a["account_id"], a["regions"]) for a in accounts][0], (DELTA, []))
        self.assertEqual(accounts[1]["regions"][1]["vpcs"][0]["vpc_id"], self.gamma)

        workbook = self.scratch / "discovery.xlsx"
        result = self.generate("-c", config, "-v", "-e", workbook)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^ClientError: An error occurred \(AccessDenied\w*\) when calling the DescribeVpcs operation")
        self.assertFalse(workbook.exists())

    def test_aws_answers_that_are_not_aws_end_the_run_and_keep_the_old_file(self):
        config = self.write_config(accounts=(ALPHA,))
        out = self.scratch / "discovery.yaml"
        cases = {
            # Read as an answer, a portal page would mean "no subnets" and an hvn_cidr over a used block.
            ("DescribeSubnets", "portal"):
                "AWSClientError: The answer of the DescribeSubnets operation from {url} is not a "
                "DescribeSubnetsResponse document: its root is <html> (HTTP status 200, "
                f"{len(PORTAL_PAGE)} bytes)",
            ("DescribeVpcs", "oversized"):
                "AWSClientError: Refused the answer of the DescribeVpcs operation ({url}): POST {url}/: "
                "the answer is larger than the limit of 64 MiB",
        }
        for (action, answer), expected in cases.items():
            with self.subTest(action=action), HostileAwsProxy(self.moto.url, action, answer) as proxy:
                out.write_text("account_info: []  # an earlier run\n")
                result = self.generate("-c", config, "-d", out, env=self.environment(AWS_ENDPOINT_URL=proxy.url))
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stderr.splitlines()[-1], expected.format(url=proxy.url))
                self.assertEqual(out.read_text(), "account_info: []  # an earlier run\n")

    def test_wrong_controller_password_ends_the_run_before_any_file(self):
        config = self.write_config()
        out = self.scratch / "discovery.yaml"
        result = self.generate("-c", config, "-d", out, env=self.environment(halvane_controller_password="Not-The-Passw0rd"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("HalvaneError: ", result.stderr)
        self.assertNotIn("Not-The-Passw0rd", result.stderr)
        self.assertFalse(out.exists())

    def test_no_aws_credentials_names_where_it_looked_and_no_account_is_entered(self):
        config = self.write_config()
        env = self.environment()
        del env["AWS_ACCESS_KEY_ID"], env["AWS_SECRET_ACCESS_KEY"]
        out = self.scratch / "discovery.yaml"
        result = self.generate("-c", config, "-d", out, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("ERROR Unable to locate credentials. Looked in the environment variables AWS_ACCESS_KEY_ID",
                      result.stderr)
        for account in (ALPHA, BETA, GAMMA):
            self.assertIn(f"- Failed to assume role into account {account} -- skipped", result.stderr)
        self.assertIn("WARNING None of the 3 configured accounts could be entered", result.stderr)
        self.assertEqual(yaml.safe_load(out.read_text()), {"account_info": []})

        workbook = self.scratch / "discovery.xlsx"
        result = self.generate("-c", config, "-e", workbook, env=env)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1], rf"^IndexError: Cannot write workbook '{workbook}' from an empty list of rows")
        self.assertFalse(workbook.exists())

    def test_password_prompt_at_the_terminal_stands_on_a_line_of_its_own(self):
        config = self.write_config()
        env = self.environment()
        del env["halvane_controller_password"]
        argv = [str(harness.program("generate")), "-c", str(config), "-d", str(self.scratch / "tty.yaml")]
        pid, terminal = pty.fork()
        if pid == 0:  # the child: the pseudo-terminal is its controlling terminal and standard error
            os.execve(argv[0], argv, env)
        output, answered = b"", False
        deadline = time.monotonic() + 120
        try:
            while time.monotonic() < deadline:
                ready, _, _ = select.select([terminal], [], [], 1)
                if not ready:
                    continue
                try:
                    chunk = os.read(terminal, 65536)
                except OSError:  # the program ended and the terminal closed
                    break
                if not chunk:
                    break
                output += chunk
                if not answered and b"'s password:" in output:
                    os.write(terminal, PASSWORD.encode() + b"\n")
                    answered = True
        finally:
            os.close(terminal)
            _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, output.decode(errors="replace"))
        text = output.decode()
        prompt = f"Halvane Controller admin@{self.controller.address}'s password:"
        lines = text.replace("\r\n", "\n").split("\n")
        self.assertTrue(any(line.rpartition("\r\x1b[K")[2].startswith(prompt) for line in lines), repr(text))
        self.assertNotIn("found" + prompt, text)
        self.assertNotIn(PASSWORD, text, "the password is not echoed")
        self.assertTrue((self.scratch / "tty.yaml").exists())

    def test_status_line_on_a_terminal_only(self):
        config = self.write_config()
        plain = self.generate("-c", config, "-d", self.scratch / "plain.yaml")
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertNotIn("\x1b", plain.stderr)
        self.assertNotIn("\r", plain.stderr)

        primary, secondary = pty.openpty()
        try:
            process = subprocess.run([str(harness.program("generate")), "-c", str(config), "-d",
                                      str(self.scratch / "tty.yaml")], env=self.environment(),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=secondary,
                                     timeout=300)
            os.close(secondary)
            secondary = None
            output = b""
            while True:
                try:
                    chunk = os.read(primary, 65536)
                except OSError:  # the terminal is closed once the program ended
                    break
                if not chunk:
                    break
                output += chunk
        finally:
            if secondary is not None:
                os.close(secondary)
            os.close(primary)
        self.assertEqual(process.returncode, 0)
        text = output.decode()
        self.assertIn(f"discovery file: account 3 of 3 ({GAMMA}), region eu-west-1, 4 VPCs found", text)
        # Every log line starts on a clean line, and the status line is erased when the pass ends.
        for line in text.replace("\r\n", "\n").split("\n"):
            if "generator.generate:" in line:
                self.assertTrue(line.rpartition("\r\x1b[K")[2].startswith("generator.generate:"), repr(line))
        last_draw = text.rindex("VPCs found") + len("VPCs found")
        self.assertTrue(text[last_draw:].startswith("\r\x1b[K"), repr(text[last_draw:]))


if __name__ == "__main__":
    harness.main()
