"""The installed programs: `cmake --install` into a scratch prefix and the Debian package made by
cpack, each run from a folder that has nothing to do with the build."""

import gzip
import os
import re
import shutil
import subprocess
import unittest
from pathlib import Path

from support import harness

BUILD_DIR = Path(os.environ.get("GENERATOR_BUILD_DIR", "build"))
SANITIZED = os.environ.get("GENERATOR_SANITIZE") == "1"
DATA_DIR = harness.SOURCE_DIR / "data"
# Runtimes that only the sanitizer build of the tests links.
SANITIZER_PACKAGES = {"libasan8", "libubsan1"}
# The programs' installed names: the build names are taken in /usr/bin (ImageMagick's convert).
INSTALLED_NAMES = {"generate": "halvane-generate", "convert": "halvane-convert"}
BASH_COMPLETION = Path("/usr/share/bash-completion/bash_completion")


def run(*command, cwd=None, env=None, timeout=300):
    return subprocess.run([str(part) for part in command], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout)


def example_text(name):
    """What the example option prints: the data file's text and one line break."""
    return (DATA_DIR / name).read_text(encoding="utf-8") + "\n"


class InstalledProgramsCase(harness.ScratchTestCase):
    """Shared checks of an installed tree whose programs lie in `bin`."""

    def check_installed_programs(self, bin_dir):
        # Only the programs, and only under their installed names.
        self.assertEqual(sorted(p.name for p in bin_dir.iterdir()), sorted(INSTALLED_NAMES.values()))
        generate, convert = INSTALLED_NAMES["generate"], INSTALLED_NAMES["convert"]
        elsewhere = self.scratch / "elsewhere"
        elsewhere.mkdir(exist_ok=True)
        env = dict(os.environ, PATH=f"{bin_dir}:/usr/bin:/bin")

        example = run(generate, "--example-config", cwd=elsewhere, env=env)
        self.assertEqual(example.returncode, 0, example.stderr)
        self.assertEqual(example.stdout, example_text("config.yaml"))

        # No data folder beside the installed program: the share folder is the one used, and a run
        # without a configuration still fails with the usual message, not a missing data file. The
        # hint names the program as it was started.
        self.assertFalse((bin_dir / "data").exists())
        missing = run(generate, "-c", "no-such.yaml", cwd=elsewhere, env=env)
        self.assertEqual(missing.returncode, 1)
        self.assertIn("FileNotFoundError: Configuration file not found: no-such.yaml", missing.stderr)
        self.assertIn(f"You can generate an example file with '{generate} --example-config'", missing.stderr)

        # -e and -y are required even here; nothing is read from or written to them.
        template = run(convert, "--example-template", "-e", "unused.xlsx", "-y", "unused.yaml",
                       cwd=elsewhere, env=env)
        self.assertEqual(template.returncode, 0, template.stderr)
        self.assertEqual(template.stdout, example_text("template.yaml"))
        self.assertFalse((elsewhere / "unused.yaml").exists())

        for name in INSTALLED_NAMES.values():
            version = run(name, "--version", cwd=elsewhere, env=env)
            self.assertRegex(version.stdout, rf"^{name} \d")
            refused = run(name, "--no-such-option", cwd=elsewhere, env=env)
            self.assertEqual(refused.returncode, 2)
            self.assertTrue(refused.stderr.startswith(f"usage: {name} "), refused.stderr)
            self.assertIn(f"\n{name}: error: ", refused.stderr)

    # What Tab offers after each command line, as bash-completion finds and loads the installed
    # completion of a program on PATH (in the prefix's share folder, as in /usr/local/share).
    COMPLETIONS = {
        ("halvane-generate", "-c", ""): {"a.yaml", "b.YML", "sub"},
        ("halvane-generate", "--verify", ""): {"a.yaml", "b.YML", "sub"},
        ("halvane-generate", "-e", ""): {"c.xlsx", "sub"},
        ("halvane-generate", "--report", ""): {"d.html", "sub"},
        ("halvane-generate", "-j", ""): set(),
        ("halvane-generate", "--ver"): {"--verbose", "--version", "--verify"},
        ("halvane-convert", "-y", ""): {"a.yaml", "b.YML", "sub"},
        ("halvane-convert", "--excel", ""): {"c.xlsx", "sub"},
        ("halvane-convert", "--ex"): {"--excel", "--example-template"},
    }

    def check_completion(self, bin_dir):
        self.assertTrue(BASH_COMPLETION.is_file(), f"{BASH_COMPLETION} missing: run scripts/install-deps")
        files = self.scratch / "completion"
        files.mkdir()
        for name in ("a.yaml", "b.YML", "c.xlsx", "d.html", "e.txt"):
            (files / name).touch()
        (files / "sub").mkdir()
        script = [f"source {BASH_COMPLETION}",
                  'offer() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}',
                  '  COMPREPLY=(); __load_completion "$1" || { echo "no completion for $1"; return; }',
                  '  local function=$(complete -p "$1" | sed -n "s/.* -F \\([^ ]*\\) .*/\\1/p")',
                  '  "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"',
                  '  printf "%s\\n" "${COMPREPLY[*]}"; }']
        script += ["offer " + " ".join(f"'{word}'" for word in words) for words in self.COMPLETIONS]
        env = dict(os.environ, PATH=f"{bin_dir}:/usr/bin:/bin", XDG_DATA_DIRS=str(bin_dir.parent / "share"))
        offered = run("bash", "-c", "\n".join(script), cwd=files, env=env)
        self.assertEqual(offered.returncode, 0, offered.stderr)
        lines = offered.stdout.split("\n")[:-1]
        self.assertEqual(len(lines), len(self.COMPLETIONS), offered.stdout + offered.stderr)
        for words, line in zip(self.COMPLETIONS, lines):
            self.assertEqual(set(line.split()), self.COMPLETIONS[words], " ".join(words))


