"""A moto_server for tests: started on a free 127.0.0.1 port, always stopped, seeded through boto3.

Typical use:

    with MotoServer(scratch) as moto:
        key, secret = moto.create_operator(denied_role_arns=[role_arn("222222222222", "Scanner")])
        moto.add_account("111111111111", "Scanner")
        vpc = moto.add_vpc("111111111111", "us-east-1", "10.0.0.0/16", ["100.64.0.0/16"], name="prod")
        moto.add_subnet("111111111111", "us-east-1", vpc, "10.0.0.0/24")
        moto.enable_signature_checks()          # from here on every request must be signed correctly
        run_program(..., env=moto.environment(key, secret))

Seeding happens before signature checks are switched on; it writes into any account directly.
"""

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

from support import harness

DEFAULT_ACCOUNT = "123456789012"  # the account of the operator's own IAM user
READY_TIMEOUT = 60.0
# The line in which the server names the port it bound.
_RUNNING_ON = re.compile(r"Running on http://127\.0\.0\.1:(\d+)")


def moto_server_command():
    """moto_server from PATH, else the one beside this Python (the project's .venv)."""
    beside = Path(sys.executable).parent / "moto_server"
    return shutil.which("moto_server") or (str(beside) if beside.exists() else "moto_server")


def role_arn(account_id, role_name):
    """The ARN of a role in an account."""
    return f"arn:aws:iam::{account_id}:role/{role_name}"


