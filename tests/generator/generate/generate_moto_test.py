"""The built generate program against moto_server and the controller stand-in: three accounts (one
refuses the role, one the controller does not know), two regions, VPCs with secondary blocks in and
out of state "associated", IPv6-only subnets and Name tags with spaces and multi-byte characters;
the controller's certificate pinned or checked against its CA; an AWS path that answers with
something else than AWS; a fourth account with hostile Name tags and controller name for the
address map, read back in chromium; and a run whose AWS identity comes from IAM Identity Center
through a role profile, with every request through a company proxy that inspects TLS."""

import http.client
import json
import os
import pty
import re
import subprocess
import textwrap
import time
import urllib.parse
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import yaml

from support import address_map, browser, harness
from support.aws_proxy import AwsProxy
from support.controller_stand_in import DEFAULT_ACCOUNTS, ControllerStandIn, certificate_fingerprint
from support.moto import DEFAULT_ACCOUNT, MotoEstateTestCase, role_arn
from support.proxy_stand_in import ProxyStandIn
from support.sso_stand_in import SsoStandIn, utc_in, write_token_cache
from support.tls import CertificateAuthority
from support.workbook import read_rows

ALPHA, BETA, GAMMA = "111111111111", "222222222222", "033333333333"
DELTA = "444444444444"  # its role may not list VPCs
OPERATOR_ACCOUNT = "666666666666"
MFA_DEVICE = "arn:aws:iam::123456789012:mfa/operator"
MFA_CODE = "428913"
ROLE = "Discovery"
# Well-formed XML that a captive portal or a proxy might answer with status 200.
PORTAL_PAGE = '<?xml version="1.0"?><html><body><p>Sign in to continue</p></body></html>'
OVERSIZED_BYTES = 70 << 20
PASSWORD = "s3cret&=+% ü"
LONG_NAME = "Réseau de production très étendu"  # 32 characters, 36 bytes
OLD_DISCOVERY_FILE = 'account_info:\n  - account_id: "111111111111"\n'  # a good file from an earlier run
EPSILON = "555555555555"  # hostile texts, for the address map
SCRIPT_NAME = '<script>document.title="owned"</script>'
IMG_NAME = '"><img src=x onerror=alert(1)>'
HOSTILE_ACCOUNT_NAME = "<b>ops</b> & 'core'"
ZETA, ETA = "777777777777", "888888888888"  # overlapping VPCs, default VPCs kept
LAB_COPIES = 9  # more VPCs with the default VPC's block, so that a WARNING counts the rest


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


class HostileAwsProxy(harness.ThreadedServer):
    """Passes AWS requests on to moto, except those of `action`, which it answers with a portal page
    ("portal") or an endless body ("oversized")."""

    def __init__(self, upstream_url, action, answer):
        self.upstream_port = urllib.parse.urlsplit(upstream_url).port
        self.action, self.answer = action, answer
        self.url = None

    def start(self):
        server = ThreadingHTTPServer(("127.0.0.1", 0), _ProxyHandler)
        server.proxy = self
        self.url = f"http://127.0.0.1:{self.serve(server)}"
        return self


