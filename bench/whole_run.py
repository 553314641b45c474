#!/usr/bin/env python3
"""Whole-run benchmark of `generate`: a large estate in a local moto server, one run per output.

    bench/whole_run.py --bin build-release/bin                       # 20 x 17 x 10 x 50
    bench/whole_run.py --bin build-release/bin --accounts 2 --regions 3 --vpcs 4 --subnets 20
    bench/whole_run.py --bin build-release/bin --accounts 4 --regions 6 --vpcs 10 --subnets 20 \
        --delay 0.25                                                  # a far-away AWS

For each value of --jobs (default: 1 and 8) and each output (the discovery file, the workbook) it
runs `generate` once under /usr/bin/time -v and reports wall time, CPU time (user + system) and
peak resident memory, and counts the AWS requests the run made, per action, against the fewest a
run can make for this estate:
  AssumeRole       one per account per run
  DescribeRegions  none (the regions are configured)
  DescribeVpcs     one page of up to 64 VPCs per region, at least one
  DescribeSubnets  one page of up to 1,000 subnets per region with VPCs
With --delay, every AWS answer is held back that long by a proxy in front of moto (see
tests/support/aws_proxy.py), and the report adds what one run made one request at a time with a
subnet listing per block tried per VPC (as before the scan went concurrent) would have waited:
its request count times the delay.

The moto server runs inside this process behind a small counting layer, and the estate is written
straight into moto's backends rather than through its HTTP API, so 170,000 subnets are seeded in
minutes rather than hours. Every server listens on 127.0.0.1 only and stops with this script.
"""

import argparse
import io
import json
import logging
import math
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from collections import Counter
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE_DIR / "tests"))

from support import harness  # noqa: E402
from support.aws_proxy import AwsProxy  # noqa: E402
from support.controller_stand_in import ControllerStandIn  # noqa: E402

REGIONS = ["us-east-1", "us-east-2", "us-west-1", "us-west-2", "ca-central-1", "eu-west-1", "eu-west-2",
           "eu-west-3", "eu-central-1", "eu-north-1", "ap-south-1", "ap-northeast-1", "ap-northeast-2",
           "ap-northeast-3", "ap-southeast-1", "ap-southeast-2", "sa-east-1"]
PAGE_SIZE = 64
REGION_SUBNET_PAGE_SIZE = 1000
ROLE_NAME = "discovery-readonly"
PASSWORD = "bench-password"
RUN_TIMEOUT = 3600
COUNTED = ("AssumeRole", "DescribeRegions", "DescribeVpcs", "DescribeSubnets")


class CountingApp:
    """WSGI layer in front of moto: counts each request by its query-API action."""

    def __init__(self, app):
        self.app = app
        self.counts = Counter()
        self.lock = threading.Lock()

    def __call__(self, environ, start_response):
        length = int(environ.get("CONTENT_LENGTH") or 0)
        body = environ["wsgi.input"].read(length) if length else b""
        environ["wsgi.input"] = io.BytesIO(body)
        fields = urllib.parse.parse_qs(environ.get("QUERY_STRING", ""))
        if body:
            fields.update(urllib.parse.parse_qs(body.decode("utf-8", errors="replace")))
        action = fields.get("Action", ["(other)"])[0]
        with self.lock:
            self.counts[action] += 1
        return self.app(environ, start_response)

    def take(self):
        with self.lock:
            counts, self.counts = self.counts, Counter()
        return counts


class LocalMoto:
    """moto's server application on a werkzeug thread, behind CountingApp."""

    def __init__(self):
        from moto.moto_server.werkzeug_app import DomainDispatcherApplication, create_backend_app
        from werkzeug.serving import make_server

        # One log line per request would cost the server time and bury the report.
        logging.getLogger("werkzeug").setLevel(logging.ERROR)
        self.counter = CountingApp(DomainDispatcherApplication(create_backend_app))
        self.port = harness.free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.server = make_server("127.0.0.1", self.port, self.counter, threaded=True)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.thread.join(timeout=10)
        return False


def account_id(index):
    return f"{100000000000 + index * 1111:012d}"


