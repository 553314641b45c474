#!/usr/bin/env python3
"""Address map at whole-run scale: how large the page of a 3,400-VPC, 170,000-subnet estate is and
how long a browser takes to show it.

    bench/address_map_scale.py --bin build-bench/bin            # 20 x 17 x 10 x 50, merged runs
    bench/address_map_scale.py --bin build-bench/bin --sparse   # no two subnets adjacent

It writes the page with address_map_scale (built with -DGENERATOR_BUILD_BENCHMARKS=ON), then has
Debian's headless chromium take a screenshot of it (load, parse, style, layout, paint) several
times, and of an empty page as many times, and reports the median of each and their difference.
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
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    if not browser.available():
        raise SystemExit("chromium is not installed (scripts/install-deps installs it)")

    with tempfile.TemporaryDirectory(prefix="address-map-bench-") as folder:
        folder = Path(folder)
        page, empty, png = folder / "map.html", folder / "empty.html", folder / "shot.png"
        empty.write_text("<!DOCTYPE html><title>empty</title>")
        args = [str(options.bin / "address_map_scale"), str(page), str(options.accounts), str(options.regions),
                str(options.vpcs), str(options.subnets)] + (["sparse"] if options.sparse else [])
        print(subprocess.run(args, check=True, capture_output=True, text=True).stdout.strip())
        print(f"page: {page.stat().st_size / 1e6:.2f} MB")
        shown, blank = [], []
        for _ in range(options.runs):
            blank.append(timed_screenshot(empty, png))
            shown.append(timed_screenshot(page, png))
        print(f"browser, empty page: median {statistics.median(blank):.2f} s over {options.runs} runs")
        print(f"browser, address map: median {statistics.median(shown):.2f} s "
              f"(min {min(shown):.2f}, max {max(shown):.2f})")
        print(f"address map beyond the empty page: {statistics.median(shown) - statistics.median(blank):.2f} s")


if __name__ == "__main__":
    main()
