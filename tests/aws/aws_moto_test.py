"""The AWS layer against moto_server with signature checking on: role assumption into three
accounts (one refused), each account's own VPCs, a role chain from a profile, a wrong secret, and
the operator's sign-ins through IAM Identity Center (an HTTPS stand-in of the portal and of SSO OIDC
with a certificate authority made for the test) and through a web identity token."""

import json
import stat
import subprocess
import textwrap

from support import harness
from support.moto import DEFAULT_ACCOUNT, MotoEstateTestCase, role_arn
from support.sso_stand_in import SsoStandIn, utc_in, write_token_cache
from support.tls import CertificateAuthority

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
        moto.add_account(DEFAULT_ACCOUNT, "CiJob")  # the role of a web identity
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

    def without_keys(self, **extra):
        env = self.moto.environment(self.key, self.secret, **extra)
        del env["AWS_ACCESS_KEY_ID"], env["AWS_SECRET_ACCESS_KEY"]
        return env

    def gamma_vpcs(self, run):
        self.assertEqual(run.returncode, 0, run.stderr)
        result = json.loads(run.stdout)
        self.assertTrue(result["credentials"], run.stderr)
        return [vpc["id"] for vpc in result["regions"][0]["vpcs"]]

    def test_iam_identity_center_profiles_of_both_forms_renew_their_token_or_name_the_way_back_in(self):
        ca = CertificateAuthority(self.scratch / "ca")
        with SsoStandIn(self.scratch, ca) as sso:
            # The portal hands out temporary credentials of a role, as the real one does.
            role = self.moto.role_session(self.key, self.secret, role_arn(ALPHA, ROLE))
            sso.grant(ALPHA, "Operator", role)
            config = self.scratch / "config"
            config.write_text(textwrap.dedent(f"""\
                [sso-session corp]
                sso_start_url = https://corp.awsapps.com/start
                sso_region = eu-west-1
                [profile modern]
                sso_session = corp
                sso_account_id = {ALPHA}
                sso_role_name = Operator
                [profile legacy]
                sso_start_url = https://legacy.awsapps.com/start
                sso_region = eu-west-1
                sso_account_id = {ALPHA}
                sso_role_name = Operator
                ca_bundle = {ca.cert}
                [profile refused]
                sso_session = corp
                sso_account_id = 999999999999
                sso_role_name = Operator
                """))
            env = self.without_keys(HOME=str(self.scratch), AWS_CONFIG_FILE=str(config), AWS_ENDPOINT_URL_SSO=sso.url,
                                    AWS_ENDPOINT_URL_SSO_OIDC=sso.url, AWS_CA_BUNDLE=str(ca.cert))
            secrets = {role["secretAccessKey"], role["sessionToken"], sso.client_secret}
            runs = []

            def scan(profile, **changes):
                run = self.drive("scan", role_arn(GAMMA, ROLE), "us-east-1",
                                 env={**{k: v for k, v in env.items() if k not in changes}, "AWS_PROFILE": profile,
                                      **{k: v for k, v in changes.items() if v is not None}})
                runs.append(run)
                return run

            token = sso.issue_access_token()
            secrets.add(token)
            write_token_cache(self.scratch, "corp", token, utc_in(hours=1))
            self.assertEqual(self.gamma_vpcs(scan("modern")), [self.gamma_vpc])
            self.assertEqual(sso.requests[-1]["query"], {"account_id": ALPHA, "role_name": "Operator"})
            self.assertEqual(sso.requests[-1]["bearer"], token)

            # An expired token is renewed with its refresh token, and the cache file holds the new one.
            expired, refresh = sso.issue_access_token(), sso.issue_refresh_token()
            secrets.update({expired, refresh})
            cache = write_token_cache(self.scratch, "corp", expired, utc_in(hours=-1), refresh, sso.client_id,
                                      sso.client_secret, start_url="https://corp.awsapps.com/start")
            self.assertEqual(self.gamma_vpcs(scan("modern")), [self.gamma_vpc])
            self.assertEqual(sso.operations()[-2:], ["CreateToken", "GetRoleCredentials"])
            renewed = json.loads(cache.read_text())
            secrets.update({renewed["accessToken"], renewed["refreshToken"]})
            self.assertNotIn(renewed["accessToken"], (expired, token))
            self.assertEqual(sso.requests[-1]["bearer"], renewed["accessToken"])
            self.assertNotEqual(renewed["refreshToken"], refresh)
            self.assertEqual((renewed["clientId"], renewed["startUrl"]), (sso.client_id, "https://corp.awsapps.com/start"))
            self.assertGreater(renewed["expiresAt"], utc_in(minutes=50).strftime("%Y-%m-%dT%H:%M:%SZ"))
            self.assertEqual(stat.S_IMODE(cache.stat().st_mode), 0o600)

            # The older form keys its cache by the start URL and may name its CA bundle itself;
            # its expired token without a refresh token sends the operator back to aws sso login.
            legacy_token = sso.issue_access_token()
            secrets.add(legacy_token)
            write_token_cache(self.scratch, "https://legacy.awsapps.com/start", legacy_token, utc_in(hours=1))
            self.assertEqual(self.gamma_vpcs(scan("legacy", AWS_CA_BUNDLE=None)), [self.gamma_vpc])
            write_token_cache(self.scratch, "https://legacy.awsapps.com/start", legacy_token, utc_in(minutes=-1))
            requests_before = len(sso.requests)
            run = scan("legacy")
            self.assertEqual(json.loads(run.stdout), {"credentials": False})
            self.assertIn("The IAM Identity Center sign-in of profile 'legacy' has expired; "
                          "run `aws sso login --profile legacy`", run.stderr)
            self.assertEqual(len(sso.requests), requests_before)

            # A refresh token that SSO OIDC no longer takes: the same way back in.
            write_token_cache(self.scratch, "corp", expired, utc_in(hours=-1), "sso-refresh-revoked", sso.client_id,
                              sso.client_secret)
            run = scan("modern")
            self.assertIn("The IAM Identity Center sign-in of profile 'modern' has expired and could not be renewed "
                          "(invalid_grant); run `aws sso login --profile modern`", run.stderr)

            write_token_cache(self.scratch, "corp", token, utc_in(hours=1))
            run = scan("refused")
            self.assertEqual(json.loads(run.stdout), {"credentials": False})
            self.assertIn("IAM Identity Center refused profile 'refused' the role Operator in account 999999999999 "
                          "(ForbiddenException: No access)", run.stderr)

            # Without the CA bundle the portal's certificate is not trusted.
            run = scan("modern", AWS_CA_BUNDLE=None)
            self.assertEqual(json.loads(run.stdout), {"credentials": False})
            self.assertIn("GetRoleCredentials", run.stderr)

            for run in runs:
                for secret in secrets:
                    self.assertNotIn(secret, run.stdout + run.stderr)

    def test_a_web_identity_token_is_exchanged_for_the_operators_role(self):
        token_file = self.scratch / "web-identity-token"
        token_file.write_text("eyJ-web-identity-token-of-the-ci-job")
        env = self.without_keys(AWS_WEB_IDENTITY_TOKEN_FILE=str(token_file),
                                AWS_ROLE_ARN=role_arn(DEFAULT_ACCOUNT, "CiJob"), AWS_ROLE_SESSION_NAME="ci-job")
        # The exchange itself is unsigned; the role's credentials are then checked as any others.
        self.moto.enable_signature_checks(unchecked_requests=1)
        try:
            run = self.drive("scan", role_arn(GAMMA, ROLE), "us-east-1", env=env)
        finally:
            self.moto.enable_signature_checks()
        self.assertEqual(self.gamma_vpcs(run), [self.gamma_vpc])
        self.assertNotIn("eyJ-web-identity-token", run.stderr)

    def test_a_credential_process_may_ask_the_operator_at_the_terminal(self):
        # The helper runs in a process group of its own (to be ended with everything it starts), which
        # holds the terminal while it runs: reading from it neither stops the helper nor hangs the run.
        keys = json.dumps({"Version": 1, "AccessKeyId": self.key, "SecretAccessKey": self.secret})
        helper = self.scratch / "helper.sh"
        helper.write_text(f"#!/bin/sh\nprintf 'MFA code: ' >/dev/tty\nread -r code\necho \"$code\" > "
                          f"'{self.scratch / 'typed'}'\necho '{keys}'\n")
        helper.chmod(0o700)
        config = self.scratch / "config"
        config.write_text(f"[profile mfa]\ncredential_process = {helper}\n")
        env = self.without_keys(AWS_CONFIG_FILE=str(config), AWS_PROFILE="mfa")
        status, output = harness.run_at_terminal([DRIVER, "scan", role_arn(GAMMA, ROLE), "us-east-1"], env,
                                                 [(b"MFA code: ", b"246810\n")], timeout=60)
        self.assertEqual(status, 0, output)
        self.assertEqual((self.scratch / "typed").read_text(), "246810\n")
        self.assertIn(b'"credentials":true', output)


if __name__ == "__main__":
    harness.main()