def seed(accounts, regions, vpcs_per_region, subnets_per_vpc):
    """Writes the estate into moto's EC2 backends; returns the count of VPCs with a full primary block.

    VPC v of a region gets the primary block 10.<v>.0.0/16 carved into /24 subnets and a second
    block 100.<64+v>.0.0/24; every tenth VPC instead gets a /22 primary block filled completely by
    its subnets when there are 2 to 64 of them (the gateway subnet then comes from the second block). Blocks are disjoint by
    construction, so moto's own overlap check, which rescans the region for every new subnet, is
    skipped while seeding."""
    from moto.ec2.models import ec2_backends

    if subnets_per_vpc > 256 or vpcs_per_region > 190:
        raise SystemExit("at most 190 VPCs per region and 256 subnets per VPC")
    full_primaries = 0
    for a in range(accounts):
        for region in regions:
            backend = ec2_backends[account_id(a)][region]
            for subnet in backend.describe_subnets(filters={"vpc-id": backend.default_vpc.id}):
                backend.delete_subnet(subnet.id)
            backend.delete_vpc(backend.default_vpc.id)
            zone = f"{region}a"
            backend.describe_subnets = lambda subnet_ids=None, filters=None: []
            try:
                for v in range(vpcs_per_region):
                    full = v % 10 == 9 and 2 <= subnets_per_vpc <= 64
                    primary = f"10.{v}.0.0/22" if full else f"10.{v}.0.0/16"
                    vpc = backend.create_vpc(primary)
                    backend.associate_vpc_cidr_block(vpc.id, cidr_block=f"100.{64 + v}.0.0/24",
                                                     amazon_provided_ipv6_cidr_block=False)
                    backend.create_tags([vpc.id], {"Name": f"bench vpc {a}-{region}-{v}"})
                    for cidr in (full_carving(v, subnets_per_vpc) if full else
                                 (f"10.{v}.{s}.0/24" for s in range(subnets_per_vpc))):
                        backend.create_subnet(vpc.id, cidr, availability_zone=zone)
                    full_primaries += full
            finally:
                del backend.describe_subnets
    return full_primaries


