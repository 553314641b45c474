"""generate and convert agree: the workbook that generate writes for an estate in moto_server,
converted without edits, gives the same accounts, regions, VPCs, gateway subnets and gateway names
as the discovery file that generate writes for the same estate."""

import textwrap

import yaml

from support import harness
from support.controller_stand_in import ControllerStandIn
from support.moto import MotoServer

PROD, SHARED = "111111111111", "012345678901"
ROLE = "Discovery"
PASSWORD = "agree-on-everything"
REGIONS = ("us-east-1", "eu-west-1")
CONTROLLER_ACCOUNTS = [
    {"account_number": PROD, "account_name": "prod-network", "cloud_type": 1},
    {"account_number": SHARED, "account_name": "shared-services", "cloud_type": 1},
]


def vpc_facts(discovery):
    """(account, region, VPC, hvn_cidr, spoke_gw_name) of every VPC, in file order."""
    return [(account["account_id"], region["region"], vpc["vpc_id"], vpc["hvn_cidr"], vpc["spoke_gw_name"])
            for account in discovery["account_info"] for region in account["regions"] for vpc in region["vpcs"]]


def regions_with_vpcs(discovery):
    """(account, account name, region) of every region that holds a VPC, in file order."""
    return [(account["account_id"], account["account_name"], region["region"])
            for account in discovery["account_info"] for region in account["regions"] if region["vpcs"]]


class GenerateThenConvert(harness.ScratchTestCase):

    def seed(self, moto):
        self.key, self.secret = moto.create_operator()
        for account in (PROD, SHARED):
            moto.add_account(account, ROLE)
            for region in REGIONS:
                moto.remove_default_vpcs(account, region)
        east = moto.add_vpc(PROD, "us-east-1", "10.0.0.0/24", name="Production VPC East")
        moto.add_subnet(PROD, "us-east-1", east, "10.0.0.0/25")
        moto.add_vpc(PROD, "us-east-1", "10.1.0.0/16")
        # Full blocks: no gateway subnet, so hvn_cidr is empty in both outputs.
        full = moto.add_vpc(PROD, "eu-west-1", "10.2.0.0/27", name="Réseau plein")
        moto.add_subnet(PROD, "eu-west-1", full, "10.2.0.0/27")
        moto.add_vpc(SHARED, "eu-west-1", "172.16.0.0/16", ["100.64.0.0/24"], name="shared")
        moto.enable_signature_checks()

    def test_unedited_workbook_converts_to_what_the_discovery_pass_writes(self):
        with MotoServer(self.scratch / "moto") as moto, \
                ControllerStandIn(self.scratch / "controller", accounts=CONTROLLER_ACCOUNTS, username="admin",
                                  password=PASSWORD) as controller:
            self.seed(moto)
            config = self.scratch / "config.yaml"
            config.write_text(textwrap.dedent(f"""\
                controller:
                  ip: "{controller.address}"
                  username: admin
                account_ids: ["{PROD}", "{SHARED}"]
                aws_regions: [{", ".join(REGIONS)}]
                defaults:
                  role_name: {ROLE}
                  hpe: false
                  managed_tgw: false
                  filter_cidrs: [10.0.0.0/8]
                  gw_zones: []
                  encrypt: true
                  transit_gw_name: transit-east
                """))
            discovery, workbook = self.scratch / "discovery.yaml", self.scratch / "discovery.xlsx"
            env = moto.environment(self.key, self.secret, halvane_controller_password=PASSWORD)
            generated = harness.run_program("generate", "-c", config, "-d", discovery, "-e", workbook, env=env,
                                            cwd=self.scratch, timeout=300)
            self.assertEqual(generated.returncode, 0, generated.stderr)

        converted_path = self.scratch / "converted.yaml"
        converted = harness.run_program("convert", "-e", workbook, "-y", converted_path, cwd=self.scratch)
        self.assertEqual(converted.returncode, 0, converted.stderr)

        expected = yaml.safe_load(discovery.read_text())
        written = yaml.safe_load(converted_path.read_text())
        facts = vpc_facts(expected)
        # The estate holds what could go wrong: a leading zero, an empty gateway subnet, a name with
        # accents, a region without VPCs.
        self.assertEqual(len(facts), 4)
        self.assertIn(SHARED, {fact[0] for fact in facts})
        self.assertIn("", {fact[3] for fact in facts})
        self.assertIn("Réseau_plein-HVNGW", {fact[4] for fact in facts})
        self.assertIn([], [region["vpcs"] for account in expected["account_info"] for region in account["regions"]])

        self.assertEqual(vpc_facts(written), facts)
        # A region without VPCs has no row in the workbook, so only regions with VPCs can agree.
        self.assertEqual(regions_with_vpcs(written), regions_with_vpcs(expected))
        self.assertEqual([account["account_id"] for account in written["account_info"]], [PROD, SHARED])


if __name__ == "__main__":
    harness.main()
