"""The built generate program against moto_server and the controller stand-in: three accounts (one
refuses the role, one the controller does not know), two regions, VPCs with secondary blocks in and
out of state "associated", IPv6-only subnets and Name tags with spaces and multi-byte characters;
and a run whose AWS identity comes from IAM Identity Center through a role profile, with every
request through a company proxy that inspects TLS."""

import json
import os
import pty
import select
import subprocess
import textwrap
import time
import urllib.parse

import yaml

from support import harness
from support.controller_stand_in import ControllerStandIn
from support.moto import MotoEstateTestCase, role_arn
from support.proxy_stand_in import ProxyStandIn
from support.sso_stand_in import SsoStandIn, utc_in, write_token_cache
from support.tls import CertificateAuthority
from support.workbook import read_rows

ALPHA, BETA, GAMMA = "111111111111", "222222222222", "033333333333"
DELTA = "444444444444"  # its role may not list VPCs
OPERATOR_ACCOUNT = "555555555555"
ROLE = "Discovery"
PASSWORD = "s3cret&=+% ü"
LONG_NAME = "Réseau de production très étendu"  # 32 characters, 36 bytes


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
        moto.add_account(OPERATOR_ACCOUNT, "Operator")  # the role an operator's profile assumes
        moto.enable_signature_checks()

    def setUp(self):
        super().setUp()
        self.controller = ControllerStandIn(self.scratch, username="admin", password=PASSWORD).start()
        self.addCleanup(self.controller.stop)

    def write_config(self, extra_defaults="", accounts=(ALPHA, BETA, GAMMA)):
        path = self.scratch / "config.yaml"
        path.write_text(textwrap.dedent(f"""\
            controller:
              ip: "{self.controller.address}"
              username: admin
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
            """)
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
        config = self.write_config("add_vpc_cidr: true\n")
        discovery, workbook = self.scratch / "d.yaml", self.scratch / "w.xlsx"
        result = self.generate("-c", config, "-e", workbook, "-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
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

    def test_sso_sign_in_as_source_of_a_role_profile_through_a_tls_inspecting_proxy(self):
        ca = CertificateAuthority(self.scratch / "ca")
        aws_host = "aws.example.test:443"  # resolved by the proxy only: moto behind its inspection
        moto_address = ("127.0.0.1", urllib.parse.urlsplit(self.moto.url).port)
        with SsoStandIn(self.scratch, ca) as sso, ProxyStandIn(ca, inspect={aws_host: moto_address}) as proxy:
            # The portal hands out temporary credentials of a role, as the real one does.
            role = self.moto.role_session(self.key, self.secret, role_arn(GAMMA, ROLE))
            sso.grant(GAMMA, "PlatformTeam", role)
            token = sso.issue_access_token()
            write_token_cache(self.scratch, "corp", token, utc_in(hours=8))
            aws_config = self.scratch / "aws-config"
            aws_config.write_text(textwrap.dedent(f"""\
                [sso-session corp]
                sso_start_url = https://corp.awsapps.com/start
                sso_region = eu-west-1
                [profile platform]
                sso_session = corp
                sso_account_id = {GAMMA}
                sso_role_name = PlatformTeam
                [profile scanner]
                role_arn = {role_arn(OPERATOR_ACCOUNT, "Operator")}
                source_profile = platform
                ca_bundle = {ca.cert}
                """))
            env = self.environment(HOME=str(self.scratch), AWS_CONFIG_FILE=str(aws_config), AWS_PROFILE="scanner",
                                   AWS_ENDPOINT_URL="https://aws.example.test", AWS_ENDPOINT_URL_SSO=sso.url,
                                   HTTPS_PROXY=proxy.url, NO_PROXY="", no_proxy="")
            del env["AWS_ACCESS_KEY_ID"], env["AWS_SECRET_ACCESS_KEY"]
            out = self.scratch / "discovery.yaml"
            result = self.generate("-c", self.write_config(accounts=(ALPHA, GAMMA)), "-v", "-v", "-d", out, env=env)
            self.assertEqual(result.returncode, 0, result.stderr)

        vpcs = self.expected_vpcs()
        accounts = yaml.safe_load(out.read_text())["account_info"]
        self.assertEqual([(a["account_id"], [r["vpcs"] for r in a["regions"]]) for a in accounts],
                         [(ALPHA, [vpcs[ALPHA, "us-east-1"], vpcs[ALPHA, "eu-west-1"]]),
                          (GAMMA, [vpcs[GAMMA, "us-east-1"], vpcs[GAMMA, "eu-west-1"]])])
        self.assertIn("GetRoleCredentials", sso.operations())
        # The controller, the portal and AWS were all reached through the proxy.
        sso_host = urllib.parse.urlsplit(sso.url).netloc
        for target in (aws_host, self.controller.address, sso_host):
            self.assertGreater(proxy.tunnels[target], 0, f"{target}: {dict(proxy.tunnels)}")
        self.assertEqual(proxy.refused, 0)
        self.assertIn("DEBUG", result.stderr)
        for secret in (token, role["secretAccessKey"], role["sessionToken"], PASSWORD):
            self.assertNotIn(secret, result.stdout + result.stderr)


if __name__ == "__main__":
    harness.main()
