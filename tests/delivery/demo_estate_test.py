"""The demo's estate run (scripts/demo_estate.py) against this build: what a newcomer gets from the
demo, and that every process it started is gone afterwards, also after an interruption."""

import os
import signal
import subprocess
import sys
import time

import yaml

from support import browser, harness

SCRIPT = harness.SOURCE_DIR / "scripts" / "demo_estate.py"
RUN_TIMEOUT = 600


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A child of ours that ended but was not reaped yet is gone as far as the demo is concerned.
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def pids_of_children(pid):
    """The ids of the processes whose parent is `pid`."""
    children = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", encoding="ascii", errors="replace") as stat:
                    fields = stat.read().split(")")[-1].split()
            except OSError:
                continue
            if int(fields[1]) == pid:
                children.append(int(entry))
    return children


# How the map draws each mark today; the one place of this test that knows it.
PIECES = {"": "existing subnets", "f": "free space", "g": "gateway subnet", "r": "reserved range"}


def marks_of(element):
    """The marks drawn inside `element`: the kinds of its bar pieces and the words of its badges."""
    return {PIECES[rect.attributes.get("class", "")] for rect in element.find_all("rect")} | \
        {badge.text for badge in element.find_all("span", "badge")}


def map_marks(first_page):
    """The marks the legend of the map's first page explains, those the first page itself shows (an
    account's), and those of each VPC card of its account pages by its VPC id."""
    dom = browser.parse(browser.dump_dom(first_page))
    legend = dom.find_all("div", "legend")[0]
    shown = {badge.text for section in dom.find_all("section") if "legend" not in section.attributes.get("class", "")
             for badge in section.find_all("span", "badge")}
    cards = {}
    for page in sorted((first_page.parent / (first_page.stem + "_files")).glob("account-*.html")):
        for card in browser.parse(browser.dump_dom(page)).find_all("article", "vpc"):
            cards[card.attributes["data-vpc"]] = marks_of(card)
    return marks_of(legend), shown, cards


