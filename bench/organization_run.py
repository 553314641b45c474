#!/usr/bin/env python3
"""Organisation-scale benchmark of `generate` and `convert` against a synthetic AWS
(bench/synthetic_aws.py: every region of every account with its default VPC and two VPCs more).

    bench/organization_run.py --bin build-release/bin                     # 10,000 x 17 at -j 256
    bench/organization_run.py --bin build-release/bin --accounts 200 --jobs 64

Runs, each under /usr/bin/time -v, with `account_ids: controller` (the controller stand-in lists the
accounts):

  scale      `generate -d -e -r`: the discovery file, the workbook and the address map of one scan,
             every answer held back 250 ms, a token bucket of 100 refilled at 20 per second per
             account and region; reported against the ideal wall time, requests / jobs x 250 ms
             (the requests of one account: one AssumeRole, then per region one DescribeVpcs and
             one DescribeSubnets), with the CPU time, the peak memory, the throttling answers, the
             lines written to standard error (-q: the WARNINGs, among them the overlaps') and the size
             of the address map's first page.
  convert    `convert` of that workbook: its discovery file must hold exactly the VPCs and gateway
             subnets of the scale run's discovery file.
  verify     `generate --verify` of the scale run's discovery file against the same estate: it
             must find that nothing blocks the migration.
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
VPCS_PER_REGION = 2  # besides the default VPC
RUN_TIMEOUT = 7200


def account_id(index):
    return f"{100000000000 + index:012d}"


def timed_run(program, args, env, folder, name):
    """Runs a program under /usr/bin/time -v; returns (exit status, wall s, CPU s, peak MiB, lines of
    standard error)."""
    report = folder / f"{name}.time"
    with open(folder / f"{name}.log", "wb") as log:
        status = subprocess.run(["/usr/bin/time", "-v", "-o", str(report), str(program), *map(str, args)], env=env,
                                cwd=folder, stdout=subprocess.DEVNULL, stderr=log, timeout=RUN_TIMEOUT).returncode
    text = report.read_text()

    def field(label):
        return re.search(re.escape(label) + r":\s*(\S+)", text).group(1)

    wall = field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":")
    seconds = sum(float(part) * 60 ** i for i, part in enumerate(reversed(wall)))
    cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
    with open(folder / f"{name}.log", "rb") as log:
        lines = sum(1 for _ in log)
    return status, seconds, cpu, int(field("Maximum resident set size (kbytes)")) / 1024, lines


def vpc_entries(path):
    """(vpc_id, hvn_cidr) of every VPC entry of a discovery file, read line by line: a YAML parser in
    Python takes minutes over the files of 10,000 accounts."""
    entries, vpc = [], None
    if not path.exists():
        return entries
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            text = line.strip()
            if text.startswith("- vpc_id:"):
                vpc = text.split(":", 1)[1].strip().strip('"')
            elif text.startswith("hvn_cidr:") and vpc is not None:
                entries.append((vpc, text.split(":", 1)[1].strip().strip('"')))
                vpc = None
    return entries


def row(name, accounts, regions, jobs, bucket, measured, ideal=None, throttled="", checked=""):
    status, wall, cpu, peak, lines = measured
    ratio = f"{wall / ideal:.2f}" if ideal else ""
    print(f"| {name} | {accounts} x {len(regions)} | {jobs} | {bucket} | {status} | {wall:.1f} | "
          f"{f'{ideal:.1f}' if ideal else ''} | {ratio} | {cpu:.1f} | {peak:.1f} | {throttled} | {lines} | {checked} |",
          flush=True)


def estate(folder, controller, accounts, regions):
    controller.accounts = [{"account_number": account_id(a), "account_name": f"bench-{a}", "cloud_type": 1}
                           for a in range(accounts)]
    config = folder / "config.yaml"
    config.write_text(json.dumps({"controller": {"ip": controller.address, "username": "admin"},
                                  "account_ids": "controller", "aws_regions": regions,
                                  "defaults": {"role_name": "discovery-readonly"}}, indent=2) + "\n")
    return config


def environment(folder, aws):
    env = {k: v for k, v in os.environ.items() if not k.startswith("AWS_")}
    env.update({"AWS_ACCESS_KEY_ID": "AKIABENCHOPERATOR000", "AWS_SECRET_ACCESS_KEY": "bench",
                "AWS_ENDPOINT_URL": aws.url, "AWS_EC2_METADATA_DISABLED": "true",
                "AWS_CONFIG_FILE": str(folder / "none"), "AWS_SHARED_CREDENTIALS_FILE": str(folder / "none"),
                "halvane_controller_password": PASSWORD})
    return env


def scale_runs(bin_dir, work, accounts, regions, jobs, runs):
    """The scan with every output, then convert of its workbook and --verify of its discovery file."""
    folder = work / "scale"
    folder.mkdir(parents=True, exist_ok=True)
    statuses = []
    vpcs = accounts * len(regions) * (VPCS_PER_REGION + 1)
    requests = accounts * (1 + 2 * len(regions))
    ideal = requests / jobs * DELAY
    with SyntheticAws(delay=DELAY, bucket=(100, 20), vpcs=VPCS_PER_REGION) as aws, \
            ControllerStandIn(folder / "controller", password=PASSWORD) as controller:
        config = estate(folder, controller, accounts, regions)
        env = environment(folder, aws)
        discovery, workbook, report = folder / "discovery.yaml", folder / "discovery.xlsx", folder / "map.html"
        measured = timed_run(bin_dir / "generate", ["-q", "-j", jobs, "-c", config, "-d", discovery, "-e", workbook,
                                                    "-r", report], env, folder, "scale")
        stats = aws.stats()
        listed = vpc_entries(discovery)
        first_page = report.stat().st_size / 1e6 if report.exists() else 0
        row("scale: -d -e -r", accounts, regions, jobs, "100, 20 per s", measured, ideal, stats["throttled"],
            f"{len(listed)} of {vpcs} VPCs; first page {first_page:.2f} MB")
        statuses.append(measured[0])

        if "convert" in runs:
            converted = folder / "converted.yaml"
            measured = timed_run(bin_dir / "convert", ["-q", "-e", workbook, "-y", converted], env, folder, "convert")
            same = sorted(vpc_entries(converted)) == sorted(listed)
            row("convert", accounts, regions, "", "", measured,
                checked=f"{len(vpc_entries(converted))} VPCs, {'the same' if same else 'NOT the same'} as -d")
            statuses.append(measured[0] if same else 1)

        if "verify" in runs:
            measured = timed_run(bin_dir / "generate", ["-q", "-j", jobs, "-c", config, "--verify", discovery], env,
                                 folder, "verify")
            log = (folder / "verify.log").read_text(encoding="utf-8", errors="replace")
            blocks = "nothing blocks" if measured[0] == 0 else "something blocks"
            row("verify", accounts, regions, jobs, "100, 20 per s", measured, ideal, aws.stats()["throttled"],
                blocks + ("" if "Traceback" not in log else "; see verify.log"))
            statuses.append(measured[0])
    return statuses


def throttled_run(bin_dir, work, regions):
    folder = work / "throttled"
    folder.mkdir(parents=True, exist_ok=True)
    accounts, jobs = 20, 64
    with SyntheticAws(delay=DELAY, bucket=(1, 1), vpcs=VPCS_PER_REGION) as aws, \
            ControllerStandIn(folder / "controller", password=PASSWORD) as controller:
        config = estate(folder, controller, accounts, regions)
        discovery = folder / "discovery.yaml"
        measured = timed_run(bin_dir / "generate", ["-q", "-j", jobs, "-c", config, "-d", discovery],
                             environment(folder, aws), folder, "throttled")
        listed = len(vpc_entries(discovery))
        requests = accounts * (1 + 2 * len(regions))
        row("throttled: -d", accounts, regions, jobs, "1, 1 per s", measured, requests / jobs * DELAY,
            aws.stats()["throttled"], f"{listed} of {accounts * len(regions) * (VPCS_PER_REGION + 1)} VPCs")
    return [measured[0]]


def main(argv=None):
    parser = argparse.ArgumentParser(description="Organisation-scale benchmark of generate and convert against a "
                                                 "synthetic AWS.")
    parser.add_argument("--bin", type=Path, required=True, help="folder with the built programs (a Release build)")
    parser.add_argument("--accounts", type=int, default=10000)
    parser.add_argument("--regions", type=int, default=17, choices=range(1, len(REGIONS) + 1), metavar="1..17")
    parser.add_argument("--jobs", type=int, default=256)
    parser.add_argument("--keep", type=Path, help="keep the runs' files in this folder")
    parser.add_argument("--runs", default="scale,convert,verify,throttled",
                        help="the runs to make, comma-separated (convert and verify need scale)")
    options = parser.parse_args(argv)
    bin_dir = options.bin.resolve()
    work = options.keep.resolve() if options.keep else Path(tempfile.mkdtemp(prefix="bench-organization-"))
    regions = REGIONS[:options.regions]
    print("| run | accounts x regions | --jobs | bucket | exit | wall s | ideal s | wall / ideal | CPU s | peak MiB "
          "| throttling answers | lines of standard error | checked |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    runs = options.runs.split(",")
    statuses = []
    if "scale" in runs:
        statuses += scale_runs(bin_dir, work, options.accounts, regions, options.jobs, runs)
    if "throttled" in runs:
        statuses += throttled_run(bin_dir, work, regions)
    print(f"\nfiles: {work}")
    return 0 if all(status == 0 for status in statuses) else 1


if __name__ == "__main__":
    sys.exit(main())
