"""The installed programs: `cmake --install` into a scratch prefix and the Debian package made by
cpack, each run from a folder that has nothing to do with the build."""

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


def run(*command, cwd=None, env=None, timeout=300):
    return subprocess.run([str(part) for part in command], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout)


def example_text(name):
    """What the example option prints: the data file's text and one line break."""
    return (DATA_DIR / name).read_text(encoding="utf-8") + "\n"


class InstalledProgramsCase(harness.ScratchTestCase):
    """Shared checks of an installed tree whose programs lie in `bin`."""

    def check_installed_programs(self, bin_dir):
        elsewhere = self.scratch / "elsewhere"
        elsewhere.mkdir(exist_ok=True)
        env = dict(os.environ, PATH=f"{bin_dir}:/usr/bin:/bin")

        example = run("generate", "--example-config", cwd=elsewhere, env=env)
        self.assertEqual(example.returncode, 0, example.stderr)
        self.assertEqual(example.stdout, example_text("config.yaml"))

        # No data folder beside the installed program: the share folder is the one used, and a run
        # without a configuration still fails with the usual message, not a missing data file.
        self.assertFalse((bin_dir / "data").exists())
        missing = run("generate", "-c", "no-such.yaml", cwd=elsewhere, env=env)
        self.assertEqual(missing.returncode, 1)
        self.assertIn("FileNotFoundError: Configuration file not found: no-such.yaml", missing.stderr)

        if (bin_dir / "convert").exists():
            # -e and -y are required even here; nothing is read from or written to them.
            template = run("convert", "--example-template", "-e", "unused.xlsx", "-y", "unused.yaml",
                           cwd=elsewhere, env=env)
            self.assertEqual(template.returncode, 0, template.stderr)
            self.assertEqual(template.stdout, example_text("template.yaml"))
            self.assertFalse((elsewhere / "unused.yaml").exists())


class InstallTreeTest(InstalledProgramsCase):
    def test_install_into_a_prefix_and_run_from_another_folder(self):
        prefix = self.scratch / "prefix"
        installed = run("cmake", "--install", BUILD_DIR, "--prefix", prefix)
        self.assertEqual(installed.returncode, 0, installed.stderr)

        data = prefix / "share" / "halvane-discovery" / "data"
        self.assertEqual(sorted(p.name for p in data.iterdir()), sorted(p.name for p in DATA_DIR.iterdir()))
        self.assertTrue(os.access(prefix / "bin" / "generate", os.X_OK))
        self.assertEqual((prefix / "bin" / "convert").exists(), (BUILD_DIR / "bin" / "convert").exists())
        self.check_installed_programs(prefix / "bin")

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
        version = re.search(r"project\([^)]*VERSION\s+([0-9.]+)", (harness.SOURCE_DIR / "CMakeLists.txt").read_text()).group(1)
        self.assertEqual(fields["Version"], version)
        self.assertEqual(fields["Architecture"], run("dpkg", "--print-architecture").stdout.strip())

        root = self.scratch / "root"
        unpacked = run("dpkg-deb", "-x", package, root)
        self.assertEqual(unpacked.returncode, 0, unpacked.stderr)
        self.assertTrue((root / "usr" / "share" / "halvane-discovery" / "data" / "config.yaml").is_file())
        self.check_installed_programs(root / "usr" / "bin")

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