class DemoEstateTest(harness.ScratchTestCase):
    def start_demo(self):
        return subprocess.Popen([sys.executable, str(SCRIPT), "--bin", str(harness.BIN_DIR), "--out", str(self.scratch)],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def test_demo_writes_both_outputs_and_stops_its_servers(self):
        demo = self.start_demo()
        output, _ = demo.communicate(timeout=RUN_TIMEOUT)
        self.assertEqual(demo.returncode, 0, output)

        # The refusing account is reported and skipped; the others are scanned.
        self.assertIn("- Failed to assume role into account 222222222222 -- skipped", output)
        discovery = yaml.safe_load((self.scratch / "discovery.yaml").read_text(encoding="utf-8"))
        accounts = {entry["account_id"]: entry for entry in discovery["account_info"]}
        self.assertEqual(list(accounts), ["111111111111", "333333333333"])
        self.assertEqual(accounts["111111111111"]["account_name"], "prod-network")

        vpcs, places = {}, {}
        for entry in accounts.values():
            self.assertEqual([region["region"] for region in entry["regions"]],
                             ["us-east-1", "eu-west-1", "ap-southeast-2", "us-west-2"])
            for region in entry["regions"]:
                for vpc in region["vpcs"]:
                    vpcs[vpc["spoke_gw_name"]] = vpc
                    places[vpc["spoke_gw_name"]] = (f"{vpc['vpc_id']} (account {entry['account_id']}, "
                                                    f"region {region['region']})")
        self.assertEqual(len(vpcs), 7)
        # Name tags with spaces, one cut to 23 characters; the VPC without a Name tag is named by its id.
        self.assertEqual(vpcs["Production_VPC_East-HVNGW"]["hvn_cidr"], "10.10.4.0/27")
        self.assertEqual(vpcs["shared_services-HVNGW"]["hvn_cidr"], "10.21.0.64/27")  # from the second block
        self.assertEqual(vpcs["payments_eu_west-HVNGW"]["hvn_cidr"], "10.30.0.128/27")  # after the reserved /27
        self.assertEqual(vpcs["legacy_full_vpc-HVNGW"]["hvn_cidr"], "")  # no room anywhere
        self.assertEqual(vpcs["analytics_platform_with-HVNGW"]["hvn_cidr"], "10.60.7.0/27")
        self.assertEqual(vpcs["edge__ingress-HVNGW"]["hvn_cidr"], "192.168.0.0/27")
        unnamed = [name for name in vpcs if name.startswith("vpc-")]
        self.assertEqual(len(unnamed), 1)
        self.assertEqual(vpcs[unnamed[0]]["hvn_cidr"], "10.50.1.0/27")
        self.assertIn("Could not compute hvn_cidr for vpc", output)
        # The overlap across accounts and the VPC over the external range are named.
        east, analytics, edge = (places[name] for name in ("Production_VPC_East-HVNGW",
                                                           "analytics_platform_with-HVNGW", "edge__ingress-HVNGW"))
        lines = output.splitlines()
        # At the default verbosity they are grouped by shared block and by external range, the summary first.
        for line in ("2 VPCs share addresses with other VPCs (1 pair); VPCs that overlap cannot be reached side by side",
                     f"100.64.0.0/22 (with 1 block inside it) is shared by 2 VPCs in 2 accounts, e.g. {east} "
                     f"100.64.0.0/22, {analytics} 100.64.1.0/24",
                     f"external_cidrs 192.168.0.0/16 shares addresses with 1 VPC in 1 account, e.g. {edge} 192.168.0.0/24"):
            self.assertIn("generator.generate:WARNING " + line, lines)

        self.assertTrue((self.scratch / "discovery.xlsx").stat().st_size > 0)
        if (harness.BIN_DIR / "convert").exists():
            converted = yaml.safe_load((self.scratch / "converted.yaml").read_text(encoding="utf-8"))
            self.assertEqual([a["account_id"] for a in converted["account_info"]], ["111111111111", "333333333333"])
        self.assertIn(str(self.scratch / "discovery.xlsx"), output)
        self.assertIn(str(self.scratch / "address-map.html"), output)

        # Every mark the map's legend explains has an example on the demo's page, on the VPCs it belongs to.
        # (A failed region would keep the demo's workbook from being written, so SCAN FAILED has none.)
        legend, shown, marks = map_marks(self.scratch / "address-map.html")
        self.assertEqual(len(marks), 7)
        self.assertEqual(set().union(*marks.values()) | shown, legend - {"SCAN FAILED"})
        self.assertIn("SKIPPED", shown)
        by_name = {name: marks[vpc["vpc_id"]] for name, vpc in vpcs.items()}
        for mark, names in (("reserved range", ["payments_eu_west-HVNGW"]), ("NO ROOM", ["legacy_full_vpc-HVNGW"]),
                            ("OVERLAPS", ["Production_VPC_East-HVNGW", "analytics_platform_with-HVNGW"]),
                            ("EXTERNAL", ["edge__ingress-HVNGW"])):
            self.assertEqual(sorted(name for name, found in by_name.items() if mark in found), sorted(names), mark)

        # The list at the end names every file the demo left, what it is beside each.
        listed = output.split("Done. Files:\n", 1)[1].splitlines()
        # The address map's folder of pages stands as one entry.
        pages = self.scratch / "address-map_files"
        written = sorted([str(path) for path in self.scratch.rglob("*") if path.is_file() and pages not in path.parents] +
                         [str(pages)])
        self.assertEqual(sorted(line.split()[0] for line in listed), written)
        for name in ("controller/controller-cert.pem", "controller/controller-key.pem",
                     "controller/controller-requests.jsonl", "moto/moto_server.log"):
            self.assertRegex(next(line for line in listed if line.split()[0] == str(self.scratch / name)), r"\(.+\)$")
        self.assertFalse((self.scratch / "demo.pids").exists())

    def test_interrupted_demo_stops_every_process_it_started(self):
        demo = self.start_demo()
        pids_file = self.scratch / "demo.pids"
        started = []
        deadline = time.monotonic() + 120
        # Interrupt once both servers run (two ids in the file).
        while time.monotonic() < deadline and demo.poll() is None:
            if pids_file.exists():
                started = [int(line) for line in pids_file.read_text().split()]
                if len(started) == 2:
                    break
            time.sleep(0.1)
        self.assertEqual(len(started), 2, "the demo did not start its two servers")
        started += pids_of_children(demo.pid)
        demo.send_signal(signal.SIGINT)
        output, _ = demo.communicate(timeout=60)
        self.assertEqual(demo.returncode, 130, output)
        self.assertIn("demo: stopped by SIGINT", output)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and any(alive(pid) for pid in started):
            time.sleep(0.1)
        self.assertEqual([pid for pid in started if alive(pid)], [])
        self.assertFalse(pids_file.exists())


if __name__ == "__main__":
    harness.main()
