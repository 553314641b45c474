#!/usr/bin/env python3
"""Organisation-scale benchmark of `generate` against a synthetic AWS (bench/synthetic_aws.py).

    bench/organization_run.py --bin build-release/bin                     # 10,000 x 17 at -j 256
    bench/organization_run.py --bin build-release/bin --accounts 200 --jobs 64

Two runs, each writing the discovery file of `account_ids: controller` (the controller stand-in
lists the accounts) under /usr/bin/time -v:

  scale      every answer held back 250 ms, a token bucket of 100 refilled at 20 per second per
             account and region; reported against the ideal wall time, requests / jobs x 250 ms
             (the requests of one account: one AssumeRole, then per region one DescribeVpcs and
             one DescribeSubnets), with the CPU time, the peak memory and the throttling answers.
  throttled  20 accounts at -j 64 with the buckets cut to 1 token refilled at 1 per second: every
             VPC must still be in the file.

Every server listens on 127.0.0.1 only and stops with this script.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE_DIR / "tests"))
sys.path.insert(0, str(SOURCE_DIR / "bench"))

from support.controller_stand_in import ControllerStandIn  # noqa: E402
from synthetic_aws import REGIONS, SyntheticAws  # noqa: E402

PASSWORD = "bench-password"
DELAY = 0.25
VPCS_PER_REGION = 2


def account_id(index):
    return f"{100000000000 + index:012d}"


def timed_run(generate, args, env, folder):
    """Runs generate under /usr/bin/time -v; returns (exit status, wall s, CPU s, peak MiB)."""
    report = folder / "time.txt"
    with open(folder / "generate.log", "wb") as log:
        status = subprocess.run(["/usr/bin/time", "-v", "-o", str(report), str(generate), *args], env=env,
                                cwd=folder, stdout=log, stderr=subprocess.STDOUT, timeout=7200).returncode
    text = report.read_text()

    def field(label):
        return re.search(re.escape(label) + r":\s*(\S+)", text).group(1)

    wall = field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":")
    seconds = sum(float(part) * 60 ** i for i, part in enumerate(reversed(wall)))
    cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
    return status, seconds, cpu, int(field("Maximum resident set size (kbytes)")) / 1024


def run(generate, work, name, accounts, regions, jobs, bucket):
    folder = work / name
    folder.mkdir(parents=True, exist_ok=True)
    with SyntheticAws(delay=DELAY, bucket=bucket, vpcs=VPCS_PER_REGION) as aws, \
            ControllerStandIn(folder / "controller", password=PASSWORD) as controller:
        controller.accounts = [{"account_number": account_id(a), "account_name": f"bench-{a}", "cloud_type": 1}
                               for a in range(accounts)]
        config = folder / "config.yaml"
        config.write_text(json.dumps({"controller": {"ip": controller.address, "username": "admin"},
                                      "account_ids": "controller", "aws_regions": regions,
                                      "defaults": {"role_name": "discovery-readonly"}}, indent=2) + "\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith("AWS_")}
        env.update({"AWS_ACCESS_KEY_ID": "AKIABENCHOPERATOR000", "AWS_SECRET_ACCESS_KEY": "bench",
                    "AWS_ENDPOINT_URL": aws.url, "AWS_EC2_METADATA_DISABLED": "true",
                    "AWS_CONFIG_FILE": str(folder / "none"), "AWS_SHARED_CREDENTIALS_FILE": str(folder / "none"),
                    "halvane_controller_password": PASSWORD})
        discovery = folder / "discovery.yaml"
        status, wall, cpu, peak = timed_run(generate, ["-q", "-j", str(jobs), "-c", str(config), "-d", str(discovery)],
                                            env, folder)
        stats = aws.stats()
    # The file's VPC entries, counted by their first line: a YAML parser in Python takes minutes
    # over the 60 MB of 10,000 accounts.
    listed = 0
    if discovery.exists():
        with open(discovery, encoding="utf-8") as lines:
            listed = sum(1 for line in lines if line.lstrip().startswith("- vpc_id:"))
    requests = accounts * (1 + 2 * len(regions))
    ideal = requests / jobs * DELAY
    print(f"| {name} | {accounts} x {len(regions)} | {jobs} | {bucket[0]} / {bucket[1]} per s | {status} "
          f"| {wall:.1f} | {ideal:.1f} | {wall / ideal:.2f} | {cpu:.1f} | {peak:.1f} | {stats['throttled']} "
          f"| {listed} of {accounts * len(regions) * VPCS_PER_REGION} |", flush=True)
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(description="Organisation-scale benchmark of generate against a synthetic AWS.")
    parser.add_argument("--bin", type=Path, required=True, help="folder with the built generate (a Release build)")
    parser.add_argument("--accounts", type=int, default=10000)
    parser.add_argument("--regions", type=int, default=17, choices=range(1, len(REGIONS) + 1), metavar="1..17")
    parser.add_argument("--jobs", type=int, default=256)
    parser.add_argument("--keep", type=Path, help="keep the runs' files in this folder")
    parser.add_argument("--runs", default="scale,throttled", help="the runs to make, comma-separated")
    options = parser.parse_args(argv)
    generate = options.bin.resolve() / "generate"
    work = options.keep.resolve() if options.keep else Path(tempfile.mkdtemp(prefix="bench-organization-"))
    regions = REGIONS[:options.regions]
    print("| run | accounts x regions | --jobs | bucket | exit | wall s | ideal s | wall / ideal | CPU s | peak MiB "
          "| throttled | VPCs listed |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    runs = options.runs.split(",")
    statuses = []
    if "scale" in runs:
        statuses.append(run(generate, work, "scale", options.accounts, regions, options.jobs, (100, 20)))
    if "throttled" in runs:
        statuses.append(run(generate, work, "throttled", 20, regions, 64, (1, 1)))
    print(f"\nfiles: {work}")
    return 0 if all(status == 0 for status in statuses) else 1


if __name__ == "__main__":
    sys.exit(main())
