#!/usr/bin/python3
"""Turns a built release (or the template) into a Debian package.

  make_deb.py PROGRAM [OUTDIR]

PROGRAM is a release such as W2KVQ8E10.EXE, or the template W2KVQXXXX.EXE. The package
installs it under its own name in /usr/lib/<package>/ with a desktop entry, the icon and
AppStream metainfo. Its name and version come from the revisions in the file name:
W2KVQ8E10.EXE (IBM-K firmware VQ8E, other firmware VQ10) becomes the package
korvane-flash-vq8e10, version <program version>+vq8e.vq10. The libraries it needs are
found by dpkg-shlibdeps. Prints the path of the package written to OUTDIR (default: the
current directory).

Packing the same program twice gives the same bytes. Every date in the package (the files'
modification times, the changelog's, the AppStream release date) is SOURCE_DATE_EPOCH when
that is set, and otherwise the program file's own modification time: see release_date().

Every release package provides, conflicts with and replaces "korvane-flash-utility": all
of them share the desktop entry's name, which is also the program's Wayland app id, so
installing one release takes the place of another.
"""
import gzip
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))

IMAGE_SIZE = 262144
START_KEYWORD = b"BIN-START-ADDR\0"
EMPTY_SLOT_MARKER = b"QORM01"
# Start key-word, two slots, end key-word and the two markers (see flash/container.h).
CONTAINER_SIZE = 15 + 2 * IMAGE_SIZE + 13 + 7 + 7
TEMPLATE_NAME = "W2KVQXXXX.EXE"
# "W2K" + the IBM-K revision + the last two characters of the other revision + ".EXE".
NAME_PATTERN = re.compile(r"W2K([A-Za-z0-9]{4})([A-Za-z0-9]{2})\.EXE")
# The title-with-version text that every program file carries.
VERSION_PATTERN = re.compile(rb"Korvane  Flash utility   V([0-9]+\.[0-9]+) ")

APP_ID = "korvane-flash-utility"  # the desktop entry's name: the program's Wayland app id
METAINFO_ID = "com.korvane.flashutility"
# The software centre's "website" (AppStream 1.0 asks every desktop application for one); a
# placeholder in the reserved .invalid domain, like the default maintainer's address.
HOMEPAGE = "https://korvane.invalid/flash-utility/"
# Qt loads its platform plugins at run time, so dpkg-shlibdeps cannot see them: the X11
# one (and the others of qt6-qpa-plugins) is needed to show a window at all, the Wayland
# one lets the program run natively in a Wayland session instead of through XWayland. The
# program carries its own translations; Qt's own words for a box's buttons come from
# qt6-translations-l10n, and Chinese text needs a CJK font (the small one first).
RUNTIME_DEPENDS = ["qt6-qpa-plugins"]
RUNTIME_RECOMMENDS = ["qt6-wayland", "qt6-translations-l10n", "fonts-wqy-microhei | fonts-noto-cjk"]
DEFAULT_MAINTAINER = "Korvane flash utility developers <flash-utility@korvane.invalid>"
# The README's section for the person holding the drive goes into the package's doc folder:
# users of an installed program look there, not in a repository.
README = os.path.join(HERE, "..", "README.md")
DRIVE_HOLDER_HEADING = "## For the person holding the drive"
# What the menu and the software centre say in the program's other languages (i18n/): the
# desktop entry's GenericName and Comment and the metainfo's summary. The name, the model and
# the revisions stay as they are.
MENU_TEXTS = {
    "de": {
        "template": {
            "GENERIC_NAME": "Erstellung von Firmware-Releases",
            "COMMENT": "Update-Programme für QVX-5500 aus zwei Firmware-Dateien erstellen",
            "SUMMARY": "Erstellt Update-Programme für QVX-5500-CD-RW-Laufwerke",
        },
        "release": {
            "GENERIC_NAME": "Firmware-Update",
            "COMMENT": "QVX-5500-CD-RW-Laufwerke auf die Firmware %(IBM_K)s oder %(OTHER)s aktualisieren",
            "SUMMARY": "Aktualisiert die Firmware von QVX-5500-CD-RW-Laufwerken",
        },
    },
    "zh_TW": {
        "template": {
            "GENERIC_NAME": "韌體發行版建置工具",
            "COMMENT": "從兩個韌體檔建置 QVX-5500 更新程式",
            "SUMMARY": "為 QVX-5500 CD-RW 光碟機建置更新程式",
        },
        "release": {
            "GENERIC_NAME": "韌體更新",
            "COMMENT": "將 QVX-5500 CD-RW 光碟機的韌體更新為 %(IBM_K)s 或 %(OTHER)s",
            "SUMMARY": "更新 QVX-5500 CD-RW 光碟機的韌體",
        },
    },
}