def full_carving(v, count):
    """Exactly `count` subnets (2 to 64) that fill 10.<v>.0.0/22: the largest block is halved until
    there are enough, so no subnet is smaller than the /28 that AWS allows."""
    blocks = [(0, 1024)]
    while len(blocks) < count:
        blocks.sort(key=lambda b: (-b[1], b[0]))
        offset, size = blocks.pop(0)
        blocks += [(offset, size // 2), (offset + size // 2, size // 2)]
    return [f"10.{v}.{o // 256}.{o % 256}/{32 - size.bit_length() + 1}" for o, size in sorted(blocks)]


def write_config(path, controller, accounts, regions):
    text = {"controller": {"ip": controller, "username": "admin"},
            "account_ids": [account_id(a) for a in range(accounts)], "aws_regions": regions,
            "defaults": {"role_name": ROLE_NAME, "add_vpc_cidr": False, "hpe": False,
                         "transit_gw_name": "transit-gw"}}
    # JSON is YAML; account numbers stay quoted.
    path.write_text(json.dumps(text, indent=2) + "\n", encoding="utf-8")


def timed_run(generate, args, env, folder):
    """Runs generate under /usr/bin/time -v; returns (exit status, measures)."""
    report = folder / "time.txt"
    with open(folder / "generate.log", "wb") as log:
        status = subprocess.run(["/usr/bin/time", "-v", "-o", str(report), str(generate), *args], env=env,
                                cwd=folder, stdout=log, stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT).returncode
    text = report.read_text()

    def field(label):
        return re.search(re.escape(label) + r":\s*(\S+)", text).group(1)

    wall = field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":")
    seconds = sum(float(part) * 60 ** i for i, part in enumerate(reversed(wall)))
    return status, {"wall_s": seconds, "cpu_s": float(field("User time (seconds)")) + float(field("System time (seconds)")),
                    "peak_mib": int(field("Maximum resident set size (kbytes)")) / 1024}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Whole-run benchmark of generate against a local moto estate.")
    parser.add_argument("--bin", type=Path, required=True, help="folder with the built generate (a Release build)")
    parser.add_argument("--accounts", type=int, default=20)
    parser.add_argument("--regions", type=int, default=17, choices=range(1, len(REGIONS) + 1), metavar="1..17")
    parser.add_argument("--vpcs", type=int, default=10, help="VPCs per region")
    parser.add_argument("--subnets", type=int, default=50, help="subnets per VPC (at most 256)")
    parser.add_argument("--keep", type=Path, help="keep the runs' files in this folder")
    parser.add_argument("--delay", type=float, default=0.0, help="seconds every AWS answer is held back")
    parser.add_argument("--jobs", default="1,8", help="the --jobs values to run, comma-separated")
    options = parser.parse_args(argv)
    generate = options.bin.resolve() / "generate"
    regions = REGIONS[:options.regions]

    os.environ.setdefault("MOTO_ALLOW_NONEXISTENT_REGION", "false")
    work = options.keep.resolve() if options.keep else Path(tempfile.mkdtemp(prefix="bench-whole-run-"))
    work.mkdir(parents=True, exist_ok=True)
    accounts, vpcs, subnets = options.accounts, options.vpcs, options.subnets
    print(f"estate: {accounts} accounts x {len(regions)} regions x {vpcs} VPCs x {subnets} subnets "
          f"= {accounts * len(regions) * vpcs} VPCs, {accounts * len(regions) * vpcs * subnets} subnets", flush=True)

    with LocalMoto() as moto, ControllerStandIn(work / "controller", password=PASSWORD) as controller:
        controller.accounts = [{"account_number": account_id(a), "account_name": f"bench-{a}", "cloud_type": 1}
                               for a in range(accounts)]
        started = time.monotonic()
        full_primaries = seed(accounts, regions, vpcs, subnets)
        print(f"seeded in {time.monotonic() - started:.0f} s", flush=True)
        moto.counter.take()

        config = work / "config.yaml"
        write_config(config, controller.address, accounts, regions)
        env = {k: v for k, v in os.environ.items() if not k.startswith("AWS_")}
        proxy = AwsProxy(moto.url, delay=options.delay).start() if options.delay > 0 else None
        env.update({"AWS_ACCESS_KEY_ID": "AKIABENCHOPERATOR000", "AWS_SECRET_ACCESS_KEY": "bench",
                    "AWS_ENDPOINT_URL": proxy.url if proxy else moto.url, "AWS_EC2_METADATA_DISABLED": "true",
                    "AWS_CONFIG_FILE": str(work / "none"), "AWS_SHARED_CREDENTIALS_FILE": str(work / "none"),
                    "halvane_controller_password": PASSWORD})
        vpc_pages = math.ceil(max(vpcs, 1) / PAGE_SIZE)
        region_subnet_pages = math.ceil(max(vpcs * subnets, 1) / REGION_SUBNET_PAGE_SIZE) if vpcs else 0
        minimum = {"AssumeRole": accounts, "DescribeRegions": 0,
                   "DescribeVpcs": accounts * len(regions) * vpc_pages,
                   "DescribeSubnets": accounts * len(regions) * region_subnet_pages}
        # One request at a time, and a listing of up to 64 subnets per block tried per VPC.
        one_at_a_time_requests = (accounts + accounts * len(regions) * vpc_pages
                                  + (accounts * len(regions) * vpcs + full_primaries)
                                  * math.ceil(max(subnets, 1) / PAGE_SIZE))

        results = []
        try:
            for jobs in [int(value) for value in options.jobs.split(",")]:
                for label, flag, name in (("discovery file", "-d", "discovery.yaml"),
                                          ("workbook", "-e", "discovery.xlsx")):
                    folder = work / f"jobs-{jobs}" / name.replace(".", "-")
                    folder.mkdir(parents=True, exist_ok=True)
                    status, measures = timed_run(
                        generate, ["-q", "-j", str(jobs), "-c", str(config), flag, str(folder / name)], env, folder)
                    counts = moto.counter.take()
                    results.append((jobs, label, status, measures, counts))
                    print(f"--jobs {jobs} {label}: exit {status}, wall {measures['wall_s']:.1f} s, "
                          f"CPU {measures['cpu_s']:.1f} s, peak {measures['peak_mib']:.1f} MiB", flush=True)
        finally:
            if proxy:
                proxy.stop()

    print()
    print("| --jobs | output | exit | wall s | CPU s | peak MiB | " + " | ".join(f"{a} (min)" for a in COUNTED)
          + " | other |")
    print("|---|---|---|---|---|---|" + "---|" * len(COUNTED) + "---|")
    for jobs, label, status, m, counts in results:
        other = sum(n for action, n in counts.items() if action not in COUNTED)
        cells = " | ".join(f"{counts.get(a, 0)} ({minimum[a]})" for a in COUNTED)
        print(f"| {jobs} | {label} | {status} | {m['wall_s']:.1f} | {m['cpu_s']:.1f} | {m['peak_mib']:.1f} | {cells} "
              f"| {other} |")
    if options.delay > 0:
        print(f"\none request at a time with a subnet listing per block tried per VPC: {one_at_a_time_requests} "
              f"requests x {options.delay} s = {one_at_a_time_requests * options.delay:.1f} s of waiting per output")
    print(f"\nfiles: {work}")
    return 0 if all(status == 0 for _, _, status, _, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())
