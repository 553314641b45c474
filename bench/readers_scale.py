#!/usr/bin/env python3
"""The readers of the programs' own files at organisation scale: convert of the workbook of
10,000 accounts x 17 regions x 3 VPCs (510,000 rows) and `generate --verify`'s reader of the
discovery file of the same estate, each under /usr/bin/time -v.

    bench/readers_scale.py --bin build-release/bin                  # 10,000 accounts
    bench/readers_scale.py --bin build-release/bin --accounts 1000

Both files are made with the programs' own writers (bench/readers_scale.cpp, built with
-DGENERATOR_BUILD_BENCHMARKS=ON); the verify reader reads the file account by account, has every
gateway subnet chosen anew and writes the refreshed file from a second reading. The targets: convert
within 60 s and 1 GiB; the reader within 300 MiB.
"""

import argparse
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from organization_run import timed_run  # noqa: E402


def main(argv=None):
    parser = argparse.ArgumentParser(description="Times convert and the --verify reader on an organisation's files.")
    parser.add_argument("--bin", type=Path, required=True, help="folder with convert and readers_scale (Release)")
    parser.add_argument("--accounts", type=int, default=10000)
    parser.add_argument("--keep", type=Path, help="keep the files in this folder")
    options = parser.parse_args(argv)
    binaries = options.bin.resolve()
    folder = options.keep.resolve() if options.keep else Path(tempfile.mkdtemp(prefix="bench-readers-"))
    folder.mkdir(parents=True, exist_ok=True)
    tool = binaries / "readers_scale"
    subprocess.run([tool, "workbook", str(options.accounts), folder / "estate.xlsx"], check=True)
    subprocess.run([tool, "discovery", str(options.accounts), folder / "estate.yaml"], check=True)

    print("| reader | file | MiB | exit | wall s | CPU s | peak MiB |")
    print("|---|---|---|---|---|---|---|")
    statuses = []
    for name, command, source in (
            ("convert", [binaries / "convert", "-q", "-e", "estate.xlsx", "-y", "converted.yaml"], "estate.xlsx"),
            ("--verify reader", [tool, "verify", "estate.yaml", "refreshed.yaml"], "estate.yaml")):
        status, wall, cpu, peak, _ = timed_run(command[0], command[1:], dict(os.environ), folder,
                                               name.strip("-").split()[0])
        size = (folder / source).stat().st_size / (1 << 20)
        print(f"| {name} | {source} ({options.accounts * 51} VPCs) | {size:.1f} | {status} | {wall:.1f} | {cpu:.1f} "
              f"| {peak:.1f} |", flush=True)
        statuses.append(status)
    print(f"\nfiles: {folder}")
    return 0 if all(status == 0 for status in statuses) else 1


if __name__ == "__main__":
    sys.exit(main())
