#!/usr/bin/python3
"""Checks that the files around the programs agree with the programs.

  manpages CLI GUI MANDIR   every option, command and note --help prints is in
                            the manual page with the same words, and the page
                            lists no option the program does not take
  metainfo SOURCE VERSION   the AppStream file's screenshots are the tree's
                            pictures, its newest release is this version
  debian SOURCE VERSION     the Debian changelog is at this version and the
                            package builds against every library the program
                            links (as install-deps.sh lists them)
"""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

# Options the manual page describes for commands that exist, ahead of the
# program: they come with work in progress on those commands.
NOT_YET_BUILT = set()

failures = []


def fail(text):
    failures.append(text)


def normalize(text):
    """Text as a reader sees it: one space between words, no final stop."""
    return re.sub(r"\s+", " ", text).strip().rstrip(".")


# --- the program's help --------------------------------------------------


class Help:
    def __init__(self, text):
        self.description = ""
        self.entries = {}  # group -> [(names, description)]
        self.notes = []  # the footer
        lines = text.splitlines()
        group = None
        for index, line in enumerate(lines):
            if index == 0:
                self.description = line
                continue
            if not line.strip() or line.startswith("Usage:"):
                continue
            if not line.startswith(" ") and line.endswith(":") and index + 1 < len(lines) \
                    and lines[index + 1].startswith("  "):
                group = line[:-1]
                self.entries.setdefault(group, [])
                continue
            if line.startswith("  ") and group is not None:
                match = re.match(r"^  (\S.*?)\s{2,}(\S.*)$", line)
                if not match:
                    fail(f"cannot read the help line {line!r}")
                    continue
                first = match.group(1).split()[0]
                self.entries[group].append((first.split(","), match.group(2)))
                continue
            group = None
            self.notes.append(line)

    def options(self):
        return [(names, text) for group, rows in self.entries.items()
                if group not in ("Subcommands", "Positionals") for names, text in rows]

    def rows(self, group):
        return self.entries.get(group, [])


def run_help(program, args, env=None):
    result = subprocess.run([program] + args + ["--help"], capture_output=True, text=True,
                            env=env, timeout=60)
    if result.returncode != 0:
        fail(f"{os.path.basename(program)} {' '.join(args)} --help ended {result.returncode}")
    return Help(result.stdout)


# --- the manual page -----------------------------------------------------

ESCAPES = [(r"\-", "-"), (r"\e", "\\"), (r"\(lq", '"'), (r"\(rq", '"'), (r"\(aq", "'"),
           (r"\(em", "\u2014"), (r"\:", ""), (r"\&", ""), (r"\fB", ""), (r"\fI", ""),
           (r"\fR", ""), (r"\fP", "")]
ALTERNATING = {"BR", "RB", "BI", "IB", "IR", "RI"}


def unescape(text):
    for escape, plain in ESCAPES:
        text = text.replace(escape, plain)
    return text


def macro_text(name, rest):
    words = re.findall(r'"[^"]*"|\S+', rest)
    words = [word[1:-1] if word.startswith('"') else word for word in words]
    return unescape(("" if name in ALTERNATING else " ").join(words))


class ManPage:
    """Sections, subsections and tagged paragraphs of a man(7) page."""

    def __init__(self, path):
        self.path = path
        self.entries = []  # [section, subsection, tag, body]
        self.text = {}  # (section, subsection) -> text
        section, subsection, entry, want_tag = "", "", None, False
        with open(path, encoding="utf-8") as page:
            for line in page:
                line = line.rstrip("\n")
                if line.startswith('.\\"'):
                    continue
                words = ""
                if line.startswith("."):
                    name, _, rest = line[1:].partition(" ")
                    if name in ("SH", "SS"):
                        title = macro_text(name, rest)
                        section, subsection = (title, "") if name == "SH" else (section, title)
                        entry = None
                        continue
                    if name == "TP":
                        want_tag = True
                        continue
                    if name in ("PP", "P", "LP"):
                        entry = None
                        continue
                    if name in ("B", "I", "SM") or name in ALTERNATING:
                        words = macro_text(name, rest)
                    else:
                        continue  # layout: .br .nf .fi .ad .nh .TH
                else:
                    words = unescape(line)
                if want_tag:
                    entry = [section, subsection, words, ""]
                    self.entries.append(entry)
                    want_tag = False
                elif entry is not None:
                    entry[3] += " " + words
                key = (section, subsection)
                self.text[key] = self.text.get(key, "") + " " + words

    def section_text(self, section, subsection=None):
        return normalize(" ".join(text for (sec, sub), text in self.text.items()
                                  if sec == section and (subsection is None or sub == subsection)))

    def tagged(self, section, subsection, name):
        """The body of the paragraph whose tag starts with NAME (or names it)."""
        for sec, sub, tag, body in self.entries:
            if sec == section and sub == subsection:
                words = [word.strip(",") for word in tag.split()]
                if name in words:
                    return normalize(body)
        return None

    def tagged_options(self, section, subsection):
        found = []
        for sec, sub, tag, _ in self.entries:
            if sec == section and sub == subsection:
                found += [word.strip(",") for word in tag.split() if word.startswith("-")]
        return found

    def subsections(self, section):
        return [sub for (sec, sub) in self.text if sec == section and sub]


def expect_option(page, section, subsection, names, text, where):
    for name in names:
        body = page.tagged(section, subsection, name)
        if body is None:
            fail(f"{page.path}: {where} {name} is not described")
        elif normalize(text) not in body:
            fail(f"{page.path}: {where} {name}: --help says {text!r}, the page does not")


def expect_text(page, haystack, text, where):
    if normalize(text) not in haystack:
        fail(f"{page.path}: {where}: --help says {text!r}, the page does not")


