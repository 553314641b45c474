"""Random document trees written by our YAML writer read back equal through our reader and through
PyYAML's pure-Python reader, and the reverse for files PyYAML writes. Fixed seed, bounded size."""

import datetime
import json
import math
import random
import subprocess
import sys
import unittest
from pathlib import Path

import yaml

from support import harness

TOOL = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else harness.BIN_DIR / "yaml_property_tool"
TREES = 250

TRICKY_WORDS = ["yes", "No", "ON", "off", "true", "False", "null", "~", "", "123", "0x1F", "012", "0b101",
                "1_000", "1.5", "1e5", "-.5", ".inf", "-.INF", ".nan", "190:20:30", "2024-01-02", "<<", "=",
                "- a", "a: b", "#x", "&a", "*a", "!tag", "%x", "@x", "`x", "|", ">", "---", "...", "? x",
                "[a]", "{a}", "a,b", " lead", "trail ", "y", "n", "0o17", "08", "+12", "-0"]
CHARACTER_POOLS = [
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
    " !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~",
    "".join(map(chr, range(0x00, 0x20))) + "\x7f\x85\xa0\u2028\u2029\ufeff",
    "éßøπЖ中文日本語한국어",
    "\U0001F600\U00010348\U0010FFFD",
]
SIMPLE_KEYS = ["name", "vpc_id", "account", "region_name", "cidr", "a", "b2", "zone/x", "long.key", "with space",
               "x-y", "item_7"]


class Random:
    def __init__(self, seed):
        self.rng = random.Random(seed)

    def text(self):
        if self.rng.random() < 0.25:
            return self.rng.choice(TRICKY_WORDS)
        length = self.rng.choice([0, 1, 2, 5, 12, 40, 150])
        return "".join(self.rng.choice(self.rng.choice(CHARACTER_POOLS)) for _ in range(length))

    def key(self, simple):
        if simple or self.rng.random() < 0.4:
            return self.rng.choice(SIMPLE_KEYS)
        return self.text()

    def number(self, simple):
        kind = self.rng.randrange(4)
        if kind == 0:
            return self.rng.randint(-1000, 1000)
        if kind == 1:
            return self.rng.choice([2**63 - 1, -2**63, 2**64 - 1, 0, -1, 10**12])
        if simple:
            return self.rng.choice([0.5, -1.25, 3.0, 100.0])
        if kind == 2:
            return self.rng.uniform(-1e6, 1e6)
        return self.rng.random() * 10.0 ** self.rng.randint(-300, 300) * self.rng.choice([1, -1])

    def timestamp(self):
        if self.rng.random() < 0.5:
            return datetime.date(self.rng.randint(1, 9999), self.rng.randint(1, 12), self.rng.randint(1, 28))
        zone = self.rng.choice([None, datetime.timezone.utc, datetime.timezone(datetime.timedelta(hours=-5, minutes=30))])
        return datetime.datetime(self.rng.randint(1900, 2100), self.rng.randint(1, 12), self.rng.randint(1, 28),
                                 self.rng.randrange(24), self.rng.randrange(60), self.rng.randrange(60),
                                 self.rng.choice([0, 100000, 123456]), tzinfo=zone)

    def scalar(self, simple, extra):
        choice = self.rng.randrange(6 if extra else 5)
        if choice == 0:
            return self.text()
        if choice == 1:
            return self.number(simple)
        if choice == 2:
            return self.rng.choice([True, False])
        if choice == 3:
            return None
        if choice == 4:
            return self.text()
        return self.rng.choice([self.timestamp(), float("inf"), float("-inf"), float("nan")])

    def value(self, depth, simple, extra):
        roll = self.rng.random()
        if depth < 6 and roll < 0.2:
            return self.mapping(depth + 1, simple, extra)
        if depth < 6 and roll < 0.35:
            return [self.value(depth + 1, simple, extra) for _ in range(self.rng.randrange(4))]
        if roll < 0.37:
            return self.chain(self.rng.randint(20, 60), simple, extra)
        return self.scalar(simple, extra)

    def chain(self, depth, simple, extra):
        node = self.scalar(simple, extra)
        for _ in range(depth):
            node = {self.key(simple): node} if self.rng.random() < 0.5 else [node]
        return node

    def mapping(self, depth, simple, extra):
        return {self.key(simple): self.value(depth, simple, extra) for _ in range(self.rng.randrange(5))}


