#!/usr/bin/python3
"""scripts/package.sh against the built template and a release made from it: what the
package holds and says, what Debian's checkers think of it, and the names it refuses.

Usage: package_test.py TEMPLATE
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from flash_e2e import KEYWORD, make_program, test_images  # noqa: E402

PACKAGE = os.path.join(ROOT, "scripts", "package.sh")
CONTAINER = 15 + 2 * 262144 + 13 + 7 + 7
TEMPLATE = None  # set by main()


def container(data):
    at = data.find(KEYWORD)
    return data[at:at + CONTAINER]


def package(program, outdir):
    return subprocess.run(["bash", PACKAGE, program, outdir], capture_output=True, text=True)


def hardening_exemptions():
    """The checks of the installed hardening-check (it says which it knows in --help) that no
    program built here can pass, whatever its own code: control-flow protection when the C
    start files it is linked with carry no mark of it (a program is marked only when every
    object in it is); branch protection (BTI, PAC), an arm64 feature, on any other
    architecture. Its "unknown" lines (stack clash protection where it finds no stack probe
    to show) are no failure."""
    known = subprocess.run(["hardening-check", "--help"], capture_output=True, text=True).stdout
    start_files = [subprocess.run(["g++", "-print-file-name=" + f], capture_output=True, text=True).stdout.strip()
                   for f in ("Scrt1.o", "crti.o", "crtn.o")]
    notes = subprocess.run(["readelf", "-n", *start_files], capture_output=True, text=True).stdout
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
    exempt = []
    if "--nocfprotection" in known and notes.count("x86 feature: IBT, SHSTK") < len(start_files):
        exempt.append("--nocfprotection")
    if "--nobranchprotection" in known and arch != "arm64":
        exempt.append("--nobranchprotection")
    return exempt


class Deb:
    """A built package, unpacked."""

    def __init__(self, path, where):
        self.path = path
        self.tree = os.path.join(where, "tree")
        subprocess.run(["dpkg-deb", "-x", path, self.tree], check=True)
        info = subprocess.run(["dpkg-deb", "-f", path], capture_output=True, text=True, check=True).stdout
        self.fields = dict(re.findall(r"^(\S+): (.*)$", info, re.M))
        listing = subprocess.run(["dpkg-deb", "-c", path], capture_output=True, text=True, check=True).stdout
        self.files = sorted(line.split()[-1].lstrip(".") for line in listing.splitlines() if not line.startswith("d"))

    def read(self, path, mode="r"):
        with open(self.tree + path, mode, encoding=None if "b" in mode else "utf-8") as f:
            return f.read()

    def desktop(self):
        return dict(re.findall(r"^([A-Za-z]+)=(.*)$", self.read("/usr/share/applications/korvane-flash-utility.desktop"), re.M))


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="package-test-")
        cls.images = test_images()
        cls.release = os.path.join(cls.work, "W2KVQ8E10.EXE")
        make_program(TEMPLATE, cls.release, cls.images)
        cls.template = os.path.join(cls.work, "W2KVQXXXX.EXE")
        shutil.copy(TEMPLATE, cls.template)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def build(self, program, name):
        out = os.path.join(self.work, name)
        r = package(program, out)
        self.assertEqual(0, r.returncode, r.stderr)
        debs = os.listdir(out)
        self.assertEqual([os.path.basename(r.stdout.strip())], debs)
        return Deb(os.path.join(out, debs[0]), out)

    def checkers(self, deb):
        """lintian finds no error and misses no hardening; hardening-check passes on the
        program; the desktop entry and the metainfo pass their validators and speak every
        language that the program speaks."""
        r = subprocess.run(["lintian", "--pedantic", "--display-info", deb.path], capture_output=True, text=True)
        tags = [line for line in r.stdout.splitlines() if re.match(r"^[EWIPX]: ", line)]
        for tag in tags:
            print("lintian:", tag)
        self.assertEqual([], [t for t in tags if t.startswith("E: ") or " hardening-" in t])
        program = [f for f in deb.files if f.endswith(".EXE")]
        r = subprocess.run(["hardening-check", *hardening_exemptions(), deb.tree + program[0]],
                           capture_output=True, text=True)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        self.assertEqual(0, subprocess.run(["desktop-file-validate", deb.tree + "/usr/share/applications/"
                                            "korvane-flash-utility.desktop"]).returncode)
        metainfo = [f for f in deb.files if f.startswith("/usr/share/metainfo/")]
        self.assertEqual(1, len(metainfo))
        r = subprocess.run(["appstreamcli", "validate", "--no-net", deb.tree + metainfo[0]],
                           capture_output=True, text=True)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        languages = sorted(f[len("korvane-flash_"):-len(".ts")] for f in os.listdir(os.path.join(ROOT, "i18n"))
                           if f.startswith("korvane-flash_") and f.endswith(".ts"))
        entry = deb.read("/usr/share/applications/korvane-flash-utility.desktop")
        for key in ("GenericName", "Comment"):
            self.assertEqual(languages, sorted(re.findall(r"^%s\[([^]]+)\]=." % key, entry, re.M)), key)
        self.assertEqual(languages, sorted(re.findall(r'<summary xml:lang="([^"]+)">.', deb.read(metainfo[0]))))

    def test_release_package(self):
        deb = self.build(self.release, "release")
        self.assertEqual("korvane-flash-vq8e10", deb.fields["Package"])
        self.assertEqual("1.015+vq8e.vq10", deb.fields["Version"])
        self.assertEqual("korvane-flash-vq8e10_1.015+vq8e.vq10_%s.deb" % deb.fields["Architecture"],
                         os.path.basename(deb.path))
        # The libraries come from dpkg-shlibdeps (with the versions it computes).
        self.assertRegex(deb.fields["Depends"], r"libqt6widgets6 \(>= [0-9.]+\)")
        self.assertRegex(deb.fields["Depends"], r"libsystemd0 \(>= [0-9.]+\)")  # the bus client
        self.assertRegex(deb.fields["Depends"], r"libc6 \(>= [0-9.]+\)")
        self.assertEqual([
            "/usr/lib/korvane-flash-vq8e10/W2KVQ8E10.EXE",
            "/usr/share/applications/korvane-flash-utility.desktop",
            "/usr/share/doc/korvane-flash-vq8e10/README.md.gz",
            "/usr/share/doc/korvane-flash-vq8e10/changelog.gz",
            "/usr/share/doc/korvane-flash-vq8e10/copyright",
            "/usr/share/icons/hicolor/scalable/apps/korvane-flash-utility.svg",
            "/usr/share/metainfo/com.korvane.flashutility.metainfo.xml",
        ], deb.files)
        program = "/usr/lib/korvane-flash-vq8e10/W2KVQ8E10.EXE"
        self.assertEqual(0o755, os.stat(deb.tree + program).st_mode & 0o777)
        # The firmware it carries, byte for byte as the release holds it.
        with open(self.release, "rb") as f:
            self.assertEqual(container(f.read()), container(deb.read(program, "rb")))
        entry = deb.desktop()
        self.assertEqual(program, entry["Exec"])
        self.assertEqual("korvane-flash-utility", entry["Icon"])
        self.assertIn("VQ8E", entry["Comment"])
        self.assertIn("VQ10", entry["Comment"])
        self.assertIn("VQ8E oder VQ10", deb.read("/usr/share/applications/korvane-flash-utility.desktop"))
        # The README's section for the person holding the drive, its links as plain text.
        notes = gzip.decompress(deb.read("/usr/share/doc/korvane-flash-vq8e10/README.md.gz", "rb")).decode()
        self.assertIn("\n## For the person holding the drive\n", notes)
        self.assertNotIn("](", notes)
        self.checkers(deb)

    def test_template_package(self):
        deb = self.build(self.template, "template")
        self.assertEqual("korvane-flash-vqxxxx", deb.fields["Package"])
        self.assertIn("/usr/lib/korvane-flash-vqxxxx/W2KVQXXXX.EXE", deb.files)
        launcher = "/usr/lib/korvane-flash-vqxxxx/build-in-folder"
        self.assertEqual(launcher, deb.desktop()["Exec"])
        self.assertEqual(0o755, os.stat(deb.tree + launcher).st_mode & 0o777)
        # It runs the installed template, which must still be one.
        text = deb.read(launcher)
        self.assertIn("exec /usr/lib/korvane-flash-vqxxxx/W2KVQXXXX.EXE", text)
        self.assertEqual(b"QORM01", container(deb.read("/usr/lib/korvane-flash-vqxxxx/W2KVQXXXX.EXE", "rb"))[15:21])
        self.assertEqual(0, subprocess.run(["sh", "-n", deb.tree + launcher]).returncode)
        self.checkers(deb)

    def test_revisions_come_from_the_name(self):
        """The program upper-cases the fourth character of what it reads from its name."""
        program = os.path.join(self.work, "W2KVQ9a7b.EXE")
        make_program(TEMPLATE, program, self.images)
        deb = self.build(program, "lower")
        self.assertEqual("korvane-flash-vq9a7b", deb.fields["Package"])
        self.assertEqual("1.015+vq9a.vq7b", deb.fields["Version"])
        self.assertEqual("Update QVX-5500 CD-RW drives to firmware VQ9A or VQ7B", deb.desktop()["Comment"])
        self.assertIn("/usr/lib/korvane-flash-vq9a7b/W2KVQ9a7b.EXE", deb.files)

    def test_refusals(self):
        """Each is refused with a message that says why, and nothing is written."""
        with open(self.release, "rb") as f:
            release = f.read()
        with open(self.template, "rb") as f:
            template = f.read()
        cases = [
            ("W2KVQ8E10.exe", release, "is named W2K"),
            ("W2KVQ8E10", release, "is named W2K"),
            ("flash.EXE", release, "is named W2K"),
            ("W2KVQ8E1_.EXE", release, "letters and digits only"),
            ("W2KVQ8E10.EXE", template, "it is a template"),
            ("W2KVQXXXX.EXE", release, "named like the template"),
            ("W2KVQ8E10.EXE", b"#!/bin/sh\n" + release[4:], "no ELF header"),
            ("W2KVQ8E10.EXE", release.replace(KEYWORD, b"X" * len(KEYWORD)), "no start key-word"),
            ("W2KVQ8E10.EXE", release.replace(b"Flash utility   V1.015 ", b"Flash utility   Vx.xxx "), "no program version"),
            ("W2KVQ8E10.EXE", None, "cannot read"),
        ]
        for name, content, why in cases:
            with self.subTest(name=name, why=why):
                folder = tempfile.mkdtemp(dir=self.work)
                program = os.path.join(folder, name)
                if content is not None:
                    with open(program, "wb") as f:
                        f.write(content)
                out = os.path.join(folder, "out")
                r = package(program, out)
                self.assertEqual(1, r.returncode, r.stdout)
                self.assertIn(why, r.stderr)
                self.assertFalse(os.path.exists(out) and os.listdir(out))


def main():
    global TEMPLATE
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    missing = [t for t in ("dpkg-deb", "dpkg-shlibdeps", "strip", "lintian", "desktop-file-validate", "appstreamcli",
                           "hardening-check")
               if not shutil.which(t)]
    if missing:
        print("SKIPPED: missing " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
        return 77
    TEMPLATE = os.path.abspath(sys.argv[1])
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
