"""The AWS layer against moto_server with signature checking on: role assumption into three
accounts (one refused), each account's own VPCs, a role chain from a profile, and a wrong secret."""

import json
import subprocess

from support import harness
from support.moto import MotoEstateTestCase, role_arn

DRIVER = str(harness.program("aws_driver"))
ALPHA, BETA, GAMMA = "111111111111", "222222222222", "333333333333"
ROLE = "Scanner"


class AwsAgainstMoto(MotoEstateTestCase):

    @classmethod
    def seed(cls):
        moto = cls.moto
        cls.key, cls.secret = moto.create_operator(denied_role_arns=[role_arn(BETA, ROLE)])
        for account in (ALPHA, BETA, GAMMA):
            moto.add_account(account, ROLE)
            for region in ("us-east-1", "eu-west-1"):
                moto.remove_default_vpcs(account, region)
        cls.alpha_vpc = moto.add_vpc(ALPHA, "us-east-1", "10.1.0.0/16", ["100.64.0.0/16"], name="alpha prod", ipv6=True)
        moto.add_subnet(ALPHA, "us-east-1", cls.alpha_vpc, "10.1.0.0/24")
        ipv6_block = moto.vpc_ipv6_block(ALPHA, "us-east-1", cls.alpha_vpc).replace("/56", "/64")
        moto.add_subnet(ALPHA, "us-east-1", cls.alpha_vpc, None, ipv6_block)
        moto.add_subnet(ALPHA, "us-east-1", cls.alpha_vpc, "100.64.1.0/24")
        cls.alpha_eu_vpc = moto.add_vpc(ALPHA, "eu-west-1", "10.2.0.0/16")
        cls.gamma_vpc = moto.add_vpc(GAMMA, "us-east-1", "10.3.0.0/16", name="gamma")
        moto.enable_signature_checks()

    def drive(self, *args, env=None):
        env = env or self.moto.environment(self.key, self.secret)
        return subprocess.run([DRIVER, *args], env=env, capture_output=True, text=True, timeout=120)

    def test_each_assumed_role_sees_its_own_accounts_vpcs_and_the_refused_one_is_skipped(self):
        results = {}
        for account in (ALPHA, BETA, GAMMA):
            run = self.drive("scan", role_arn(account, ROLE), "us-east-1", "eu-west-1")
            self.assertEqual(run.returncode, 0, run.stderr)
            results[account] = (json.loads(run.stdout), run.stderr)

        alpha, _ = results[ALPHA]
        self.assertTrue(alpha["credentials"])
        east, west = alpha["regions"]
        self.assertEqual((east["region"], west["region"]), ("us-east-1", "eu-west-1"))
        self.assertEqual([vpc["id"] for vpc in east["vpcs"]], [self.alpha_vpc])
        vpc = east["vpcs"][0]
        self.assertEqual(vpc["cidr_block"], "10.1.0.0/16")
        self.assertEqual(vpc["associations"], [["10.1.0.0/16", "associated"], ["100.64.0.0/16", "associated"]])
        self.assertEqual(vpc["tags"], [["Name", "alpha prod"]])
        # moto lists subnets in an order of its own; the IPv6-only one comes back without a block.
        self.assertCountEqual(vpc["subnets"], ["10.1.0.0/24", None, "100.64.1.0/24"])
        self.assertEqual([vpc["id"] for vpc in west["vpcs"]], [self.alpha_eu_vpc])

        beta, beta_log = results[BETA]
        self.assertEqual(beta, {"credentials": False})
        self.assertIn("An error occurred (AccessDenied) when calling the AssumeRole operation", beta_log)
        self.assertNotIn(self.secret, beta_log)

        gamma, _ = results[GAMMA]
        self.assertEqual([vpc["id"] for vpc in gamma["regions"][0]["vpcs"]], [self.gamma_vpc])
        self.assertEqual(gamma["regions"][1]["vpcs"], [])

    def test_the_account_lists_its_regions_through_us_east_1(self):
        run = self.drive("regions", role_arn(ALPHA, ROLE))
        self.assertEqual(run.returncode, 0, run.stderr)
        regions = json.loads(run.stdout)
        self.assertIn("us-east-1", regions)
        self.assertIn("eu-west-1", regions)

    def test_a_wrong_secret_is_refused_because_signatures_are_checked(self):
        run = self.drive("scan", role_arn(ALPHA, ROLE), "us-east-1",
                         env=self.moto.environment(self.key, self.secret[:-1] + "x"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(json.loads(run.stdout), {"credentials": False})
        self.assertIn("SignatureDoesNotMatch", run.stderr)

    def test_a_profile_that_assumes_a_role_from_a_source_profile_reaches_the_account(self):
        credentials = self.scratch / "credentials"
        credentials.write_text(f"[base]\naws_access_key_id = {self.key}\naws_secret_access_key = {self.secret}\n")
        config = self.scratch / "config"
        config.write_text(f"[profile hop]\nrole_arn = {role_arn(ALPHA, ROLE)}\nsource_profile = base\n")
        env = self.moto.environment(self.key, self.secret)
        for name in ("AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY"):
            del env[name]
        env.update(AWS_PROFILE="hop", AWS_CONFIG_FILE=str(config), AWS_SHARED_CREDENTIALS_FILE=str(credentials))
        run = self.drive("scan", role_arn(GAMMA, ROLE), "us-east-1", env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual([vpc["id"] for vpc in json.loads(run.stdout)["regions"][0]["vpcs"]], [self.gamma_vpc])


if __name__ == "__main__":
    harness.main()