def check_cli(cli, page):
    top = run_help(cli, [])
    expect_text(page, page.section_text("DESCRIPTION"), top.description, "description")
    global_names = set()
    for names, text in top.options():
        global_names.update(names)
        expect_option(page, "GLOBAL OPTIONS", "", names, text, "global option")
    for note in top.notes:
        expect_text(page, page.section_text("EXIT STATUS"), note, "exit status")
    for name in page.tagged_options("GLOBAL OPTIONS", ""):
        if name not in global_names:
            fail(f"{page.path}: global option {name} is not one the program takes")

    built = {}
    for names, text in top.rows("Subcommands"):
        command = names[0]
        built[command] = run_help(cli, [command])
        if command not in page.subsections("COMMANDS"):
            fail(f"{page.path}: command {command} is not described")
            continue
        expect_text(page, page.section_text("COMMANDS", command), text, f"command {command}")

    for command, help_text in built.items():
        own = page.section_text("COMMANDS", command)
        taken = set()
        for names, text in help_text.options():
            taken.update(names)
            if "--help" in names:
                continue
            expect_option(page, "COMMANDS", command, names, text, command)
        for names, text in help_text.rows("Subcommands"):
            expect_option(page, "COMMANDS", command, names, text, command)
            for positional, meaning in run_help(cli, [command, names[0]]).rows("Positionals"):
                expect_text(page, own, meaning, f"{command} {names[0]} {positional[0]}")
        for names, text in help_text.rows("Positionals"):
            expect_text(page, own, text, f"{command} {names[0]}")
        for note in help_text.notes:
            if note not in top.notes:
                expect_text(page, own, note, f"{command} notes")
        for name in page.tagged_options("COMMANDS", command):
            if name not in taken and name not in global_names and \
                    (command, name) not in NOT_YET_BUILT:
                fail(f"{page.path}: {command} {name} is not an option the program takes")

    waiting = [c for c in page.subsections("COMMANDS") if c not in built]
    if waiting:
        print("described, not built yet: " + ", ".join(waiting))


def check_gui(gui, page):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    top = run_help(gui, [], env)
    expect_text(page, page.section_text("DESCRIPTION"), top.description, "description")
    taken = set()
    for names, text in top.options():
        taken.update(names)
        expect_option(page, "OPTIONS", "", names, text, "option")
    for names, text in top.rows("Positionals"):
        expect_option(page, "ARGUMENTS", "", names, text, "argument")
    for name in page.tagged_options("OPTIONS", ""):
        if name not in taken:
            fail(f"{page.path}: option {name} is not one the program takes")


def check_manpages(cli, gui, mandir):
    check_cli(cli, ManPage(os.path.join(mandir, "quavermill-cli.1")))
    check_gui(gui, ManPage(os.path.join(mandir, "quavermill.1")))


# --- AppStream ------------------------------------------------------------


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def check_metainfo(source, version):
    path = os.path.join(source, "data", "org.hollowcraft.Quavermill.metainfo.xml")
    root = ET.parse(path).getroot()
    images = root.findall("./screenshots/screenshot/image")
    if not images:
        fail(f"{path}: no screenshots")
    for image in images:
        name = image.text.strip().rsplit("/", 1)[-1]
        picture = os.path.join(source, "docs", "screenshots", name)
        if not os.path.exists(picture):
            fail(f"{path}: screenshot {name} is not in docs/screenshots")
            continue
        size = (int(image.get("width", "0")), int(image.get("height", "0")))
        if png_size(picture) != size:
            fail(f"{path}: {name} is {png_size(picture)}, the file says {size}")
    releases = [release.get("version") for release in root.findall("./releases/release")]
    if not releases or releases[0] != version:
        fail(f"{path}: the newest release is {releases[:1]}, the program is {version}")
    launchable = root.findtext("./launchable")
    if not os.path.exists(os.path.join(source, "data", launchable or "-")):
        fail(f"{path}: launchable {launchable} is not in data/")


# --- Debian -----------------------------------------------------------------


def check_debian(source, version):
    with open(os.path.join(source, "debian", "changelog"), encoding="utf-8") as changelog:
        top = changelog.readline()
    match = re.match(r"^quavermill \(([^)]+)\)", top)
    if not match or match.group(1).split("-")[0] != version:
        fail(f"debian/changelog starts {top.strip()!r}; the program is {version}")

    with open(os.path.join(source, "debian", "control"), encoding="utf-8") as control:
        text = control.read()
    build = re.search(r"^Build-Depends:(.*?)^\S", text, re.S | re.M)
    wanted = set(re.findall(r"[a-z0-9][a-z0-9.+-]+", build.group(1))) if build else set()

    with open(os.path.join(source, "scripts", "install-deps.sh"), encoding="utf-8") as script:
        lines = script.read().splitlines()
    libraries = []
    inside = False
    for line in lines:
        if line.strip().startswith("#"):
            inside = "libraries the program links" in line
            continue
        if inside:
            if line.strip().startswith(")"):
                break
            libraries += line.split()
    if not libraries:
        fail("scripts/install-deps.sh: no 'libraries the program links' list")
    for library in libraries:
        if library not in wanted:
            fail(f"debian/control: Build-Depends lacks {library}, which the program links")


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    what = argv[1]
    if what == "manpages" and len(argv) == 5:
        check_manpages(argv[2], argv[3], argv[4])
    elif what == "metainfo" and len(argv) == 4:
        check_metainfo(argv[2], argv[3])
    elif what == "debian" and len(argv) == 4:
        check_debian(argv[2], argv[3])
    else:
        print(__doc__)
        return 2
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