def same(a, b):
    """Equality that tells True from 1, keeps key order and treats nan as equal to nan."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float):
        if math.isnan(a):
            return math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    return a == b


class Quoted(str):
    pass


class SequenceIndentDumper(yaml.Dumper):
    def increase_indent(self, flow=False, indentless=False):
        return super().increase_indent(flow, False)


SequenceIndentDumper.add_representer(
    Quoted, lambda dumper, data: dumper.represent_scalar("tag:yaml.org,2002:str", data, style='"'))


def quoted(data):
    if isinstance(data, dict):
        return {key: quoted(value) for key, value in data.items()}
    if isinstance(data, list):
        return [quoted(item) for item in data]
    return Quoted(data) if isinstance(data, str) else data


def pyyaml_read(text):
    return yaml.load(text, Loader=yaml.SafeLoader)  # the pure-Python reader, not libyaml


class YamlPropertyTest(harness.ScratchTestCase):
    def run_tool(self, mode, pairs):
        arguments = [str(path) for pair in pairs for path in pair]
        subprocess.run([str(TOOL), mode, *arguments], check=True, timeout=300)

    def write_json_trees(self, trees, prefix):
        pairs = []
        for index, tree in enumerate(trees):
            source = self.scratch / f"{prefix}{index}.json"
            source.write_text(json.dumps(tree, ensure_ascii=True), encoding="ascii")
            pairs.append((source, self.scratch / f"{prefix}{index}.yaml"))
        return pairs

    def test_trees_written_by_us_read_back_equal_through_both_readers(self):
        generator = Random(20240501)
        trees = [generator.mapping(0, simple=False, extra=False) for _ in range(TREES)]
        pairs = self.write_json_trees(trees, "ours")
        self.run_tool("json-to-yaml", pairs)
        back = [(written, written.with_suffix(".back.json")) for _, written in pairs]
        self.run_tool("yaml-to-json", back)
        for tree, (_, written), (_, json_back) in zip(trees, pairs, back):
            data = written.read_bytes()
            self.assertTrue(data.isascii(), written)
            text = data.decode("ascii")
            self.assertFalse(text.startswith("ERROR"), f"{written}: {text}")
            self.assertTrue(same(pyyaml_read(text), tree), f"PyYAML reads {written} differently")
            ours = json_back.read_text(encoding="ascii")
            self.assertFalse(ours.startswith("ERROR"), f"{json_back}: {ours}")
            self.assertTrue(same(json.loads(ours), tree), f"our reader reads {written} differently")

    def test_layout_equals_the_reference_dumper_for_simple_keys(self):
        generator = Random(77)
        trees = [generator.mapping(0, simple=True, extra=False) for _ in range(TREES // 2)]
        pairs = self.write_json_trees(trees, "layout")
        self.run_tool("json-to-yaml", pairs)
        for tree, (_, written) in zip(trees, pairs):
            expected = yaml.dump(quoted(tree), Dumper=SequenceIndentDumper, sort_keys=False, width=10**9)
            self.assertEqual(written.read_text(encoding="ascii"), expected, written)

    def test_files_written_by_pyyaml_read_and_rewrite_unchanged(self):
        generator = Random(4242)
        self.agreeing = 0
        trees = [generator.mapping(0, simple=False, extra=True) for _ in range(TREES)]
        pairs = []
        for index, tree in enumerate(trees):
            source = self.scratch / f"theirs{index}.yaml"
            source.write_text(yaml.dump(tree, Dumper=yaml.SafeDumper, sort_keys=False,
                                        allow_unicode=generator.rng.random() < 0.5,
                                        default_flow_style=generator.rng.choice([False, None, True]),
                                        explicit_start=generator.rng.random() < 0.3,
                                        indent=generator.rng.choice([2, 4]),
                                        width=generator.rng.choice([20, 80, 1000])), encoding="utf-8")
            pairs.append((source, self.scratch / f"theirs{index}.out.yaml"))
        self.run_tool("yaml-to-yaml", pairs)
        for tree, (source, rewritten) in zip(trees, pairs):
            text = rewritten.read_text(encoding="ascii")
            self.assertFalse(text.startswith("ERROR"), f"{source}: {text}")
            # What PyYAML itself reads from its file: its writer garbles some long folded keys.
            expected = pyyaml_read(source.read_text(encoding="utf-8"))
            self.assertTrue(same(pyyaml_read(text), expected), f"{source} rewritten as {rewritten} differs")
            if same(expected, tree):
                self.agreeing += 1
        self.assertGreater(self.agreeing, TREES * 9 // 10)


if __name__ == "__main__":
    harness.main()
