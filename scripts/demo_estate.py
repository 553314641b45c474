#!/usr/bin/env python3
"""The demo's estate: a local AWS (moto_server) and a local Halvane Controller stand-in, a small
estate of three accounts seeded into it, a configuration for it, and one run of `generate` for
its outputs (discovery file, workbook, address map) followed by `convert` on the workbook.

    scripts/demo_estate.py --bin build-demo/bin --out demo-output

Everything it starts listens on 127.0.0.1 only and is stopped when it ends, also on Ctrl-C or
SIGTERM. The ids of the processes it started are kept in <out>/demo.pids while they run, so a
caller that has to kill this script hard can still stop them.
"""

import argparse
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE_DIR / "tests"))

from support.moto import MotoServer, role_arn  # noqa: E402

ROLE_NAME = "halvane-discovery"
CONTROLLER_USER = "admin"
CONTROLLER_PASSWORD = "demo-password"
REGIONS = ["us-east-1", "eu-west-1", "ap-southeast-2", "us-west-2"]
ACCOUNTS = [
    {"account_number": "111111111111", "account_name": "prod-network", "cloud_type": 1},
    {"account_number": "222222222222", "account_name": "dev-sandbox", "cloud_type": 1},
    {"account_number": "333333333333", "account_name": "shared-services", "cloud_type": 1},
]
REFUSING_ACCOUNT = "222222222222"
STAND_IN_START_TIMEOUT = 60.0
PROGRAM_TIMEOUT = 600

# (account, region, primary block, secondary blocks, Name tag or None, subnets)
VPCS = [
    ("111111111111", "us-east-1", "10.10.0.0/16", ["100.64.0.0/22"], "Production VPC East",
     ["10.10.0.0/24", "10.10.1.0/24", "10.10.2.0/23"]),
    # The primary block is carved up completely; the gateway subnet comes from the secondary block.
    ("111111111111", "us-east-1", "10.20.0.0/24", ["10.21.0.0/24"], "shared services",
     ["10.20.0.0/25", "10.20.0.128/25", "10.21.0.0/26"]),
    ("111111111111", "eu-west-1", "10.30.0.0/20", [], "payments eu west",
     ["10.30.0.0/27", "10.30.0.64/26"]),
    # Full: every address of its only block is in a subnet, so no gateway subnet can be proposed.
    ("111111111111", "eu-west-1", "10.40.0.0/24", [], "legacy full vpc",
     ["10.40.0.0/25", "10.40.0.128/26", "10.40.0.192/26"]),
    ("111111111111", "ap-southeast-2", "10.50.0.0/22", [], None, ["10.50.0.0/24"]),
    ("222222222222", "us-east-1", "172.16.0.0/16", [], "sandbox", ["172.16.0.0/24"]),
    # Its second secondary block lies in Production VPC East's 100.64.0.0/22: an overlap across accounts.
    ("333333333333", "us-east-1", "10.60.0.0/21", ["10.61.0.0/24", "100.64.1.0/24"],
     "analytics platform with a very long name", ["10.60.0.0/22", "10.60.4.0/23", "10.60.6.0/24"]),
    # Over the on-premises range of EXTERNAL_CIDRS.
    ("333333333333", "us-west-2", "192.168.0.0/24", [], "edge  ingress", []),
]
# Held for a planned subnet of "payments eu west", whose gateway subnet therefore comes after it.
RESERVED_CIDRS = ["10.30.0.32/27"]
# The data centre's network.
EXTERNAL_CIDRS = ["192.168.0.0/16"]

# The folder of the address map's account pages, beside its first page.
MAP_FOLDER = "address-map_files"

# What each file of the output folder is, for the list at the end; files not named here are listed
# without a word, so that the list holds every file the demo left.
FILES = {
    "config.yaml": "configuration used",
    "discovery.yaml": "discovery file",
    "discovery.xlsx": "discovery workbook",
    "address-map.html": "address map: open it in a browser",
    "address-map_files": "the address map's page of each account and the data of its search",
    "converted.yaml": "workbook converted back",
    "controller/controller-accounts.json": "the account list the controller stand-in served",
    "controller/controller-cert.pem": "the controller stand-in's self-signed certificate",
    "controller/controller-key.pem": "the controller stand-in's private key",
    "controller/controller-requests.jsonl": "log of the controller stand-in: every request it got",
    "moto/moto_server.log": "log of moto_server, the local AWS",
}


class Stopped(Exception):
    """SIGTERM or SIGINT arrived: unwind and stop everything that was started."""


def _stop_on_signal(signum, _frame):
    raise Stopped(signal.Signals(signum).name)