class GenerateAgainstMoto(MotoEstateTestCase):

    @classmethod
    def seed_govcloud(cls):
        """GovCloud keeps its identities apart from the commercial partition: an operator of its own
        and ALPHA's role there."""
        everything = json.dumps(
            {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "*", "Resource": "*"}]})
        operator = cls.moto.client("iam", region="us-gov-west-1")
        operator.create_user(UserName="gov-operator")
        operator.put_user_policy(UserName="gov-operator", PolicyName="all", PolicyDocument=everything)
        key = operator.create_access_key(UserName="gov-operator")["AccessKey"]
        cls.gov_key, cls.gov_secret = key["AccessKeyId"], key["SecretAccessKey"]
        trust = {"Version": "2012-10-17", "Statement": [{
            "Effect": "Allow", "Principal": {"AWS": f"arn:aws-us-gov:iam::{DEFAULT_ACCOUNT}:root"},
            "Action": "sts:AssumeRole"}]}
        role = cls.moto.client("iam", ALPHA, "us-gov-west-1")
        role.create_role(RoleName=ROLE, AssumeRolePolicyDocument=json.dumps(trust))
        role.put_role_policy(RoleName=ROLE, PolicyName="scan", PolicyDocument=everything)

    @classmethod
    def seed(cls):
        moto = cls.moto
        cls.key, cls.secret = moto.create_operator(denied_role_arns=[role_arn(BETA, ROLE)])
        cls.seed_govcloud()
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
        moto.add_account(EPSILON, ROLE)
        for region in ("us-east-1", "eu-west-1"):
            moto.remove_default_vpcs(EPSILON, region)
        # Two adjacent subnets that the map draws as one run, and one apart from them.
        cls.scripted = moto.add_vpc(EPSILON, "us-east-1", "10.9.0.0/24", name=SCRIPT_NAME)
        for cidr in ("10.9.0.0/26", "10.9.0.64/26", "10.9.0.192/27"):
            moto.add_subnet(EPSILON, "us-east-1", cls.scripted, cidr)
        cls.imaged = moto.add_vpc(EPSILON, "us-east-1", "10.8.0.0/16", name=IMG_NAME)
        # Overlaps across two accounts and two regions: the same /16 twice and a /17 inside it,
        # beside the default VPC that moto keeps in each of the four regions and lab copies of it.
        for account in (ZETA, ETA):
            moto.add_account(account, ROLE)
        cls.shared_a = moto.add_vpc(ZETA, "us-east-1", "10.50.0.0/16")
        cls.inner = moto.add_vpc(ZETA, "eu-west-1", "10.50.128.0/17")
        cls.shared_b = moto.add_vpc(ETA, "eu-west-1", "10.50.0.0/16")
        cls.labs = [moto.add_vpc(ETA, "eu-west-1", "172.31.0.0/16") for _ in range(LAB_COPIES)]
        # Over a partner's network (an external range) and with room only in a reserved range.
        cls.partner = moto.add_vpc(ETA, "us-east-1", "192.168.10.0/24")
        cls.planned = moto.add_vpc(ZETA, "eu-west-1", "10.60.0.0/24")
        moto.add_subnet(ZETA, "eu-west-1", cls.planned, "10.60.0.0/27")
        cls.held = moto.add_vpc(ETA, "eu-west-1", "10.61.0.0/26")
        moto.add_subnet(ETA, "eu-west-1", cls.held, "10.61.0.0/27")
        cls.default_vpcs = [
            moto.client("ec2", account, region).describe_vpcs(
                Filters=[{"Name": "is-default", "Values": ["true"]}])["Vpcs"][0]["VpcId"]
            for account in (ZETA, ETA) for region in ("us-east-1", "eu-west-1")]
        moto.add_account(DELTA, ROLE)
        moto.client("iam", DELTA).put_role_policy(RoleName=ROLE, PolicyName="no-vpcs", PolicyDocument=json.dumps(
            {"Version": "2012-10-17",
             "Statement": [{"Effect": "Deny", "Action": "ec2:DescribeVpcs", "Resource": "*"}]}))
        moto.add_account(OPERATOR_ACCOUNT, "Operator")  # the role an operator's profile assumes
        cls.seed_organization()
        moto.enable_signature_checks()

    @classmethod
    def seed_organization(cls):
        """An organization run from the operator's account: in its root a member and a closed
        account; unit "network" with a hub account and, nested in it, unit "prod" with more accounts
        than one ListAccountsForParent page holds (moto gives 20); a role that may read it."""
        moto, org = cls.moto, cls.moto.client("organizations")
        org.create_organization(FeatureSet="ALL")
        root = org.list_roots()["Roots"][0]["Id"]
        cls.network_ou = org.create_organizational_unit(ParentId=root, Name="network")["OrganizationalUnit"]["Id"]
        prod_ou = org.create_organizational_unit(ParentId=cls.network_ou, Name="prod")["OrganizationalUnit"]["Id"]

        def member(name, parent):
            account = org.create_account(AccountName=name, Email=f"{name}@example.com")["CreateAccountStatus"]["AccountId"]
            if parent != root:
                org.move_account(AccountId=account, SourceParentId=root, DestinationParentId=parent)
            moto.add_account(account, ROLE)
            return account

        cls.org_member = member("member", root)
        cls.org_closed = member("closed", root)
        org.close_account(AccountId=cls.org_closed)
        cls.org_hub = member("hub", cls.network_ou)
        cls.org_prod = [member(f"prod-{n}", prod_ou) for n in range(21)]
        # In the operator's own account, moto lets only a role that trusts the user itself be assumed.
        trust = {"Version": "2012-10-17", "Statement": [{
            "Effect": "Allow", "Principal": {"AWS": f"arn:aws:iam::{DEFAULT_ACCOUNT}:user/operator"},
            "Action": "sts:AssumeRole"}]}
        iam = moto.client("iam")
        iam.create_role(RoleName="OrganizationReader", AssumeRolePolicyDocument=json.dumps(trust))
        iam.put_role_policy(RoleName="OrganizationReader", PolicyName="read", PolicyDocument=json.dumps(
            {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "organizations:List*", "Resource": "*"}]}))
        cls.org_reader = role_arn(DEFAULT_ACCOUNT, "OrganizationReader")

    def setUp(self):
        super().setUp()
        accounts = DEFAULT_ACCOUNTS + [{"account_number": EPSILON, "account_name": HOSTILE_ACCOUNT_NAME,
                                        "cloud_type": 1}]
        self.controller = ControllerStandIn(self.scratch, username="admin", password=PASSWORD,
                                            accounts=accounts).start()
        self.addCleanup(self.controller.stop)

    def write_config(self, extra_defaults="", accounts=(ALPHA, BETA, GAMMA), controller_keys="", sections="",
                     regions=("us-east-1", "eu-west-1")):
        path = self.scratch / "config.yaml"
        path.write_text(textwrap.dedent(f"""\
            controller:
              ip: "{self.controller.address}"
              username: admin
              {controller_keys}
            account_ids: {json.dumps(accounts if isinstance(accounts, str) else list(accounts))}
            aws_regions: {json.dumps(list(regions))}
            defaults:
              role_name: {ROLE}
              hpe: false
              transit_gw_name: transit-east
            """) + textwrap.indent(textwrap.dedent(extra_defaults), "  ") + textwrap.dedent(sections))
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
        # The output is a link to an older file: that file is replaced and the link stays.
        (self.scratch / "kept").mkdir()
        (self.scratch / "kept" / "discovery.yaml").write_text("account_info: []\n")
        out = self.scratch / "discovery.yaml"
        out.symlink_to("kept/discovery.yaml")
        report = self.scratch / "map.html"
        result = self.generate("-c", config, "-d", out, "-r", report)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(out.is_symlink())
        self.assertEqual(sorted(p.name for p in (self.scratch / "kept").iterdir()), ["discovery.yaml"])

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
        # Each file that misses the account says so, last.
        self.assertEqual(result.stderr.splitlines()[-2:],
                         [f"generator.generate:WARNING {product} is incomplete: 1 of 3 accounts could not be entered "
                          "(see the errors above)" for product in (f"Discovery file '{out}'", f"Address map '{report}'")])
        self.assertNotIn(PASSWORD, result.stderr)

        # Standard error that goes away (`generate ... 2>&1 | head -1`) ends neither the run nor its file.
        piped = self.scratch / "piped.yaml"
        process = subprocess.Popen([str(harness.program("generate")), "-c", str(config), "-v", "-d", str(piped)],
                                   env=self.environment(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertIn(b"generator", process.stdout.readline())
        process.stdout.close()
        self.assertEqual(process.wait(timeout=300), 0)
        self.assertEqual(yaml.safe_load(piped.read_text()), expected)
        self.assertEqual([p.name for p in self.scratch.iterdir() if p.name.startswith(".")], [])

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

    def test_one_login_and_one_scan_feed_every_output(self):
        fingerprint = certificate_fingerprint(self.controller.certificate[0])
        controller_keys = f"certificate_sha256: {fingerprint}"
        refusing = self.write_config(accounts=(ALPHA, BETA, DELTA, GAMMA), controller_keys=controller_keys)
        with AwsProxy(self.moto.url) as proxy:
            alone = self.run_through(proxy, "-c", refusing, "-d", self.scratch / "alone.yaml")
            self.assertEqual(alone.returncode, 0, alone.stderr)
            one_scan = proxy.counts()
            logins = len(self.controller.requests_for("login"))
            d, w, m = self.scratch / "d.yaml", self.scratch / "w.xlsx", self.scratch / "m.html"
            result = self.run_through(proxy, "-v", "-c", refusing, "-d", d, "-e", w, "-r", m)
            both = proxy.counts()
            # Without an assume_role section: the one session name, the service's lifetime.
            self.assertEqual(set(proxy.role_sessions()), {("AssumeRoleSession1", None)})
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(len(self.controller.requests_for("login")), logins + 1)
        self.assertEqual({action: both[action] - one_scan.get(action, 0) for action in both}, one_scan,
                         "the requests of one scan")
        self.assertEqual(one_scan["AssumeRole"], 4)
        # The fingerprint shown at DEBUG is the one openssl prints, ready to be pinned.
        self.assertIn(f"Controller certificate SHA-256 fingerprint: {fingerprint}", result.stderr)
        for scan_message in (f"Discovering info for account {DELTA}\n",
                             f"- Failed to assume role into account {BETA} -- skipped\n"):
            self.assertEqual(result.stderr.count(scan_message), 1, scan_message)
        # With -v each message names the step its reader knows: main, the builder of the discovery
        # file (whose scan the others share), the workbook's builder for its rows.
        steps = {}
        for step, message in re.findall(r"^\S+ \S+ \w+ generator\.generate:(\w+) ([^:\n]+)", result.stderr,
                                        re.MULTILINE):
            steps.setdefault(message, set()).add(step)
        for step, messages in {
                "main": ["Generating minimal discovery file", "Generating address map", "Generating Excel file",
                         "Exporting accounts to discovery file", "Writing address map"],
                "generate_min_discovery_yaml": [
                    f"Discovering info for account {ALPHA}", f"- Failed to assume role into account {BETA} -- skipped",
                    "Error occured while scanning VPCs in region 'us-east-1'.", "Account Info data",
                    "VPC Data", "Region Data", "Account Data", "Accounts"],
                "generate_discovery_excel_data": ["Row Data"],
                "get_role_arn": ["Role ARN"], "_compute_hvn_cidr": ["Checking candidate subnet"]}.items():
            for message in messages:
                self.assertEqual(steps.get(message), {step}, message)
        # The files that leave the failed region out are written and say so; the workbook is not.
        self.assertEqual(d.read_bytes(), (self.scratch / "alone.yaml").read_bytes())
        self.assertTrue(m.exists())
        self.assertFalse(w.exists())
        tail = result.stderr.splitlines()[-3:]
        for line, product in zip(tail, (f"Discovery file '{d}'", f"Address map '{m}'")):
            self.assertTrue(line.endswith(f"{product} is incomplete: 1 of 4 accounts could not be entered and 2 of 6 "
                                          "regions could not be scanned (see the errors above)"), line)
        self.assertRegex(tail[2], r"^ClientError: An error occurred \(AccessDenied\w*\) when calling the "
                                  rf"DescribeVpcs operation: .* \(account {DELTA}, region us-east-1\)$")

        # Without the failing region, the three files are those of three separate runs.
        config = self.write_config(controller_keys=controller_keys)
        together = self.generate("-c", config, "-d", d, "-e", w, "-r", m)
        self.assertEqual(together.returncode, 0, together.stderr)
        messages = [line.partition(":")[2] for line in together.stderr.splitlines()]
        self.assertEqual([message for message in messages
                          if message.startswith(("INFO Generating", "INFO Exporting", "INFO Writing"))], [
            f"INFO Generating minimal discovery file: {d}", f"INFO Generating address map: {m}",
            f"INFO Generating Excel file: {w}", f"INFO Exporting accounts to discovery file: {d}",
            f"INFO Writing address map: {m}", f"INFO Exporting accounts to discovery excel: {w}"])
        self.assertEqual(messages[-3:], [f"WARNING {product} is incomplete: 1 of 3 accounts could not be entered "
                                         "(see the errors above)"
                                         for product in (f"Discovery file '{d}'", f"Address map '{m}'",
                                                         f"Workbook '{w}'")])
        for option, name in (("-d", "d1.yaml"), ("-e", "w1.xlsx"), ("-r", "m1.html")):
            alone = self.generate("-c", config, option, self.scratch / name)
            self.assertEqual(alone.returncode, 0, alone.stderr)
        self.assertEqual(d.read_bytes(), (self.scratch / "d1.yaml").read_bytes())
        with zipfile.ZipFile(w) as first, zipfile.ZipFile(self.scratch / "w1.xlsx") as second:
            self.assertEqual(first.namelist(), second.namelist())
            for part in first.namelist():
                if part != "docProps/core.xml":  # the time of writing
                    self.assertEqual(first.read(part), second.read(part), part)
        scan_time = re.compile(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC")
        first_pages = {"m": m, "m1": self.scratch / "m1.html"}
        folders = {name: self.scratch / f"{name}_files" for name in first_pages}
        self.assertEqual(sorted(p.name for p in folders["m"].iterdir()), sorted(p.name for p in folders["m1"].iterdir()))
        for page in [None, *sorted(p.name for p in folders["m"].iterdir())]:
            texts = [scan_time.sub(b"TIME", (folders[name] / page if page else first_pages[name]).read_bytes())
                     .replace(name.encode() + b".html", b"PAGE").replace(name.encode() + b"_files", b"FOLDER")
                     for name in first_pages]
            self.assertEqual(texts[0], texts[1], page)

    def test_a_refused_region_ends_the_workbook_pass_and_a_closed_one_is_left_out_of_every_file(self):
        config = self.write_config(accounts=(DELTA, GAMMA))
        discovery = self.scratch / "discovery.yaml"
        result = self.generate("-c", config, "-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
        for region in ("us-east-1", "eu-west-1"):
            self.assertIn(f"generator.generate:WARNING Error occured while scanning VPCs in region '{region}'.",
                          result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1],
                         f"generator.generate:WARNING Discovery file '{discovery}' is incomplete: 2 of 4 regions "
                         "could not be scanned (see the errors above)")
        accounts = yaml.safe_load(discovery.read_text())["account_info"]
        self.assertEqual([(a["account_id"], a["regions"]) for a in accounts][0], (DELTA, []))
        self.assertEqual(accounts[1]["regions"][1]["vpcs"][0]["vpc_id"], self.gamma)

        workbook = self.scratch / "discovery.xlsx"
        result = self.generate("-c", config, "-v", "-e", workbook)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, rf"INFO generator\.generate:generate_discovery_excel_data Discovering info "
                                        rf"for account {DELTA}\n")
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^ClientError: An error occurred \(AccessDenied\w*\) when calling the DescribeVpcs operation")
        self.assertFalse(workbook.exists())

        # A region that the organization closes by a service control policy holds nothing to
        # migrate: every file is written without it, complete, and the log names it once at the end.
        report = self.scratch / "map.html"
        checked = self.scratch / "checked.yaml"
        checked.write_text(yaml.safe_dump({"account_info": [{"account_id": ALPHA, "regions": [
            {"region": "eu-west-1", "vpcs": [{"vpc_id": self.gone, "hvn_cidr": ""}]}]}]}))
        with AwsProxy(self.moto.url, closed_regions={"eu-west-1"}) as proxy:
            closed = self.run_through(proxy, "-c", self.write_config(accounts=(ALPHA, GAMMA)),
                                      "-d", discovery, "-e", workbook, "-r", report)
            verified = self.run_through(proxy, "-c", config, "--verify", checked)
        self.assertEqual(closed.returncode, 0, closed.stderr)
        self.assertEqual([(a["account_id"], [r["region"] for r in a["regions"]])
                          for a in yaml.safe_load(discovery.read_text())["account_info"]],
                         [(ALPHA, ["us-east-1"]), (GAMMA, ["us-east-1"])])
        self.assertEqual([(row[0], row[7]) for row in read_rows(workbook)[1:]], [(ALPHA, "us-east-1")] * 2)
        for unwanted in (":ERROR", "Error occured", "incomplete"):
            self.assertNotIn(unwanted, closed.stderr)
        self.assertEqual(closed.stderr.splitlines()[-1],
                         "generator.generate:INFO Region 'eu-west-1' is closed by a service control policy in 2 of 2 "
                         "entered accounts; it is left out of the files")
        header = browser.parse(browser.dump_dom(report)).find_all("header")[0]
        summary = {dt.text: dd.text for dt, dd in zip(header.find_all("dt"), header.find_all("dd"))}
        self.assertEqual((summary["Account-regions scanned"], summary["Closed by a service control policy"]),
                         ("2", "eu-west-1 (2 accounts)"))
        # The drift check names the file's VPC that now lies in a closed region: it cannot be migrated.
        self.assertEqual(verified.returncode, 1, verified.stderr)
        self.assertIn(f"generator.generate:WARNING account {ALPHA}, region eu-west-1, VPC {self.gone}: the region is "
                      "now closed by a service control policy; the VPC is unchecked\n", verified.stderr)
        self.assertIn("0 empty with room now, 1 unchecked; 0 new VPCs; the migration is blocked", verified.stderr)

    def run_through(self, proxy, *args):
        return self.generate(*args, env=self.environment(AWS_ENDPOINT_URL=proxy.url))

    def test_jobs_change_neither_the_files_nor_the_log(self):
        # A refused role (BETA), a region whose VPC listing is refused (DELTA's), throttled requests.
        with AwsProxy(self.moto.url, delay=0.02, throttle_every=5) as proxy:
            runs = {}
            for jobs in ("1", "8"):
                out = self.scratch / f"jobs-{jobs}"
                out.mkdir()
                skipping = self.run_through(proxy, "-c", self.write_config(accounts=(ALPHA, BETA, DELTA, GAMMA)),
                                            "-v", "-j", jobs, "-d", out / "skip.yaml", "-e", out / "skip.xlsx")
                complete = self.run_through(proxy, "-c", self.write_config(), "-v", "--jobs", jobs,
                                            "-d", out / "d.yaml", "-e", out / "w.xlsx")
                runs[jobs] = (out, skipping, complete)
        self.assertGreater(proxy.counts().get("DescribeSubnets", 0), 0)

        def without_time_stamps(log):
            return re.sub(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} ", "", log, flags=re.MULTILINE)

        (one, skipping_one, complete_one), (eight, skipping_eight, complete_eight) = runs["1"], runs["8"]
        # The workbook pass ends at DELTA's refusing region; the discovery file leaves it out.
        self.assertEqual(skipping_one.returncode, 1, skipping_one.stderr)
        self.assertEqual(skipping_eight.returncode, 1, skipping_eight.stderr)
        self.assertIn("Error occured while scanning VPCs in region 'us-east-1'.", skipping_one.stderr)
        self.assertFalse((one / "skip.xlsx").exists())
        self.assertFalse((eight / "skip.xlsx").exists())
        self.assertEqual(complete_one.returncode, 0, complete_one.stderr)
        self.assertEqual(complete_eight.returncode, 0, complete_eight.stderr)
        for name in ("skip.yaml", "d.yaml"):
            self.assertEqual((one / name).read_bytes(), (eight / name).read_bytes(), name)
        # The workbook's parts are the same but for the time of writing in its document properties.
        with zipfile.ZipFile(one / "w.xlsx") as first, zipfile.ZipFile(eight / "w.xlsx") as second:
            self.assertEqual(first.namelist(), second.namelist())
            for part in first.namelist():
                if part != "docProps/core.xml":
                    self.assertEqual(first.read(part), second.read(part), part)
        self.assertEqual(len(read_rows(one / "w.xlsx")), 1 + 4, "the header and one row per VPC")
        for first, second in ((skipping_one, skipping_eight), (complete_one, complete_eight)):
            self.assertIn("DEBUG generator.generate:_compute_hvn_cidr Checking candidate subnet", first.stderr)
            self.assertEqual(without_time_stamps(first.stderr).replace(str(one), "OUT"),
                             without_time_stamps(second.stderr).replace(str(eight), "OUT"))

    def test_an_aws_that_throttles_hard_is_waited_out_and_every_vpc_listed(self):
        config = self.write_config(accounts=(ALPHA, GAMMA, EPSILON))
        plain, throttled = self.scratch / "plain.yaml", self.scratch / "throttled.yaml"
        self.assertEqual(self.generate("-c", config, "-d", plain).returncode, 0)
        # One token per account and region, refilled every 4 s: a region's second request is refused
        # for longer than a few quick retries wait.
        with AwsProxy(self.moto.url, bucket=(1, 0.25)) as proxy:
            result = self.run_through(proxy, "-c", config, "-d", throttled, "-j", "16")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreater(proxy.bucket_refusals(), 0)
        self.assertNotIn("Error occured while scanning VPCs", result.stderr)
        self.assertNotIn("incomplete", result.stderr)
        self.assertEqual(throttled.read_bytes(), plain.read_bytes())

    def test_workbook_pass_ends_at_its_first_failing_region_without_waiting_for_slow_ones(self):
        slow = 20.0
        config = self.write_config(accounts=(ALPHA, GAMMA))
        workbook = self.scratch / "w.xlsx"
        # us-east-1 refuses its VPC listing; every answer from eu-west-1 takes 20 s.
        with AwsProxy(self.moto.url, region_delays={"eu-west-1": slow}, refuse_regions={"us-east-1"}) as proxy:
            started = time.monotonic()
            result = self.run_through(proxy, "-c", config, "-e", workbook)
            elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^ClientError: An error occurred \(UnauthorizedOperation\) when calling the DescribeVpcs")
        self.assertFalse(workbook.exists())
        self.assertEqual(list(self.scratch.glob("w.xlsx*")), [], "no temporary file either")
        self.assertLess(elapsed, slow / 2, "the slow regions in flight are called off")

    def test_jobs_must_be_a_whole_number_from_1_to_256(self):
        for value in ("0", "257", "two", "1.5", ""):
            result = self.generate("-c", self.write_config(), "-j", value)
            self.assertEqual(result.returncode, 2, value)
            self.assertIn(f"argument -j/--jobs: invalid value '{value}' (a whole number from 1 to 256)", result.stderr)

    def test_accounts_come_from_the_controller_or_the_organization_without_being_typed(self):
        discovery = self.scratch / "d.yaml"

        def scanned():
            return [a["account_id"] for a in yaml.safe_load(discovery.read_text())["account_info"]]

        # The controller's list, in its order, each once; an entry that is no AWS account is named.
        self.controller.accounts = [
            {"account_number": GAMMA, "account_name": "gamma"}, {"account_number": 5, "account_name": "azure"},
            {"account_number": BETA, "account_name": "beta"}, {"account_number": GAMMA, "account_name": "again"},
            {"account_number": ALPHA, "account_name": "alpha"}]
        report = self.scratch / "controller.html"
        result = self.generate("-c", self.write_config(accounts="controller", regions=["eu-west-1"]),
                               "-d", discovery, "-r", report)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(scanned(), [GAMMA, ALPHA])
        self.assertIn(f"- Failed to assume role into account {BETA} -- skipped", result.stderr)
        # The map counts the accounts the controller's list gave, as the configuration names none.
        header = browser.parse(browser.dump_dom(report)).find_all("header")[0]
        summary = {dt.text: dd.text for dt, dd in zip(header.find_all("dt"), header.find_all("dd"))}
        self.assertEqual(summary["Accounts"], "3 planned (from the controller's list), 2 entered, 1 skipped")
        self.assertIn("WARNING 1 entries of the controller's account list are left out: their account_number is not "
                      "a 12-digit AWS account number in quotes: 5", result.stderr)

        # Entries that are no AWS account are left out, and an account whose name is no text is
        # scanned without one; one WARNING names them all and the run goes on.
        self.controller.accounts = [
            {"account_number": GAMMA, "account_name": ["gamma"]}, "azure", {"account_name": "no number"},
            {"account_number": ALPHA, "account_name": "alpha"}]
        result = self.generate("-c", self.write_config(accounts="controller", regions=["eu-west-1"]), "-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
        written = yaml.safe_load(discovery.read_text())["account_info"]
        self.assertEqual([(a["account_id"], a["account_name"]) for a in written], [(GAMMA, None), (ALPHA, "alpha")])
        self.assertIn("generator.generate:WARNING 2 entries of the controller's account list are left out: their "
                      'account_number is not a 12-digit AWS account number in quotes: "azure", '
                      '{"account_name":"no number"}; 1 more give no account_name as text: their accounts are scanned '
                      f"without a name: {GAMMA}\n", result.stderr)

        # A list without accounts is an error before anything is written: the files of an earlier run
        # stay, and no temporary file is left beside them.
        self.controller.accounts = []
        discovery.write_text(OLD_DISCOVERY_FILE)
        workbook = self.scratch / "w.xlsx"
        result = self.generate("-c", self.write_config(accounts="controller", regions=["eu-west-1"]),
                               "-d", discovery, "-e", workbook)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1],
                         "ScanError: Nothing to scan (the controller's account list is empty): no file was written "
                         "and existing ones are left as they were")
        self.assertEqual(discovery.read_text(), OLD_DISCOVERY_FILE)
        self.assertFalse(workbook.exists())
        self.assertEqual([p.name for p in self.scratch.iterdir() if p.name.startswith(".")], [])

        # The whole organization (the operator's own management account included): ACTIVE accounts in
        # account-number order, the closed one left out.
        self.controller.accounts = [{"account_number": self.org_hub, "account_name": "hub"}]
        active = sorted([DEFAULT_ACCOUNT, self.org_member, self.org_hub, *self.org_prod])
        whole = self.write_config(accounts="organization", regions=["eu-west-1"])
        result = self.generate("-c", whole, "-d", discovery, "-j", "16")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(scanned(), active)
        self.assertIn(f"The organization lists {len(active)} ACTIVE accounts to scan (1 not ACTIVE and 0 in "
                      "exclude_account_ids left out)", result.stderr)
        unmanaged = [line for line in result.stderr.splitlines() if "not managed by the controller" in line]
        self.assertEqual(unmanaged, [f"generator.generate:WARNING {len(active) - 1} accounts of the organization are "
                                     "not managed by the controller; they are scanned, without an account name: "
                                     + ", ".join(a for a in active if a != self.org_hub)])

        # One unit and the unit nested in it, one account excluded, read through a role.
        part = self.write_config(accounts="organization", regions=["eu-west-1"], sections=f"""\
            organization:
              ous: [{self.network_ou}]
              exclude_account_ids: ["{self.org_prod[0]}"]
              role_arn: {self.org_reader}
            """)
        result = self.generate("-c", part, "-d", discovery, "-j", "16")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(scanned(), sorted([self.org_hub, *self.org_prod[1:]]))
        self.assertIn(f"Reading the organization through role {self.org_reader}", result.stderr)
        self.assertNotIn("Failed to assume role", result.stderr)

        # The organization's own refusal, read from its JSON answer, ends the run before any scan.
        unknown = self.write_config(accounts="organization", regions=["eu-west-1"], sections="""\
            organization:
              ous: [ou-zzzz-zzzzzzzz]
            """)
        result = self.generate("-c", unknown, "-d", discovery)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr.splitlines()[-1], r"^ClientError: An error occurred \(ParentNotFoundException\) "
                         r"when calling the List\w+ operation: You specified parent that doesn't exist")

    def test_roles_whose_trust_asks_for_an_external_id_are_assumed_with_the_configured_session(self):
        external_id = "Zq7-halvane.scan@corp"
        discovery = self.scratch / "d.yaml"
        with AwsProxy(self.moto.url, external_id=external_id) as proxy:
            refused = self.run_through(proxy, "-c", self.write_config(accounts=(ALPHA, GAMMA)), "-d", discovery)
            self.assertEqual(proxy.role_sessions(), [])
            config = self.write_config(accounts=(ALPHA, GAMMA), sections=f"""\
                assume_role:
                  external_id: "{external_id}"
                  session_name: halvane-discovery
                  duration_seconds: 3600
                """)
            result = self.run_through(proxy, "-c", config, "-d", discovery, "-j", "256")
            sessions = proxy.role_sessions()
            # A wrong one, quoted back in the refusal, is masked like every other secret.
            wrong_id = "Wr0ng-external.id"
            mistaken = self.run_through(proxy, "-c", self.write_config(accounts=(ALPHA,), sections=f"""\
                assume_role:
                  external_id: "{wrong_id}"
                """), "-d", discovery)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertIn(f"- Failed to assume role into account {GAMMA} -- skipped", refused.stderr)
        self.assertIn("Not authorized to perform sts:AssumeRole (external ID)", refused.stderr)
        self.assertEqual(mistaken.returncode, 1, mistaken.stderr)
        self.assertIn("ERROR An error occurred (AccessDenied) when calling the AssumeRole operation: Not authorized "
                      "to perform sts:AssumeRole (external ID) with ExternalId=********", mistaken.stderr)
        self.assertNotIn(wrong_id, mistaken.stderr)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sessions, [("halvane-discovery", "3600")] * 2)
        self.assertEqual([a["account_id"] for a in yaml.safe_load(discovery.read_text())["account_info"]],
                         [ALPHA, GAMMA])
        self.assertNotIn(external_id, result.stderr)
    def test_a_govcloud_operator_works_in_its_own_partition_and_two_partitions_are_refused_first(self):
        gov = {"AWS_ACCESS_KEY_ID": self.gov_key, "AWS_SECRET_ACCESS_KEY": self.gov_secret}
        discovery = self.scratch / "gov.yaml"
        with AwsProxy(self.moto.url) as proxy:
            environment = self.environment(AWS_ENDPOINT_URL=proxy.url, **gov)
            mixed = self.generate("-c", self.write_config(accounts=(ALPHA,), regions=("us-gov-west-1", "us-east-1")),
                                  "-d", discovery, env=environment)
            refused_requests, written = proxy.counts(), discovery.exists()
            # No region of the operator's own: STS is reached in the partition of the scanned regions.
            result = self.generate("-c", self.write_config(accounts=(ALPHA,), regions=("us-gov-west-1",)),
                                   "-d", discovery, env=environment)
            arns, signed = proxy.role_arns(), proxy.signing_regions()
        self.assertEqual(mixed.returncode, 1, mixed.stderr)
        self.assertEqual(mixed.stderr.splitlines()[-1],
                         "AWSClientError: aws_regions lists regions of two AWS partitions: us-gov-west-1 (aws-us-gov) "
                         "and us-east-1 (aws); one run scans one partition")
        self.assertEqual(refused_requests, {})
        self.assertFalse(written)
        self.assertNotIn("Logging in", mixed.stderr)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(arns, [f"arn:aws-us-gov:iam::{ALPHA}:role/{ROLE}"])
        self.assertEqual(signed["AssumeRole"], {"us-gov-west-1"})
        self.assertEqual(signed["DescribeVpcs"], {"us-gov-west-1"})
        entries = yaml.safe_load(discovery.read_text())["account_info"]
        self.assertEqual([(e["account_id"], [r["region"] for r in e["regions"]]) for e in entries],
                         [(ALPHA, ["us-gov-west-1"])])

    def test_address_map_shows_every_vpc_to_scale_with_remote_texts_inert_and_finds_them(self):
        config = self.write_config("filter_cidrs: [10.0.0.0/8]\n", accounts=(ALPHA, BETA, GAMMA, EPSILON))
        discovery, report = self.scratch / "d.yaml", self.scratch / "map.html"
        result = self.generate("-c", config, "-d", discovery, "-r", report)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(self.controller.requests_for("login")), 1, "one scan feeds both files")
        in_file = [vpc["vpc_id"] for account in yaml.safe_load(discovery.read_text())["account_info"]
                   for region in account["regions"] for vpc in region["vpcs"]]
        folder = self.scratch / "map_files"
        for page in [report, *folder.glob("*.html")]:
            self.assertIn("default-src 'none'", page.read_text(), page)

        # The first page leads to a page per entered account, which draws each of its VPCs.
        shown = address_map.AddressMap(report)
        self.assertEqual(sorted(shown.pages), sorted([ALPHA, GAMMA, EPSILON]))
        cards = shown.cards
        self.assertEqual(sorted(cards), sorted(in_file))
        gateway_subnets = {vpc["vpc_id"]: vpc["hvn_cidr"] for vpcs in self.expected_vpcs().values() for vpc in vpcs}
        gateway_subnets.update({self.scripted: "10.9.0.128/27", self.imaged: "10.8.0.0/27"})
        for vpc_id, card in cards.items():
            shown_subnet = card.find_all("dd", "gw-subnet")[0].text
            self.assertEqual(shown_subnet, gateway_subnets[vpc_id] or "NO ROOM no free /27 in any associated block",
                             vpc_id)
            self.assertEqual("noroom" in card.classes(), not gateway_subnets[vpc_id], vpc_id)

        def pieces(vpc_id):
            return [(rect.attributes.get("class", "u"), rect.text) for rect in cards[vpc_id].find_all("rect")]
        self.assertEqual(pieces(self.east), [("u", "10.0.0.0/25"), ("g", "gateway subnet 10.0.0.128/27"),
                                             ("f", "free 10.0.0.160 – 10.0.0.255 (96 addresses)")])
        self.assertEqual(pieces(self.scripted), [("u", "2 subnets 10.9.0.0/25: 10.9.0.0/26 10.9.0.64/26"),
                                                 ("g", "gateway subnet 10.9.0.128/27"), ("f", "free 10.9.0.160/27"),
                                                 ("u", "10.9.0.192/27"), ("f", "free 10.9.0.224/27")])
        self.assertEqual([p.text for p in cards[self.full].find_all("p", "blk")],
                         ["10.1.0.0/26 primary · 1 subnet · 100.0 % used", "100.64.0.0/24 · 1 subnet · 12.5 % used"])
        self.assertIn("Not associated, not drawn: 100.65.0.0/24 (disassociated)", cards[self.gone].text)
        self.assertIn("1 subnet without an IPv4 block", cards[self.east].text)
        self.assertEqual([badge.text for badge in cards[self.gone].find_all("span", "badge")], ["NO ROOM"])

        # Remote texts are text on every page: no element came from them, the page's own script is the
        # only inline one, and the search adds only the folder's data.
        self.assertIn(SCRIPT_NAME, cards[self.scripted].find_all("h4")[0].text)
        self.assertIn(IMG_NAME, cards[self.imaged].find_all("h4")[0].text)
        self.assertIn(HOSTILE_ACCOUNT_NAME, shown.first.text)
        self.assertIn(HOSTILE_ACCOUNT_NAME, shown.pages[EPSILON].text)
        for dom in [shown.first, *shown.pages.values()]:
            self.assertEqual(len(dom.find_all("script")), 1)
            self.assertEqual(dom.find_all("img") + dom.find_all("b"), [])
            self.assertTrue(dom.find_all("title")[0].text.startswith(("Address map", "Account ")))
            self.assertEqual([h.text for h in dom.find_all("h2") if h.text == "Legend"], ["Legend"])
        summary = shown.summary()
        self.assertEqual(summary["Accounts"], "4 configured, 3 entered, 1 skipped")
        self.assertEqual((summary["Regions configured"], summary["Account-regions scanned"]),
                         ("2: us-east-1, eu-west-1", "6"))
        self.assertEqual((summary["VPCs"], summary["VPCs with no room"]), ("6", "1"))
        self.assertEqual((summary["Gateway subnet"], summary["Filtered CIDRs"]), ("/27", "10.0.0.0/8"))
        self.assertIn(BETA, shown.first.find_all("header")[0].text)
        rows = {row.find_all("td")[0].text: [cell.text for cell in row.find_all("td")[1:]]
                for row in shown.section("accounts").find_all("tr")[1:]}
        self.assertEqual(rows[ALPHA], ["prod-network", "2", "3", "1", "0", ""])
        self.assertTrue(rows[BETA][-1].startswith("SKIPPED "), rows[BETA])

        # The first page's search runs (admitted by its policy) from the address's fragment, over every
        # account's VPCs read from the folder, and shows what it finds as text; an account page filters
        # its own cards.
        def found(fragment):
            ids, texts, _, dom = address_map.found(report, fragment)
            self.assertNotIn("hidden", dom.find_all("form")[0].attributes, "the page's script ran")
            self.assertEqual(dom.find_all("img") + dom.find_all("b"), [])
            self.assertEqual(sorted((s.attributes.get("src") for s in dom.find_all("script")), key=str),
                             [None, "map_files/vpcs-1.js"])
            return sorted(ids)
        self.assertEqual(found("q=vpc%20EAST"), [self.east])
        self.assertEqual(found("noroom"), [self.gone])
        self.assertEqual(found("q=" + urllib.parse.quote("<SCRIPT>")), [self.scripted])
        self.assertEqual(found("q=core"), sorted([self.scripted, self.imaged]))
        self.assertEqual(found("q=100.64.0.0/24"), [self.full])
        self.assertEqual(found("q=" + GAMMA), [self.gamma])
        alpha_page = shown.account_links()[ALPHA]
        filtered = browser.parse(browser.dump_dom(alpha_page, "q=vpc%20EAST"))
        self.assertEqual([card.attributes["data-vpc"] for card in filtered.find_all("article", "vpc")
                          if "hidden" not in card.attributes], [self.east])

        # Without the discovery file, the scan runs for the map alone.
        report.unlink()
        written = discovery.stat().st_mtime_ns
        result = self.generate("-c", config, "--report", report)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(report.exists())
        self.assertEqual(discovery.stat().st_mtime_ns, written)
        self.assertEqual(sorted(self.scratch.glob("*.yaml")), sorted([config, discovery]))
        self.assertEqual(sorted(p.name for p in self.scratch.glob("*map*")), ["map.html", "map_files"])
    def test_overlapping_vpcs_external_and_reserved_ranges_are_named_and_drawn(self):
        config = self.write_config(accounts=(ZETA, ETA))
        with config.open("a") as text:
            text.write("reserved_cidrs: [10.60.0.32/27, 10.61.0.32/27]\nexternal_cidrs: [192.168.0.0/16]\n")
        discovery, report = self.scratch / "d.yaml", self.scratch / "map.html"
        result = self.generate("-c", config, "-d", discovery, "-r", report)
        self.assertEqual(result.returncode, 0, result.stderr)

        places, gateway_subnets = {}, {}
        for account in yaml.safe_load(discovery.read_text())["account_info"]:
            for region in account["regions"]:
                for vpc in region["vpcs"]:
                    places[vpc["vpc_id"]] = f"{vpc['vpc_id']} (account {account['account_id']}, region {region['region']})"
                    gateway_subnets[vpc["vpc_id"]] = vpc["hvn_cidr"]
        self.assertEqual((gateway_subnets[self.planned], gateway_subnets[self.held]), ("10.60.0.64/27", ""))
        scan_order = list(places)

        def in_scan_order(vpcs):
            return sorted(vpcs, key=scan_order.index)

        # Who overlaps whom, with the block each holds there; every other VPC overlaps nothing. The log
        # sums it up first, then names each shared block (the largest first, with the VPCs the operator
        # made first among its examples) and each external range that VPCs share addresses with.
        blocks = {self.shared_a: "10.50.0.0/16", self.shared_b: "10.50.0.0/16", self.inner: "10.50.128.0/17"}
        blocks.update({vpc: "172.31.0.0/16" for vpc in self.default_vpcs + self.labs})

        def examples(vpcs):
            return ", ".join(f"{places[vpc]} {blocks[vpc]}" for vpc in vpcs[:3])
        expected = [
            "generator.generate:WARNING 16 VPCs share addresses with other VPCs (81 pairs); "
            "VPCs that overlap cannot be reached side by side",
            "generator.generate:WARNING 172.31.0.0/16 is shared by 13 VPCs in 2 accounts (4 of them default VPCs), "
            f"e.g. {examples(in_scan_order(self.labs))}",
            "generator.generate:WARNING 10.50.0.0/16 (with 1 block inside it) is shared by 3 VPCs in 2 accounts, "
            f"e.g. {examples(in_scan_order([self.shared_a, self.shared_b, self.inner]))}",
            "generator.generate:WARNING external_cidrs 192.168.0.0/16 shares addresses with 1 VPC in 1 account, "
            f"e.g. {places[self.partner]} 192.168.10.0/24"]
        lines = result.stderr.splitlines()
        first = next(i for i, line in enumerate(lines) if "share addresses with other VPCs" in line)
        self.assertEqual(lines[first:first + len(expected)], expected)
        self.assertEqual([line for line in lines if "WARNING VPC " in line], [], "each VPC is named with -v only")
        self.assertIn(f"generator.generate:WARNING Could not compute hvn_cidr for vpc '{self.held}': No available "
                      "subnets with prefix 27 outside the reserved ranges (reserved_cidrs 10.61.0.32/27)", lines)

        shown = address_map.AddressMap(report)
        cards = shown.cards
        card_ids = {card.attributes["id"]: vpc for vpc, card in cards.items()}

        def linked(anchor):
            return card_ids[urllib.parse.unquote(anchor.attributes["href"].partition("#")[2])]
        section = shown.section("overlaps")
        self.assertIn("16 VPCs share addresses with other VPCs, in 81 pairs, in 2 shared blocks", section.text)
        entries = section.find_all("details")
        self.assertEqual([entry.find_all("summary")[0].text for entry in entries],
                         ["10.50.0.0/16 · 3 VPCs", "172.31.0.0/16 · 13 VPCs"])
        # The /17 is listed inside the /16, each block with its VPCs linked to their cards.
        outer, nested = entries[0].find_all("li")
        self.assertIn(nested, outer.find_all("li"))
        self.assertTrue(nested.text.startswith("10.50.128.0/17: "))
        self.assertEqual([linked(a) for a in outer.find_all("a")],
                         in_scan_order([self.shared_a, self.shared_b]) + [self.inner])
        self.assertEqual(sorted(linked(a) for a in entries[1].find_all("a")), sorted(self.default_vpcs + self.labs))
        self.assertIn("OVERLAPS 10.50.0.0/16 shares addresses with 2 other VPCs", cards[self.shared_a].text)
        self.assertIn("OVERLAPS 172.31.0.0/16 shares addresses with 12 other VPCs", cards[self.labs[0]].text)
        mark = [p for p in cards[self.labs[0]].find_all("p", "extra") if "OVERLAPS" in p.text][0]
        self.assertEqual(mark.find_all("a")[0].attributes["href"], "../map.html#overlap-1")
        self.assertEqual([badge.classes() for badge in mark.find_all("span")], [["badge", "b-overlaps"]])
        self.assertIn("EXTERNAL 192.168.10.0/24 shares addresses with the external range 192.168.0.0/16",
                      cards[self.partner].text)
        marked = sorted(vpc for vpc, card in cards.items() if "OVERLAPS" in card.text or "EXTERNAL" in card.text)
        self.assertEqual(marked, sorted(list(blocks) + [self.partner]))
        self.assertEqual([(rect.attributes.get("class", "u"), rect.text) for rect in cards[self.planned].find_all("rect")],
                         [("u", "10.60.0.0/27"), ("r", "reserved 10.60.0.32/27 (reserved_cidrs)"),
                          ("g", "gateway subnet 10.60.0.64/27"), ("f", "free 10.60.0.96 – 10.60.0.255 (160 addresses)")])
        summary = shown.summary()
        self.assertEqual((summary["Reserved ranges"], summary["External ranges"], summary["VPCs that overlap"]),
                         ("10.60.0.32/27, 10.61.0.32/27", "192.168.0.0/16 (1 VPC over it)", "16, in 81 pairs"))
        self.assertEqual(summary["VPCs"], f"{len(places)}, of which 4 default VPCs")
        # A block is found by the search the entries link to.
        self.assertEqual(sorted(address_map.found(report, "q=10.50.128.0/17")[0]), [self.inner])

        # With -v every VPC that shares addresses is named too, with the first of the others; default
        # VPCs that overlap only one another are one line.
        alone = self.generate("-v", "-c", self.write_config(accounts=(ZETA,)), "-d", discovery)
        self.assertEqual(alone.returncode, 0, alone.stderr)
        messages = [match.group(1) for match in re.finditer(r" WARNING generator\.generate:\w+ (.*)$", alone.stderr,
                                                            re.MULTILINE)]
        zeta_defaults = in_scan_order(self.default_vpcs[:2])
        first = next(i for i, message in enumerate(messages) if "share addresses with other VPCs" in message)
        self.assertEqual(messages[first:first + 7], [
            "4 VPCs share addresses with other VPCs (2 pairs); VPCs that overlap cannot be reached side by side",
            f"10.50.0.0/16 (with 1 block inside it) is shared by 2 VPCs in 1 account, "
            f"e.g. {examples([self.shared_a, self.inner])}",
            f"2 default VPCs share 172.31.0.0/16 in 1 account: they overlap only one another, e.g. "
            f"{examples(zeta_defaults)}",
            *[f"VPC {places[vpc]}: {blocks[vpc]} shares addresses with {places[other]} {blocks[other]}"
              for vpc, other in sorted([(self.shared_a, self.inner), (self.inner, self.shared_a),
                                        (zeta_defaults[0], zeta_defaults[1]), (zeta_defaults[1], zeta_defaults[0])],
                                       key=lambda pair: scan_order.index(pair[0]))]])

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
            # Not a refusal of the role: no account would fare better, so it is not skipped.
            ("AssumeRole", "portal"):
                "AWSClientError: The answer of the AssumeRole operation from {url} is not a "
                "AssumeRoleResponse document: its root is <html> (HTTP status 200, "
                f"{len(PORTAL_PAGE)} bytes)",
        }
        for (action, answer), expected in cases.items():
            with self.subTest(action=action), HostileAwsProxy(self.moto.url, action, answer) as proxy:
                out.write_text("account_info: []  # an earlier run\n")
                result = self.generate("-c", config, "-d", out, env=self.environment(AWS_ENDPOINT_URL=proxy.url))
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stderr.splitlines()[-1], expected.format(url=proxy.url))
                self.assertEqual(out.read_text(), "account_info: []  # an earlier run\n")

    def write_platform_profile(self, more_profiles=""):
        """An AWS config file whose profile 'platform' signs in through IAM Identity Center (session
        'corp') as PlatformTeam in GAMMA, followed by `more_profiles` (indented text)."""
        aws_config = self.scratch / "aws-config"
        aws_config.write_text(textwrap.dedent(f"""\
            [sso-session corp]
            sso_start_url = https://corp.awsapps.com/start
            sso_region = eu-west-1
            [profile platform]
            sso_session = corp
            sso_account_id = {GAMMA}
            sso_role_name = PlatformTeam
            """) + textwrap.dedent(more_profiles))
        return aws_config

    def test_hostile_aws_ends_each_run_within_seconds_naming_the_cause_and_showing_no_secret(self):
        config = self.write_config(accounts=(ALPHA,))
        out = self.scratch / "discovery.yaml"
        ca = CertificateAuthority(self.scratch / "ca")
        web_token, portal_token = "eyJ-web-identity-" + "w" * 40, "sso-access-unknown-" + "p" * 40
        token_file = self.scratch / "web-identity-token"
        token_file.write_text(web_token)
        aws_config = self.write_platform_profile()
        write_token_cache(self.scratch, "corp", portal_token, utc_in(hours=8))
        # Listings that page for ever: empty pages A, B, A, ... and X, Y, Z, X, ...
        cycles = {("us-east-1", "DescribeVpcs"): ["A", "B"], ("eu-west-1", "DescribeSubnets"): ["X", "Y", "Z"]}
        with AwsProxy(self.moto.url, cycling_tokens=cycles, echo_web_identity=True) as proxy, \
                SsoStandIn(self.scratch, ca, echo_tokens=True) as sso:
            signed_in = self.environment(AWS_ENDPOINT_URL=proxy.url)
            without_keys = {name: value for name, value in signed_in.items()
                            if name not in ("AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY")}
            runs = {
                "paging": (signed_in, [
                    f"The DescribeVpcs listing of {proxy.url} gave a page token on page 3 that it had given "
                    "before: it would never end",
                    f"The DescribeSubnets listing of {proxy.url} gave a page token on page 4 that it had given "
                    "before: it would never end"]),
                "echoing STS": ({**without_keys, "AWS_WEB_IDENTITY_TOKEN_FILE": str(token_file),
                                 "AWS_ROLE_ARN": role_arn(OPERATOR_ACCOUNT, "Operator")},
                                ["(InvalidIdentityToken) when calling the AssumeRoleWithWebIdentity operation: "
                                 "Token ******** is not valid"]),
                "echoing portal": ({**without_keys, "HOME": str(self.scratch), "AWS_CONFIG_FILE": str(aws_config),
                                    "AWS_PROFILE": "platform", "AWS_ENDPOINT_URL_SSO": sso.url,
                                    "AWS_CA_BUNDLE": str(ca.cert)},
                                   ["is no longer accepted (UnauthorizedException: Session token (********) not "
                                    "found or invalid)"]),
            }
            for name, (env, causes) in runs.items():
                with self.subTest(name):
                    out.write_text(OLD_DISCOVERY_FILE)
                    started = time.monotonic()
                    result = self.generate("-c", config, "-v", "-d", out, env=env)
                    self.assertLess(time.monotonic() - started, 60)
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertTrue(result.stderr.splitlines()[-1].startswith("ScanError: Nothing was scanned"),
                                    result.stderr.splitlines()[-1])
                    for cause in causes:
                        self.assertIn(cause, result.stderr)
                    for secret in (web_token, portal_token, PASSWORD, self.secret):
                        self.assertNotIn(secret, result.stdout + result.stderr)
                    self.assertEqual(out.read_text(), OLD_DISCOVERY_FILE)
        # Three pages of the cycling listing in us-east-1 and one of eu-west-1; four subnet pages there.
        self.assertEqual((proxy.counts()["DescribeVpcs"], proxy.counts()["DescribeSubnets"]), (4, 4))

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
        out.write_text(OLD_DISCOVERY_FILE)
        result = self.generate("-c", config, "-d", out, env=env)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("ERROR Unable to locate credentials. Looked in the environment variables AWS_ACCESS_KEY_ID",
                      result.stderr)
        for account in (ALPHA, BETA, GAMMA):
            self.assertIn(f"- Failed to assume role into account {account} -- skipped", result.stderr)
        self.assertIn("WARNING None of the 3 configured accounts could be entered", result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1],
                         "ScanError: Nothing was scanned (none of the 3 configured accounts could be entered): "
                         "the discovery file was not written and an existing one is left as it was")
        self.assertEqual(out.read_text(), OLD_DISCOVERY_FILE)

        workbook = self.scratch / "discovery.xlsx"
        result = self.generate("-c", config, "-e", workbook, env=env)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1], r"^ScanError: .* the workbook was not written")
        self.assertFalse(workbook.exists())

        # The address map is named for what it is, alone or beside the discovery file.
        report = self.scratch / "map.html"
        result = self.generate("-c", config, "-r", report, env=env)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^ScanError: .*\): the address map was not written and an existing one is left as it was$")
        result = self.generate("-c", config, "-d", out, "-r", report, env=env)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^ScanError: .*\): the discovery file and the address map were not written and existing "
                         r"ones are left as they were$")
        self.assertFalse(report.exists())
        self.assertEqual(list(self.scratch.glob(".map*")) + list(self.scratch.glob("map*")), [],
                         "neither the map's folder nor its temporary one")
        self.assertEqual(out.read_text(), OLD_DISCOVERY_FILE)

    def test_password_and_mfa_prompts_at_the_terminal_stand_on_lines_of_their_own_and_are_asked_once(self):
        # The operator signs in through a role profile whose trust asks for an MFA device.
        aws_config = self.scratch / "aws-config"
        aws_config.write_text(textwrap.dedent(f"""\
            [profile base]
            aws_access_key_id = {self.key}
            aws_secret_access_key = {self.secret}
            [profile guarded]
            role_arn = {role_arn(OPERATOR_ACCOUNT, "Operator")}
            source_profile = base
            mfa_serial = {MFA_DEVICE}
            """))
        config = self.write_config()
        proxy = AwsProxy(self.moto.url).start()
        self.addCleanup(proxy.stop)
        env = self.environment(AWS_CONFIG_FILE=str(aws_config), AWS_PROFILE="guarded", AWS_ENDPOINT_URL=proxy.url)
        del env["halvane_controller_password"], env["AWS_ACCESS_KEY_ID"], env["AWS_SECRET_ACCESS_KEY"]
        # Without a terminal the code cannot be asked for, and the message says so.
        detached = subprocess.run([str(harness.program("generate")), "-c", str(config), "-d",
                                   str(self.scratch / "detached.yaml")],
                                  env={**env, "halvane_controller_password": PASSWORD}, stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=120, start_new_session=True)
        self.assertEqual(detached.returncode, 1, detached.stderr)
        self.assertIn("No terminal to read the MFA code of AWS profile 'guarded' from", detached.stderr)
        argv = [str(harness.program("generate")), "-c", str(config), "-d", str(self.scratch / "tty.yaml"),
                "-e", str(self.scratch / "tty.xlsx")]
        # The pseudo-terminal is the program's controlling terminal and standard error.
        status, output = harness.run_at_terminal(argv, env, [(b"'s password:", PASSWORD.encode() + b"\n"),
                                                             (b"Enter MFA code for", MFA_CODE.encode() + b"\n")])
        self.assertEqual(status, 0, output.decode(errors="replace"))
        text = output.decode()
        prompt = f"Halvane Controller admin@{self.controller.address}'s password:"
        lines = text.replace("\r\n", "\n").split("\n")
        self.assertTrue(any(line.rpartition("\r\x1b[K")[2].startswith(prompt) for line in lines), repr(text))
        self.assertNotIn("found" + prompt, text)
        self.assertNotIn(PASSWORD, text, "the password is not echoed")
        self.assertEqual(text.count(prompt), 1, "one login for both files")
        mfa_prompt = f"Enter MFA code for {MFA_DEVICE}:"
        self.assertEqual(text.count(mfa_prompt), 1, "one code for the whole run")
        self.assertTrue(any(line.rpartition("\r\x1b[K")[2].startswith(mfa_prompt) for line in lines), repr(text))
        self.assertNotIn(MFA_CODE, text, "the code is not echoed")
        self.assertEqual(proxy.mfa_codes(), [(MFA_DEVICE, MFA_CODE)])
        self.assertTrue((self.scratch / "tty.yaml").exists())
        self.assertTrue((self.scratch / "tty.xlsx").exists())

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
        self.assertIn("scan: account 3 of 3, 4 regions done, 0 in flight, 4 VPCs found", text)
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
            aws_config = self.write_platform_profile(f"""\
                [profile scanner]
                role_arn = {role_arn(OPERATOR_ACCOUNT, "Operator")}
                source_profile = platform
                ca_bundle = {ca.cert}
                """)
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
