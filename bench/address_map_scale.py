#!/usr/bin/env python3
"""Address map at scale: how large the first page and its folder of account pages are, and how long a
browser takes to show the first page and to search every VPC from it.

    bench/address_map_scale.py --bin build-bench/bin            # 20 x 17 x 10 x 50, merged runs
    bench/address_map_scale.py --bin build-bench/bin --sparse   # no two subnets adjacent
    bench/address_map_scale.py --bin build-bench/bin --organisation --accounts 10000
                                  # every region with its default VPC and 2 VPCs of 3 subnets

It writes the map with address_map_scale (built with -DGENERATOR_BUILD_BENCHMARKS=ON), then has
Debian's headless chromium take a screenshot of the first page (load, parse, style, layout, paint)
several times, and of an empty page as many times, and reports the median of each and their
difference; then it times the first page's search for one VPC id, which reads the data of every
VPC from the folder, and for one account's page.
"""

import argparse
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE_DIR / "tests"))

from support import browser  # noqa: E402


def timed_screenshot(page, png):
    start = time.monotonic()
    browser.screenshot(page, png, width=1600, height=1000, timeout=600)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", type=Path, default=Path("build-bench/bin"))
    parser.add_argument("--accounts", type=int, default=20)
    parser.add_argument("--regions", type=int, default=17)
    parser.add_argument("--vpcs", type=int, default=10)
    parser.add_argument("--subnets", type=int, default=50)
    parser.add_argument("--sparse", action="store_true", help="leave every other /24 free")
    parser.add_argument("--organisation", action="store_true",
                        help="the organisation benchmark's estate: a default VPC and --vpcs VPCs (default 2) of "
                             "--subnets /27 subnets (default 3) in every region")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    if options.organisation:
        options.vpcs = 2 if options.vpcs == 10 else options.vpcs
        options.subnets = 3 if options.subnets == 50 else options.subnets
    if not browser.available():
        raise SystemExit("chromium is not installed (scripts/install-deps installs it)")

    with tempfile.TemporaryDirectory(prefix="address-map-bench-") as folder:
        folder = Path(folder)
        page, empty, png = folder / "map.html", folder / "empty.html", folder / "shot.png"
        empty.write_text("<!DOCTYPE html><title>empty</title>")
        shape = ["sparse"] if options.sparse else ["organisation"] if options.organisation else []
        args = [str(options.bin / "address_map_scale"), str(page), str(options.accounts), str(options.regions),
                str(options.vpcs), str(options.subnets)] + shape
        print(subprocess.run(args, check=True, capture_output=True, text=True).stdout.strip())
        print(f"first page: {page.stat().st_size / 1e6:.2f} MB")
        shown, blank = [], []
        for _ in range(options.runs):
            blank.append(timed_screenshot(empty, png))
            shown.append(timed_screenshot(page, png))
        print(f"browser, empty page: median {statistics.median(blank):.2f} s over {options.runs} runs")
        print(f"browser, address map: median {statistics.median(shown):.2f} s "
              f"(min {min(shown):.2f}, max {max(shown):.2f})")
        print(f"address map beyond the empty page: {statistics.median(shown) - statistics.median(blank):.2f} s")

        # The last VPC of the estate, found from the first page: every piece of the search's data is read.
        last = max((folder / "map_files").glob("vpcs-*.js"), key=lambda path: int(path.stem.split("-")[1]))
        wanted = last.read_text().rsplit("\\n", 1)[-1].split("\\t")[3]
        start = time.monotonic()
        dom = browser.dump_dom(page, f"q={wanted}", timeout=600)
        seconds = time.monotonic() - start
        listed = wanted in dom.split('id="results"', 1)[-1]
        print(f"browser, first page searching {wanted} over every VPC: {seconds:.2f} s, "
              f"{'found' if listed else 'NOT found'}")
        account_page = next((folder / "map_files").glob("account-*.html"))
        start = time.monotonic()
        browser.screenshot(account_page, png, width=1600, height=1000, timeout=600)
        print(f"browser, one account's page ({account_page.stat().st_size / 1e3:.0f} kB): "
              f"{time.monotonic() - start:.2f} s")


if __name__ == "__main__":
    main()