class ControllerProcess:
    """The controller stand-in as its own process (its command-line mode)."""

    def __init__(self, folder, max_seconds):
        self.folder = Path(folder)
        self.max_seconds = max_seconds
        self.process = None
        self.address = None

    def start(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        accounts = self.folder / "controller-accounts.json"
        accounts.write_text(json.dumps(ACCOUNTS, indent=2), encoding="utf-8")
        self.process = subprocess.Popen(
            [sys.executable, str(SOURCE_DIR / "tests" / "support" / "controller_stand_in.py"), "--port", "0",
             "--accounts", str(accounts), "--record", str(self.folder / "controller-requests.jsonl"),
             "--folder", str(self.folder), "--username", CONTROLLER_USER, "--password", CONTROLLER_PASSWORD,
             "--max-seconds", str(self.max_seconds)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        deadline = time.monotonic() + STAND_IN_START_TIMEOUT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                line = self.process.stdout.readline()
                if line.startswith("listening on "):
                    self.address = line.split()[-1]
                    return self
                if not line and self.process.poll() is not None:
                    break
        self.stop()
        raise RuntimeError("the controller stand-in did not start")

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
            self.process.stdout.close()
            self.process = None


def seed(moto):
    """The estate: one operator user, three accounts (one of which refuses the role), VPCs in four
    regions. Returns the operator's keys."""
    keys = moto.create_operator(denied_role_arns=[role_arn(REFUSING_ACCOUNT, ROLE_NAME)])
    for account in ACCOUNTS:
        moto.add_account(account["account_number"], ROLE_NAME)
        for region in REGIONS:
            moto.remove_default_vpcs(account["account_number"], region)
    for account, region, primary, secondary, name, subnets in VPCS:
        vpc = moto.add_vpc(account, region, primary, secondary, name=name)
        for subnet in subnets:
            moto.add_subnet(account, region, vpc, subnet)
    return keys


def write_config(path, controller_address):
    lines = [
        "# The demo estate: three accounts behind a local controller stand-in, four regions.",
        "controller:",
        f'  ip: "{controller_address}"',
        f'  username: "{CONTROLLER_USER}"',
        "account_ids:",
        *[f'  - "{account["account_number"]}"' for account in ACCOUNTS],
        "aws_regions:",
        *[f'  - "{region}"' for region in REGIONS],
        "defaults:",
        f'  role_name: "{ROLE_NAME}"',
        "  add_vpc_cidr: false",
        "  hpe: false",
        "  managed_tgw: false",
        '  filter_cidrs: ["10.255.0.0/16"]',
        '  spoke_gw_size: "t3.medium"',
        '  transit_gw_name: "transit-gw-east"',
        '  gw_zones: ["a", "b"]',
        '  domain: "default"',
        "  encrypt: true",
        "  inspection: false",
        "reserved_cidrs:",
        *[f'  - "{cidr}"' for cidr in RESERVED_CIDRS],
        "external_cidrs:",
        *[f'  - "{cidr}"' for cidr in EXTERNAL_CIDRS],
    ]
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def run_program(program, args, env, cwd):
    """Runs one of the programs with its log lines passed through; returns its exit status."""
    print(f"\n$ {program.name} {' '.join(args)}", flush=True)
    with subprocess.Popen([str(program), *args], env=env, cwd=cwd) as process:
        try:
            return process.wait(timeout=PROGRAM_TIMEOUT)
        except BaseException:
            process.kill()
            process.wait(timeout=10)
            raise


def print_files(out):
    """Every file in `out`, those of FILES first in its order, each with what it is; the address
    map's folder as one entry."""
    pages = out / MAP_FOLDER
    left = sorted([str(path.relative_to(out)) for path in out.rglob("*")
                   if path.is_file() and path.name != "demo.pids" and pages not in path.parents] +
                  ([MAP_FOLDER] if pages.is_dir() else []))
    for name in [name for name in FILES if name in left] + [name for name in left if name not in FILES]:
        print(f"  {out / name}" + (f"   ({FILES[name]})" if name in FILES else ""))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", type=Path, required=True, help="folder with the built generate and convert")
    parser.add_argument("--out", type=Path, required=True, help="folder for the configuration and outputs")
    options = parser.parse_args(argv)
    bin_dir, out = options.bin.resolve(), options.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    for stale in ("discovery.yaml", "discovery.xlsx", "address-map.html", "converted.yaml",
                  "controller/controller-requests.jsonl"):
        (out / stale).unlink(missing_ok=True)
    shutil.rmtree(out / MAP_FOLDER, ignore_errors=True)

    signal.signal(signal.SIGTERM, _stop_on_signal)
    signal.signal(signal.SIGINT, _stop_on_signal)
    pid_file = out / "demo.pids"
    moto = MotoServer(out / "moto")
    controller = ControllerProcess(out / "controller", max_seconds=PROGRAM_TIMEOUT * 3)
    try:
        print("Starting moto_server and the controller stand-in on 127.0.0.1 ...", flush=True)
        moto.start()
        pid_file.write_text(f"{moto._process.pid}\n", encoding="utf-8")
        controller.start()
        pid_file.write_text(f"{moto._process.pid}\n{controller.process.pid}\n", encoding="utf-8")
        print(f"  AWS (moto_server):       {moto.url}")
        print(f"  Halvane Controller:      https://{controller.address}")

        print("Seeding the estate: 3 accounts (222222222222 refuses the role), 4 regions, "
              f"{len(VPCS)} VPCs ...", flush=True)
        key, secret = seed(moto)
        moto.enable_signature_checks()

        config = out / "config.yaml"
        write_config(config, controller.address)
        env = moto.environment(key, secret, halvane_controller_password=CONTROLLER_PASSWORD)
        status = run_program(bin_dir / "generate",
                             ["-c", str(config), "-d", str(out / "discovery.yaml"), "-e", str(out / "discovery.xlsx"),
                              "-r", str(out / "address-map.html")],
                             env, out)
        if status != 0:
            print(f"demo: generate ended with exit status {status}", file=sys.stderr)
            return status
        if (bin_dir / "convert").exists():
            status = run_program(bin_dir / "convert",
                                 ["-e", str(out / "discovery.xlsx"), "-y", str(out / "converted.yaml")], env, out)
            if status != 0:
                print(f"demo: convert ended with exit status {status}", file=sys.stderr)
                return status
        else:
            print("\n(convert is not built yet: skipping the workbook conversion)")

        print("\nDone. Files:")
        print_files(out)
        return 0
    except Stopped as stop:
        print(f"\ndemo: stopped by {stop}", file=sys.stderr)
        return 130
    finally:
        # Further signals must not cut the clean-up short.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        controller.stop()
        moto.stop()
        pid_file.unlink(missing_ok=True)


if __name__ == "__main__":
    sys.exit(main())
