"""generate --verify against moto_server and the controller stand-in: an estate is scanned once, then
changed the way teams change it between discovery and migration (a subnet over a chosen gateway
subnet, a VPC deleted, a VPC added) while the operator edits one gateway subnet by hand."""

import textwrap

import yaml

from support import harness
from support.controller_stand_in import ControllerStandIn
from support.moto import MotoEstateTestCase

ACCOUNT = "111111111111"
# Accounts whose VPCs carry thousands of gateway tags, so that a file of a few VPCs is larger than
# a YAML file read whole may be.
TAGGED = ("222222222222", "333333333333")
ROLE = "Discovery"
REGION = "us-east-1"
PASSWORD = "verify-pass"


class VerifyAgainstMoto(MotoEstateTestCase):

    @classmethod
    def seed(cls):
        moto = cls.moto
        cls.key, cls.secret = moto.create_operator()
        moto.add_account(ACCOUNT, ROLE)
        moto.remove_default_vpcs(ACCOUNT, REGION)
        cls.taken = moto.add_vpc(ACCOUNT, REGION, "10.0.0.0/24", name="taken later")
        moto.add_subnet(ACCOUNT, REGION, cls.taken, "10.0.0.0/25")
        cls.edited = moto.add_vpc(ACCOUNT, REGION, "10.1.0.0/24", name="edited by hand")
        cls.deleted = moto.add_vpc(ACCOUNT, REGION, "10.2.0.0/24")
        cls.tagged = {}
        for account in TAGGED:
            moto.add_account(account, ROLE)
            moto.remove_default_vpcs(account, REGION)
            cls.tagged[account] = [moto.add_vpc(account, REGION, f"10.{index}.0.0/24") for index in range(2)]
        # The estate changes during the test, so signature checks stay off: the seeding client must
        # keep writing into it.

    def setUp(self):
        super().setUp()
        self.controller = ControllerStandIn(self.scratch, username="admin", password=PASSWORD).start()
        self.addCleanup(self.controller.stop)
        self.config = self.scratch / "config.yaml"
        self.config.write_text(textwrap.dedent(f"""\
            controller:
              ip: "{self.controller.address}"
              username: admin
            account_ids: ["{ACCOUNT}"]
            aws_regions: [{REGION}]
            defaults:
              role_name: {ROLE}
              hpe: false
            """))

    def generate(self, *args):
        env = self.moto.environment(self.key, self.secret, halvane_controller_password=PASSWORD)
        return harness.run_program("generate", "-c", self.config, *args, env=env, timeout=300)

    def vpc_entries(self, path):
        account = yaml.safe_load(path.read_text())["account_info"][0]
        return {vpc["vpc_id"]: vpc for vpc in account["regions"][0]["vpcs"]}

    def test_a_file_larger_than_a_yaml_file_read_whole_is_checked_and_refreshed(self):
        padding = "-".join(["padding"] * 120)
        tags = "".join(f"              - {{key: k{index:04d}, value: v{index:04d}-{padding}}}\n"
                       for index in range(2500))
        text = "account_info:\n"
        for account in TAGGED:
            text += f'  - account_id: "{account}"\n    account_name: tagged\n    regions:\n' \
                    f"      - region: {REGION}\n        vpcs:\n"
            for index, vpc_id in enumerate(self.tagged[account]):
                text += f"          - vpc_id: {vpc_id}\n            hvn_cidr: 10.{index}.0.0/27\n" \
                        f"            spoke_gw_tags:\n{tags}"
        text += "config:\n  configure_gw_name: true\n"
        big = self.scratch / "big.yaml"
        big.write_text(text)
        self.assertGreater(big.stat().st_size, 9 << 20)

        refreshed = self.scratch / "refreshed.yaml"
        result = self.generate("--verify", big, "-d", refreshed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"generator.generate:INFO Checked 4 VPCs of {big}: 4 fit, 0 overlap a subnet, 0 outside their "
                      "blocks, 0 gone, 0 empty with room now, 0 unchecked; 0 new VPCs; nothing blocks the migration\n",
                      result.stderr)
        self.assertEqual(yaml.load(refreshed.read_text(), Loader=yaml.CSafeLoader),
                         yaml.load(text, Loader=yaml.CSafeLoader))

    def test_verify_names_each_change_and_the_refreshed_file_keeps_free_choices(self):
        discovery = self.scratch / "discovery.yaml"
        result = self.generate("-d", discovery)
        self.assertEqual(result.returncode, 0, result.stderr)
        document = yaml.safe_load(discovery.read_text())
        vpcs = document["account_info"][0]["regions"][0]["vpcs"]
        self.assertEqual([(v["vpc_id"], v["hvn_cidr"]) for v in vpcs],
                         [(self.taken, "10.0.0.128/27"), (self.edited, "10.1.0.0/27"),
                          (self.deleted, "10.2.0.0/27")])
        vpcs[1]["hvn_cidr"] = "10.1.0.64/27"  # the operator's own choice
        discovery.write_text(yaml.safe_dump(document, sort_keys=False))

        # A malformed file is refused before anything is asked of the controller or AWS.
        broken = self.scratch / "broken.yaml"
        broken.write_text(discovery.read_text().replace("10.1.0.64/27", "10.1.0.65/27"))
        logins = len(self.controller.requests_for("login"))
        result = self.generate("--verify", broken)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr.splitlines()[-1],
                         rf"^ValidationError: {broken}: account '{ACCOUNT}', region '{REGION}', "
                         rf"VPC '{self.edited}': hvn_cidr: ")
        self.assertEqual(len(self.controller.requests_for("login")), logins)

        ec2 = self.moto.client("ec2", ACCOUNT, REGION)
        blocker = self.moto.add_subnet(ACCOUNT, REGION, self.taken, "10.0.0.128/26")
        ec2.delete_vpc(VpcId=self.deleted)
        added = self.moto.add_vpc(ACCOUNT, REGION, "10.3.0.0/24", name="late comer")

        refreshed = self.scratch / "refreshed.yaml"
        result = self.generate("--verify", discovery, "-d", refreshed)
        self.assertEqual(result.returncode, 1, result.stderr)
        place = f"account {ACCOUNT}, region {REGION}"
        self.assertIn(f"generator.generate:ERROR {place}, VPC {self.taken}: hvn_cidr 10.0.0.128/27 overlaps "
                      f"subnet {blocker} (10.0.0.128/26); the rule would now pick 10.0.0.192/27\n", result.stderr)
        self.assertIn(f"generator.generate:ERROR {place}: VPC {self.deleted} is gone\n", result.stderr)
        self.assertIn(f"generator.generate:WARNING {place}: VPC {added} ('late comer') is new since discovery "
                      "and not in the file\n", result.stderr)
        self.assertIn(f"generator.generate:INFO {place}, VPC {self.edited}: hvn_cidr 10.1.0.64/27 is still free "
                      "and kept (the rule alone would pick 10.1.0.0/27)\n", result.stderr)
        self.assertIn(f"generator.generate:ERROR Checked 3 VPCs of {discovery}: 1 fit, 1 overlap a subnet, "
                      "0 outside their blocks, 1 gone, 0 empty with room now, 0 unchecked; 1 new VPC; "
                      "the migration is blocked\n", result.stderr)
        self.assertEqual(len(self.controller.requests_for("login")), logins + 1)
        self.assertEqual(self.vpc_entries(refreshed), {
            **self.vpc_entries(discovery),
            self.taken: {**self.vpc_entries(discovery)[self.taken], "hvn_cidr": "10.0.0.192/27"}})
        self.assertIn('hvn_cidr: "10.1.0.64/27"', refreshed.read_text())

        # The subnet goes and the operator drops the deleted VPC from the file: nothing blocks.
        ec2.delete_subnet(SubnetId=blocker)
        del vpcs[2]
        discovery.write_text(yaml.safe_dump(document, sort_keys=False))
        # A workbook beside the check comes from the same login and the same scan.
        logins = len(self.controller.requests_for("login"))
        workbook = self.scratch / "beside.xlsx"
        result = self.generate("--verify", discovery, "-e", workbook)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(self.controller.requests_for("login")), logins + 1)
        self.assertEqual(result.stderr.count(f"Discovering info for account {ACCOUNT}\n"), 1)
        self.assertTrue(workbook.exists())
        self.assertIn(f"generator.generate:WARNING Checked 2 VPCs of {discovery}: 2 fit, 0 overlap a subnet",
                      result.stderr)
        self.assertIn("; 1 new VPC; nothing blocks the migration\n", result.stderr)
        self.assertNotIn(":ERROR", result.stderr)


if __name__ == "__main__":
    harness.main()