class InstallTreeTest(InstalledProgramsCase):
    def test_install_into_a_prefix_and_run_from_another_folder(self):
        prefix = self.scratch / "prefix"
        installed = run("cmake", "--install", BUILD_DIR, "--prefix", prefix)
        self.assertEqual(installed.returncode, 0, installed.stderr)

        data = prefix / "share" / "halvane-discovery" / "data"
        self.assertEqual(sorted(p.name for p in data.iterdir()), sorted(p.name for p in DATA_DIR.iterdir()))
        self.check_installed_programs(prefix / "bin")
        self.check_completion(prefix / "bin")

    def test_staged_install_with_destdir_keeps_the_prefix_below_it(self):
        stage = self.scratch / "stage"
        env = dict(os.environ, DESTDIR=str(stage))
        installed = run("cmake", "--install", BUILD_DIR, "--prefix", "/opt/halvane", env=env)
        self.assertEqual(installed.returncode, 0, installed.stderr)
        # The programs find their data relative to themselves, so the staged copy works where it lies.
        self.check_installed_programs(stage / "opt" / "halvane" / "bin")


class DebianPackageTest(InstalledProgramsCase):
    def build_package(self):
        out = self.scratch / "package"
        built = run("cpack", "-G", "DEB", "-B", out, "--config", BUILD_DIR / "CPackConfig.cmake",
                    cwd=self.scratch, timeout=600)
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        packages = list(out.glob("*.deb"))
        self.assertEqual(len(packages), 1, packages)
        return packages[0]

    def test_package_contents_and_dependencies(self):
        package = self.build_package()
        fields = {name: run("dpkg-deb", "-f", package, name).stdout.strip()
                  for name in ("Package", "Version", "Depends", "Architecture")}
        self.assertEqual(fields["Package"], "halvane-discovery")
        # The project's version with the Debian revision of the changelog's latest entry.
        version = re.search(r"project\([^)]*VERSION\s+([0-9.]+)", (harness.SOURCE_DIR / "CMakeLists.txt").read_text()).group(1)
        changelog = (harness.SOURCE_DIR / "packaging" / "debian" / "changelog").read_text()
        latest = re.match(r"halvane-discovery \(([^)]+)\)", changelog).group(1)
        self.assertRegex(latest, rf"^{re.escape(version)}-[0-9]")
        self.assertEqual(fields["Version"], latest)
        self.assertEqual(fields["Architecture"], run("dpkg", "--print-architecture").stdout.strip())

        root = self.scratch / "root"
        unpacked = run("dpkg-deb", "-x", package, root)
        self.assertEqual(unpacked.returncode, 0, unpacked.stderr)
        self.assertTrue((root / "usr" / "share" / "halvane-discovery" / "data" / "config.yaml").is_file())
        self.check_installed_programs(root / "usr" / "bin")
        listing = {line.split()[5].removeprefix(".") for line in run("dpkg-deb", "-c", package).stdout.splitlines()}
        self.assertNotIn("/usr/bin/convert", listing)
        self.assertNotIn("/usr/bin/generate", listing)
        self.assertLessEqual({"/usr/share/doc/halvane-discovery/copyright",
                              "/usr/share/doc/halvane-discovery/changelog.Debian.gz"}, listing)
        for name in INSTALLED_NAMES.values():
            self.assertIn(f"/usr/share/bash-completion/completions/{name}", listing)
            # The page is made from the program's help under its installed name.
            page = gzip.decompress((root / "usr" / "share" / "man" / "man1" / f"{name}.1.gz").read_bytes()).decode()
            self.assertRegex(page, rf"\.SH SYNOPSIS\n\.B {name}\n")

        # Every shared library the programs load must come from a package the .deb depends on.
        declared = {entry.split()[0] for entry in fields["Depends"].split(",")}
        for program in sorted((root / "usr" / "bin").iterdir()):
            needed = self.owning_packages(program)
            if SANITIZED:
                needed -= SANITIZER_PACKAGES
            self.assertLessEqual(needed, declared, f"{program.name} loads libraries of undeclared packages")

    @staticmethod
    def owning_packages(program):
        """The Debian packages that own the libraries `program` names itself (its NEEDED entries);
        what those libraries need in turn is their own packages' business."""
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(\S+)\]", run("readelf", "-d", program).stdout)
        resolved = dict(re.findall(r"^\s*(\S+) => (/\S+)", run("ldd", program).stdout, re.MULTILINE))
        owners = set()
        for name in needed:
            if name.startswith("ld-linux"):
                owners.add("libc6")
                continue
            library = Path(resolved[name])
            for candidate in (library, library.resolve(), Path(str(library.resolve()).replace("/usr/lib/", "/lib/", 1))):
                # /lib is a link to /usr/lib on Debian 12; dpkg knows each file under one of the names.
                found = run("dpkg", "-S", candidate)
                if found.returncode == 0:
                    owners.add(found.stdout.split(":")[0])
                    break
            else:
                raise AssertionError(f"no package owns {library}")
        return owners

if __name__ == "__main__":
    if shutil.which("cpack") is None:
        raise SystemExit("cpack not found")
    harness.main()