class MotoServer(harness.BackgroundServer):
    """moto_server with signature checking available (INITIAL_NO_AUTH_ACTION_COUNT set)."""

    def __init__(self, scratch):
        self.scratch = Path(scratch)
        self.port = None  # known once started
        self.url = None
        self._process = None
        self._log = None

    def start(self):
        """Starts the server on a port it picks itself and waits (bounded) until it answers; stops it
        again on failure. A port chosen beforehand could be taken by another test's server in the
        meantime; this server would then fail to bind while its caller seeded and checked the
        other one, whose signature checks may be off."""
        self.scratch.mkdir(parents=True, exist_ok=True)
        env = dict(os.environ)
        # Requests are free until enable_signature_checks() resets the count to zero.
        env["INITIAL_NO_AUTH_ACTION_COUNT"] = "1000000000"
        for name in [k for k in env if k.startswith("AWS_")]:
            del env[name]
        log_path = self.scratch / "moto_server.log"
        self._log = open(log_path, "wb")
        self._process = subprocess.Popen([moto_server_command(), "-H", "127.0.0.1", "-p", "0"],
                                         stdout=self._log, stderr=subprocess.STDOUT, env=env)
        deadline = time.monotonic() + READY_TIMEOUT
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                self.stop()
                raise RuntimeError(f"moto_server ended at start; see {log_path}")
            if self.port is None:
                bound = _RUNNING_ON.search(log_path.read_text(errors="replace"))
                if bound is None:
                    time.sleep(0.2)
                    continue
                self.port = int(bound.group(1))
                self.url = f"http://127.0.0.1:{self.port}"
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    pass
                with urllib.request.urlopen(self.url + "/moto-api/data.json", timeout=5):
                    return
            except OSError:
                time.sleep(0.2)
        self.stop()
        raise RuntimeError(f"moto_server did not answer within {READY_TIMEOUT} s")

    def stop(self):
        """Stops the server; safe to call twice."""
        if self._process is not None:
            self._process.terminate()
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait(timeout=10)
            self._process = None
        if self._log is not None:
            self._log.close()
            self._log = None

    def enable_signature_checks(self, unchecked_requests=0):
        """From now on moto checks every request's signature and the caller's IAM policies, except
        for the next `unchecked_requests` (moto cannot answer unsigned requests, such as
        AssumeRoleWithWebIdentity, while it checks signatures)."""
        request = urllib.request.Request(self.url + "/moto-api/reset-auth", data=str(unchecked_requests).encode(),
                                         method="POST", headers={"Content-Type": "text/plain"})
        with urllib.request.urlopen(request, timeout=10) as answer:
            answer.read()

    def environment(self, access_key_id, secret_access_key, base=None, **extra):
        """An environment for a program under test: the given keys, every AWS endpoint at this server,
        no shared files, profile, region or metadata service of the machine; `extra` is added last."""
        env = dict(os.environ if base is None else base)
        for name in [k for k in env if k.startswith("AWS_")]:
            del env[name]
        env.update({
            "AWS_ACCESS_KEY_ID": access_key_id,
            "AWS_SECRET_ACCESS_KEY": secret_access_key,
            "AWS_ENDPOINT_URL": self.url,
            "AWS_EC2_METADATA_DISABLED": "true",
            "AWS_CONFIG_FILE": str(self.scratch / "no-aws-config"),
            "AWS_SHARED_CREDENTIALS_FILE": str(self.scratch / "no-aws-credentials"),
        })
        env.update(extra)
        return env

    # -- seeding ---------------------------------------------------------------------------------

    def client(self, service, account_id=DEFAULT_ACCOUNT, region="us-east-1"):
        """A boto3 client that writes into `account_id` (valid until signature checks are on)."""
        import boto3  # only the seeding side needs boto3

        client = boto3.client(service, endpoint_url=self.url, region_name=region,
                              aws_access_key_id="AKIASEEDING", aws_secret_access_key="seeding")

        def name_account(request, **_):
            request.headers["x-moto-account-id"] = account_id

        client.meta.events.register("before-sign", name_account)
        return client

    def create_operator(self, denied_role_arns=()):
        """The operator's IAM user in DEFAULT_ACCOUNT, allowed everything except assuming the
        denied roles; returns (access key id, secret access key)."""
        iam = self.client("iam")
        iam.create_user(UserName="operator")
        statements = [{"Effect": "Allow", "Action": "*", "Resource": "*"}]
        if denied_role_arns:
            statements.append({"Effect": "Deny", "Action": "sts:AssumeRole", "Resource": list(denied_role_arns)})
        iam.put_user_policy(UserName="operator", PolicyName="operator",
                            PolicyDocument=json.dumps({"Version": "2012-10-17", "Statement": statements}))
        key = iam.create_access_key(UserName="operator")["AccessKey"]
        return key["AccessKeyId"], key["SecretAccessKey"]

    def role_session(self, access_key_id, secret_access_key, role_arn):
        """Temporary credentials of the role, assumed with the given keys (also once signature checks
        are on), in the form the IAM Identity Center portal hands them out."""
        import boto3

        sts = boto3.client("sts", endpoint_url=self.url, region_name="us-east-1",
                           aws_access_key_id=access_key_id, aws_secret_access_key=secret_access_key)
        credentials = sts.assume_role(RoleArn=role_arn, RoleSessionName="sso-session")["Credentials"]
        return {"accessKeyId": credentials["AccessKeyId"], "secretAccessKey": credentials["SecretAccessKey"],
                "sessionToken": credentials["SessionToken"]}

    def add_account(self, account_id, role_name):
        """The role that the scan assumes in `account_id`, allowed everything; returns its ARN."""
        iam = self.client("iam", account_id)
        trust = {"Version": "2012-10-17", "Statement": [
            {"Effect": "Allow", "Principal": {"AWS": f"arn:aws:iam::{DEFAULT_ACCOUNT}:root"}, "Action": "sts:AssumeRole"}]}
        iam.create_role(RoleName=role_name, AssumeRolePolicyDocument=json.dumps(trust))
        iam.put_role_policy(RoleName=role_name, PolicyName="scan", PolicyDocument=json.dumps(
            {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "*", "Resource": "*"}]}))
        return role_arn(account_id, role_name)

    def remove_default_vpcs(self, account_id, region):
        """Deletes the default VPC (and its subnets) that moto creates in every region."""
        ec2 = self.client("ec2", account_id, region)
        for vpc in ec2.describe_vpcs(Filters=[{"Name": "is-default", "Values": ["true"]}])["Vpcs"]:
            for subnet in ec2.describe_subnets(Filters=[{"Name": "vpc-id", "Values": [vpc["VpcId"]]}])["Subnets"]:
                ec2.delete_subnet(SubnetId=subnet["SubnetId"])
            ec2.delete_vpc(VpcId=vpc["VpcId"])

    def add_vpc(self, account_id, region, cidr_block, secondary_cidr_blocks=(), name=None, ipv6=False):
        """A VPC with its primary and further IPv4 blocks, an optional Name tag and, when `ipv6`,
        an Amazon-provided IPv6 block; returns its id."""
        ec2 = self.client("ec2", account_id, region)
        vpc_id = ec2.create_vpc(CidrBlock=cidr_block, AmazonProvidedIpv6CidrBlock=ipv6)["Vpc"]["VpcId"]
        for block in secondary_cidr_blocks:
            ec2.associate_vpc_cidr_block(VpcId=vpc_id, CidrBlock=block)
        if name is not None:
            ec2.create_tags(Resources=[vpc_id], Tags=[{"Key": "Name", "Value": name}])
        return vpc_id

    def add_subnet(self, account_id, region, vpc_id, cidr_block=None, ipv6_cidr_block=None):
        """A subnet of the VPC; without `cidr_block` it is IPv6-only (give `ipv6_cidr_block`)."""
        ec2 = self.client("ec2", account_id, region)
        arguments = {"VpcId": vpc_id}
        if cidr_block is not None:
            arguments["CidrBlock"] = cidr_block
        if ipv6_cidr_block is not None:
            arguments["Ipv6CidrBlock"] = ipv6_cidr_block
        if cidr_block is None:
            arguments["Ipv6Native"] = True
        return ec2.create_subnet(**arguments)["Subnet"]["SubnetId"]

    def vpc_ipv6_block(self, account_id, region, vpc_id):
        """The VPC's first IPv6 block, for carving IPv6-only subnets."""
        ec2 = self.client("ec2", account_id, region)
        vpc = ec2.describe_vpcs(VpcIds=[vpc_id])["Vpcs"][0]
        return vpc["Ipv6CidrBlockAssociationSet"][0]["Ipv6CidrBlock"]


class MotoEstateTestCase(harness.ScratchTestCase):
    """Test cases that share one moto_server for the whole class: started once, seeded by the
    class's `seed` (before signature checks are on), stopped after the last case."""

    @classmethod
    def seed(cls):
        raise NotImplementedError("a MotoEstateTestCase seeds its estate in seed()")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.moto = MotoServer(harness.SCRATCH_ROOT / f"{cls.__name__}_moto_server")
        cls.moto.start()
        try:
            cls.seed()
        except BaseException:
            cls.moto.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.moto.stop()
        super().tearDownClass()