class Refused(Exception):
    """The input cannot be packed; the message says why."""


def upper_fourth(revision):
    return revision[:3] + revision[3:].upper()


class Program:
    """What the file and its name say about it."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        m = NAME_PATTERN.fullmatch(self.name)
        if not m:
            raise Refused(
                "%s: a release is named W2K + the IBM-K revision + the other revision's last two "
                "characters + .EXE, letters and digits only (for example W2KVQ8E10.EXE), and the "
                "template W2KVQXXXX.EXE; the program reads its revisions from that name, so it "
                "cannot be packed under another" % self.name)
        self.revisions = m.group(1) + m.group(2)  # as the caption shows them: VQ8E10
        # The revisions as the program reads them from its name: the fourth character
        # upper-cased.
        self.ibm_k = upper_fourth(m.group(1))
        self.other = upper_fourth(m.group(1)[:2] + m.group(2))
        try:
            with open(path, "rb") as f:
                self.data = f.read()
        except OSError as e:
            raise Refused("%s: cannot read it: %s" % (path, e.strerror))
        if not self.data.startswith(b"\x7fELF"):
            raise Refused("%s: not a program file (no ELF header)" % self.name)
        at = self.data.find(START_KEYWORD)
        if at < 0 or len(self.data) < at + CONTAINER_SIZE:
            raise Refused("%s: carries no firmware container (no start key-word)" % self.name)
        slot1 = at + len(START_KEYWORD)
        self.is_template = self.data[slot1:slot1 + len(EMPTY_SLOT_MARKER)] == EMPTY_SLOT_MARKER
        if self.is_template and self.name != TEMPLATE_NAME:
            raise Refused("%s: its first image slot is empty, so it is a template, which must be "
                          "named %s" % (self.name, TEMPLATE_NAME))
        if not self.is_template and self.name == TEMPLATE_NAME:
            raise Refused("%s: carries firmware but is named like the template, so its name "
                          "tells no revisions" % self.name)
        v = VERSION_PATTERN.search(self.data)
        if not v:
            raise Refused("%s: carries no program version text" % self.name)
        self.program_version = v.group(1).decode()

    @property
    def package(self):
        return "korvane-flash-" + self.revisions.lower()

    @property
    def version(self):
        return "%s+%s.%s" % (self.program_version, self.ibm_k.lower(), self.other.lower())

    def container(self, data=None):
        data = self.data if data is None else data
        at = data.find(START_KEYWORD)
        return data[at:at + CONTAINER_SIZE] if at >= 0 else b""


def release_date(program_path):
    """The one date of the package, in seconds since 1970-01-01 UTC: SOURCE_DATE_EPOCH when
    it is set (as Debian's reproducible builds use it), otherwise the modification time of
    the program file (for a release, when the template wrote it)."""
    given = os.environ.get("SOURCE_DATE_EPOCH", "")
    if given:
        if not re.fullmatch(r"[0-9]+", given):
            raise Refused("SOURCE_DATE_EPOCH=%s: not a number of seconds since 1970-01-01 UTC" % given)
        return int(given)
    return int(os.stat(program_path).st_mtime)


def texts(program, values):
    """What the menu, the software centre and the package manager say about it."""
    if program.is_template:
        return {
            "NAME": "Korvane Flash utility release builder",
            "GENERIC_NAME": "Firmware Release Builder",
            "COMMENT": "Build QVX-5500 flash programs from two firmware files",
            "SUMMARY": "Builds flash programs for QVX-5500 CD-RW drives",
            "SYNOPSIS": "QVX-5500 firmware flash utility, template for building releases",
            "PARAGRAPHS": (
                "Builds flash programs for Korvane QVX-5500 CD-RW drives from two firmware "
                "files of 262144 bytes: one for IBM-K drives (VQ8?.BIN or VQ9?.BIN) and one for "
                "all others (VQ0?.BIN to VQ7?.BIN). The new program is named after the two "
                "revisions, for example W2KVQ8E10.EXE, and must keep that name.",
                "Started from the menu it works in the folder \"QVX-5500 releases\" in the "
                "home folder: the firmware files go there, and the new program is written "
                "beside them."),
            "RELEASE_NOTE": "Template %s: builds releases from two firmware files." % program.name,
        }
    return {
        "NAME": "Korvane Flash utility",
        "GENERIC_NAME": "Firmware Update",
        "COMMENT": "Update QVX-5500 CD-RW drives to firmware %s or %s" % (values["IBM_K"], values["OTHER"]),
        "SUMMARY": "Updates the firmware of QVX-5500 CD-RW drives",
        "SYNOPSIS": "QVX-5500 firmware flash utility, firmware %s and %s" % (values["IBM_K"], values["OTHER"]),
        "PARAGRAPHS": (
            "Updates the firmware of Korvane QVX-5500 CD-RW drives. This release carries "
            "firmware %s for IBM-K drives (revisions VQ8x and VQ9x) and firmware %s for all "
            "others." % (values["IBM_K"], values["OTHER"]),
            "It lists the supported drives, asks before it writes, sends the firmware, reads "
            "it back and compares, and then offers to restart the computer. It needs no "
            "root: read and write access to the drive's /dev/sgN and /dev/srN nodes, which "
            "a desktop session gives the logged-in user, is enough."),
        "RELEASE_NOTE": "Release %s: firmware %s (IBM-K) and %s." % (program.name, values["IBM_K"], values["OTHER"]),
    }


def menu_text_fields(program, values):
    """The desktop entry's and the metainfo's lines in the other languages."""
    kind = "template" if program.is_template else "release"
    names, comments, summaries = [], [], []
    for language in sorted(MENU_TEXTS):
        words = {key: text % values for key, text in MENU_TEXTS[language][kind].items()}
        names.append("GenericName[%s]=%s" % (language, words["GENERIC_NAME"]))
        comments.append("Comment[%s]=%s" % (language, words["COMMENT"]))
        summaries.append('  <summary xml:lang="%s">%s</summary>' % (language, escape(words["SUMMARY"])))
    return {"GENERIC_NAMES": "\n".join(names), "COMMENTS": "\n".join(comments),
            "SUMMARIES": "\n".join(summaries)}


def description_fields(paragraphs):
    """The same paragraphs as metainfo XML and as a package's extended description."""
    xml = "\n".join("    <p>%s</p>" % escape(p) for p in paragraphs)
    control = "\n .\n".join("\n".join(" " + line for line in textwrap.wrap(p, 72)) for p in paragraphs)
    return {"DESCRIPTION": xml, "LONG_DESCRIPTION": control}


def drive_holder_notes():
    """README.md's section for the person holding the drive, under the program's name. Its
    links become their text: the files they lead to are in the program's sources."""
    try:
        with open(README, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise Refused("%s: cannot read it: %s" % (README, e.strerror))
    start = text.find("\n" + DRIVE_HOLDER_HEADING + "\n")
    if start < 0:
        raise Refused("%s holds no section %r" % (README, DRIVE_HOLDER_HEADING))
    end = text.find("\n## ", start + 1)
    section = text[start + 1:end if end >= 0 else len(text)].strip()
    section = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", section)
    return "# Korvane Flash utility\n\n%s\n" % section


def run(args, **kw):
    r = subprocess.run(args, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise Refused("%s failed (exit %d): %s" % (args[0], r.returncode, r.stderr.strip()))
    return r.stdout


def fill(template_name, values):
    with open(os.path.join(HERE, template_name), encoding="utf-8") as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    left = re.findall(r"@[A-Z_]+@", text)
    if left:
        raise Refused("%s: nothing to fill in for %s" % (template_name, ", ".join(sorted(set(left)))))
    return text


def write(path, content, mode=0o644):
    os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
    with open(path, "wb") as f:
        f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
    os.chmod(path, mode)


def install_program(program, target):
    """The program file as built, with symbols and debug data stripped as every Debian
    package's programs are. The firmware container is checked to be untouched."""
    os.makedirs(os.path.dirname(target), mode=0o755, exist_ok=True)
    shutil.copyfile(program.path, target)
    run(["strip", "--remove-section=.comment", "--remove-section=.note", target])
    os.chmod(target, 0o755)
    with open(target, "rb") as f:
        stripped = f.read()
    if program.container(stripped) != program.container():
        raise Refused("%s: stripping changed its firmware container" % program.name)


def shlib_depends(tree, binary):
    """The Depends line that dpkg-shlibdeps computes for the binary."""
    work = tempfile.mkdtemp(prefix="make-deb-shlibs-")
    try:
        os.makedirs(os.path.join(work, "debian"))
        write(os.path.join(work, "debian", "control"),
              "Source: korvane-flash\n\nPackage: korvane-flash\nArchitecture: any\n")
        out = run(["dpkg-shlibdeps", "-O", "-e" + os.path.join(tree, binary.lstrip("/"))], cwd=work)
    finally:
        shutil.rmtree(work)
    m = re.search(r"^shlibs:Depends=(.*)$", out, re.M)
    if not m or not m.group(1).strip():
        raise Refused("dpkg-shlibdeps found no libraries for %s" % binary)
    return m.group(1).strip()


def installed_size_kib(tree):
    total = 0
    for base, dirs, files in os.walk(tree):
        if os.path.relpath(base, tree).split(os.sep)[0] == "DEBIAN":
            continue
        total += 1  # a directory counts as one unit, as dpkg-gencontrol counts it
        for name in files:
            total += (os.lstat(os.path.join(base, name)).st_size + 1023) // 1024
    return total


def build(program_path, outdir):
    program = Program(program_path)
    pkg, version = program.package, program.version
    arch = run(["dpkg", "--print-architecture"]).strip()
    maintainer = DEFAULT_MAINTAINER
    if os.environ.get("DEBEMAIL"):
        maintainer = "%s <%s>" % (os.environ.get("DEBFULLNAME", "Korvane flash utility developers"),
                                  os.environ["DEBEMAIL"])
    stamp = release_date(program_path)
    libdir = "/usr/lib/" + pkg
    values = {
        "PACKAGE": pkg, "VERSION": version, "PROGRAM": program.name, "LIBDIR": libdir,
        "IBM_K": program.ibm_k, "OTHER": program.other, "APP_ID": APP_ID,
        "METAINFO_ID": METAINFO_ID, "HOMEPAGE": HOMEPAGE, "MAINTAINER": maintainer,
        "DATE": time.strftime("%Y-%m-%d", time.gmtime(stamp)),
        "YEAR": time.strftime("%Y", time.gmtime(stamp)),
        "CHANGELOG_DATE": time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(stamp)),
    }
    values.update(texts(program, values))
    values.update(description_fields(values.pop("PARAGRAPHS")))
    values.update(menu_text_fields(program, values))
    values["EXEC"] = libdir + ("/build-in-folder" if program.is_template else "/" + program.name)

    tree = tempfile.mkdtemp(prefix="make-deb-")
    try:
        os.chmod(tree, 0o755)
        install_program(program, tree + libdir + "/" + program.name)
        if program.is_template:
            write(tree + libdir + "/build-in-folder", fill("build-in-folder.sh", values), 0o755)
        write(tree + "/usr/share/applications/%s.desktop" % APP_ID, fill("korvane-flash-utility.desktop.in", values))
        with open(os.path.join(HERE, "korvane-flash-utility.svg"), "rb") as f:
            write(tree + "/usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID, f.read())
        write(tree + "/usr/share/metainfo/%s.metainfo.xml" % METAINFO_ID, fill("korvane-flash-utility.metainfo.xml.in", values))
        doc = tree + "/usr/share/doc/" + pkg
        write(doc + "/copyright", fill("copyright", values))
        write(doc + "/changelog.gz", gzip.compress(fill("changelog.in", values).encode(), 9, mtime=0))
        # Compressed, as Debian compresses documentation larger than 4 KiB.
        write(doc + "/README.md.gz", gzip.compress(drive_holder_notes().encode(), 9, mtime=0))

        depends = shlib_depends(tree, libdir + "/" + program.name)
        control = fill("control.in", {**values, "ARCH": arch, "DEPENDS": ", ".join([depends] + RUNTIME_DEPENDS),
                                      "RECOMMENDS": ", ".join(RUNTIME_RECOMMENDS),
                                      "INSTALLED_SIZE": str(installed_size_kib(tree))})
        write(tree + "/DEBIAN/control", control)
        sums = []
        for base, dirs, files in os.walk(tree):
            for d in dirs:
                os.chmod(os.path.join(base, d), 0o755)
            if os.path.relpath(base, tree).split(os.sep)[0] == "DEBIAN":
                continue
            for name in files:
                path = os.path.join(base, name)
                with open(path, "rb") as f:
                    sums.append("%s  %s\n" % (hashlib.md5(f.read()).hexdigest(), os.path.relpath(path, tree)))
        write(tree + "/DEBIAN/md5sums", "".join(sorted(sums, key=lambda line: line[34:])))

        # Every file and folder dated alike; dpkg-deb dates the archive members by
        # SOURCE_DATE_EPOCH too (otherwise by the clock).
        for base, dirs, files in os.walk(tree):
            for name in dirs + files:
                os.utime(os.path.join(base, name), (stamp, stamp), follow_symlinks=False)
        os.utime(tree, (stamp, stamp))

        os.makedirs(outdir, exist_ok=True)
        deb = os.path.join(outdir, "%s_%s_%s.deb" % (pkg, version, arch))
        run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", tree, deb],
            env={**os.environ, "SOURCE_DATE_EPOCH": str(stamp)})
        return deb
    finally:
        shutil.rmtree(tree, ignore_errors=True)


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    try:
        print(build(os.path.abspath(argv[1]), os.path.abspath(argv[2] if len(argv) == 3 else ".")))
    except Refused as e:
        print("package: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print("package: %s: %s" % (e.filename, e.strerror), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
