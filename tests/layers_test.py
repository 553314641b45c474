"""The layers of the source tree: a lower layer includes nothing of a higher one.

Each rule names the folders (or files) of a layer, under src/, and the include paths that layer
may not use; a project header is included by its path under src/ ("aws/sigv4.hpp")."""

import re
import tempfile
import unittest
from pathlib import Path

from support import harness

# What only the programs' own pieces may include.
PRODUCT = ("generator/generate/", "generator/convert/", "generator/controller/", "generator/config/", "ovra/")

# (layer, its folders or files under src/, forbidden include prefixes, include prefixes it alone may use)
RULES = [
    # The base layer (files, signals, UTF-8, HTML escaping, hex, the error kinds it raises) uses only itself.
    ("base", ["base"], (), ("base/",)),
    ("untrusted", ["untrusted"], PRODUCT + ("http/", "aws/", "generator/"), None),
    ("http", ["http"], PRODUCT + ("aws/", "generator/"), None),
    ("aws", ["aws"], ("generator/",), None),
    ("ipv4", ["ipv4"], (), ("ipv4/",)),
    # The file formats and their registries: the base layer, what arrives from outside, the logger.
    ("serializers", ["serializers"], (), ("serializers/", "base/", "untrusted/", "generator/log/")),
    ("log", ["generator/log"], PRODUCT + ("http/", "aws/", "generator/cli/"), None),
    ("cli", ["generator/cli"], PRODUCT + ("http/", "aws/"), None),
    ("data files and the shared headers",
     ["generator/common/data",
      "generator/common/errors.hpp", "generator/common/gateway_size.hpp",
      "generator/common/workbook_layout.hpp"],
     PRODUCT + ("http/", "aws/", "generator/cli/"), None),
    # The migration model: the document tree, ipv4 and the AWS name forms only.
    ("ovra", ["ovra"], (), ("ovra/", "ipv4/", "aws/names.hpp")),
    # The rules and outputs that work on the scan's typed records, never on AWS or the controller.
    ("gateway subnet, gateway name, address map, workbook rows, drift check",
     ["generator/generate/gateway_subnet.hpp", "generator/generate/gateway_subnet.cpp",
      "generator/generate/gateway_name.hpp", "generator/generate/gateway_name.cpp",
      "generator/generate/address_map.hpp", "generator/generate/address_map.cpp",
      "generator/generate/address_map_assets.hpp", "generator/generate/address_map_assets.cpp",
      "generator/generate/address_map_geometry.hpp", "generator/generate/address_map_geometry.cpp",
      "generator/generate/address_map_cards.hpp", "generator/generate/address_map_cards.cpp",
      "generator/generate/workbook_output.hpp", "generator/generate/workbook_output.cpp",
      "generator/generate/entry_values.hpp",
      "generator/generate/drift_check.hpp", "generator/generate/drift_check.cpp",
      "generator/generate/discovery_file.hpp", "generator/generate/discovery_file.cpp",
      "generator/generate/scan_records.hpp"],
     ("aws/", "http/", "generator/controller/", "generator/generate/scan_engine.hpp",
      "generator/generate/scan_plan.hpp", "generator/generate/discovery_services.hpp",
      "generator/generate/account_access.hpp", "generator/generate/discovery.hpp"), None),
    # How the scan reaches an account knows nothing of the scan that asks it.
    ("account access",
     ["generator/generate/account_access.hpp", "generator/generate/account_access.cpp"],
     ("generator/generate/scan_", "generator/generate/discovery", "generator/generate/estate_scan.hpp"), None),
    # The engine and its plan reach the controller and AWS only through the services, and know
    # neither the outputs nor the run that feeds them.
    ("scan engine and plan",
     ["generator/generate/scan_engine.hpp", "generator/generate/scan_engine.cpp",
      "generator/generate/scan_plan.hpp", "generator/generate/scan_plan.cpp"],
     ("generator/controller/", "generator/generate/discovery.hpp", "generator/generate/estate_scan.hpp"),
     None),
    # The address map's parts know nothing of the scan or the page they are drawn in.
    ("address map's geometry",
     ["generator/generate/address_map_geometry.hpp", "generator/generate/address_map_geometry.cpp"],
     (), ("generator/generate/address_map_geometry.hpp", "ipv4/")),
    ("address map's assets",
     ["generator/generate/address_map_assets.hpp", "generator/generate/address_map_assets.cpp"],
     (), ("generator/generate/address_map_assets.hpp",)),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = {".hpp", ".cpp", ".h", ".cc"}


def sources(src, part):
    path = src / part
    if path.is_file():
        return [path]
    return sorted(file for file in path.rglob("*") if file.suffix in SOURCE_SUFFIXES)


def violations(src):
    """Every include that breaks a rule, as "file: include (layer)"."""
    found = []
    for layer, parts, forbidden, allowed in RULES:
        for part in parts:
            for file in sources(src, part):
                for included in INCLUDE.findall(file.read_text(errors="replace")):
                    refused = included.startswith(forbidden) if forbidden else False
                    if allowed is not None and not included.startswith(allowed):
                        refused = True
                    if refused:
                        found.append(f"{file.relative_to(src)}: {included} ({layer})")
    return found


class Layers(unittest.TestCase):
    def test_no_layer_includes_a_higher_one(self):
        src = harness.SOURCE_DIR / "src"
        for _, parts, _, _ in RULES:
            for part in parts:
                self.assertTrue((src / part).exists(), f"the rules name {part}, which is gone: keep them up to date")
        self.assertEqual(violations(src), [])

    def test_an_include_across_the_rule_is_found(self):
        with tempfile.TemporaryDirectory() as scratch:
            src = Path(scratch)
            (src / "aws").mkdir()
            (src / "aws" / "sigv4.cpp").write_text('#include "aws/sigv4.hpp"\n#include "generator/log/log.hpp"\n')
            (src / "ovra").mkdir()
            (src / "ovra" / "config.cpp").write_text('#include "ovra/config.hpp"\n  #  include "http/http.hpp"\n')
            self.assertEqual(violations(src), ["aws/sigv4.cpp: generator/log/log.hpp (aws)",
                                               "ovra/config.cpp: http/http.hpp (ovra)"])


if __name__ == "__main__":
    harness.main()
