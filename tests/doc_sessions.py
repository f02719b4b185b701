#!/usr/bin/env python3
"""Runs the terminal sessions shown in README.md and docs/*.md with cram, or refreshes them.

A session is an indented code block (four spaces) whose first line starts with "$ ". In it, a
line that starts with "$ " is a command, "> " continues the command above, and any other line is
what the command prints (stdout and stderr together); "[N]" after a command's output is its exit
status when that is not 0. In an output line, "…" stands for any text: a path that differs from
machine to machine. A comment line "<!-- $ COMMAND -->" is a command run at that point without
being shown, for an edit that the text describes; it must print nothing.

The sessions of one Markdown file run in document order, in one scratch directory that holds a
copy of the program as build/compactor, which is also on PATH.

usage:
  doc_sessions.py check PROGRAM ROOT
      Runs the sessions of ROOT/README.md and ROOT/docs/*.md against PROGRAM. Exits 77 (skipped)
      when cram is not installed.
  doc_sessions.py update PROGRAM ROOT [FILE.md ...]
      Writes what PROGRAM prints now into the sessions of the Markdown files (all of them by
      default), keeping the lines that still match. Needs cram and patch.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
HIDDEN = re.compile(r"^<!-- \$ (.*) -->$")
INDENT = "    "
CRAM_INDENT = "  "


class Block:
    """A session as the Markdown shows it: its lines, without the indentation."""

    def __init__(self, first, lines):
        self.first = first  # index of its first line in the file
        self.lines = lines


class Hidden:
    """A command run between the sessions without being shown."""

    def __init__(self, index, command):
        self.index = index
        self.command = command


def markdown_files(root):
    docs = os.path.join(root, "docs")
    names = sorted(n for n in os.listdir(docs) if n.endswith(".md"))
    return [os.path.join(root, "README.md")] + [os.path.join(docs, n) for n in names]


def is_indented(line):
    return line.startswith(INDENT)


def block_end(lines, start):
    """The index after the indented block starting at `start`; blank lines inside it belong to
    it, blank lines after it do not."""
    end = start
    i = start
    while i < len(lines):
        if is_indented(lines[i]):
            end = i + 1
        elif lines[i].strip():
            break
        i += 1
    return end


def parse(lines):
    """The sessions and hidden commands of a Markdown file, in order."""
    items = []
    i = 0
    while i < len(lines):
        line = lines[i]
        hidden = HIDDEN.match(line)
        starts_block = line.startswith(INDENT + "$ ") and (i == 0 or not lines[i - 1].strip())
        if hidden:
            items.append(Hidden(i, hidden.group(1)))
        elif starts_block:
            end = block_end(lines, i)
            items.append(Block(i, [l[len(INDENT):] for l in lines[i:end]]))
            i = end
            continue
        elif is_indented(line) and (i == 0 or not lines[i - 1].strip()):
            i = block_end(lines, i)  # another code block: its lines are not commands
            continue
        i += 1
    return items


def is_command(line):
    return line.startswith("$ ") or line.startswith("> ")


def to_cram(line):
    """A session line as cram expects it: "…" becomes a glob, and a line with other bytes outside
    ASCII (diff's arrows) is written with escapes."""
    if is_command(line):
        return line
    if "…" not in line and not line.isascii():
        escaped = line.encode("utf-8").decode("latin-1").encode("unicode_escape").decode("ascii")
        return escaped + " (esc)"
    if "…" not in line:
        return line
    escaped = line.replace("\\", "\\\\").replace("*", "\\*").replace("?", "\\?")
    return escaped.replace("…", "*") + " (glob)"


def from_cram(line):
    """A line of a cram file as the Markdown shows it."""
    if not is_command(line) and line.endswith(" (esc)"):
        body = line[: -len(" (esc)")]
        return body.encode("ascii").decode("unicode_escape").encode("latin-1").decode("utf-8")
    if is_command(line) or not line.endswith(" (glob)"):
        return line
    out = []
    body = line[: -len(" (glob)")]
    i = 0
    while i < len(body):
        if body[i] == "\\" and i + 1 < len(body):
            out.append(body[i + 1])
            i += 2
            continue
        out.append("…" if body[i] == "*" else body[i])
        i += 1
    return "".join(out)


def marker(n):
    return "item %d" % n


def cram_text(items, program):
    """The cram test of one Markdown file: the setup, then each item behind a marker line."""
    out = [
        "setup",
        CRAM_INDENT + "$ mkdir build && cp '%s' build/compactor" % program.replace("'", "'\\''"),
        CRAM_INDENT + '$ PATH="$PWD/build:$PATH"; export PATH',
    ]
    for n, item in enumerate(items):
        out.append(marker(n))
        if isinstance(item, Hidden):
            out.append(CRAM_INDENT + "$ " + item.command)
        else:
            out.extend(CRAM_INDENT + to_cram(l) for l in item.lines)
    return "\n".join(out) + "\n"


def find_cram():
    for name in ("cram3", "cram"):
        path = shutil.which(name)
        if path:
            return path
    return None


def write_tests(files, program, workdir):
    """One cram test per Markdown file that shows a session; (markdown, test, items) each."""
    tests = []
    for md in files:
        with open(md, encoding="utf-8") as f:
            items = parse(f.read().split("\n"))
        if not any(isinstance(i, Block) for i in items):
            continue
        name = os.path.splitext(os.path.basename(md))[0] + ".t"
        test = os.path.join(workdir, name)
        with open(test, "w", encoding="utf-8") as f:
            f.write(cram_text(items, program))
        tests.append((md, test, items))
    return tests


def split_items(text, count):
    """The lines of each item of a cram test, by its marker lines, without the indentation."""
    parts = [[] for _ in range(count)]
    current = None
    for line in text.split("\n"):
        if not line.startswith(CRAM_INDENT):
            current = int(line.split()[1]) if line.startswith("item ") else None
        elif current is not None:
            parts[current].append(line[len(CRAM_INDENT):])
    return parts


def update_markdown(md, test, items):
    """Writes the refreshed sessions of `test` back into the Markdown file `md`."""
    with open(test, encoding="utf-8") as f:
        parts = split_items(f.read(), len(items))
    with open(md, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for item, part in reversed(list(zip(items, parts))):
        if isinstance(item, Hidden):
            if len(part) > 1:
                sys.stderr.write("%s:%d: the hidden command printed:\n%s\n"
                                 % (md, item.index + 1, "\n".join(part[1:])))
            continue
        shown = [(INDENT + from_cram(l)) if l else "" for l in part]
        lines[item.first:item.first + len(item.lines)] = shown
    with open(md, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


def main(argv):
    if len(argv) < 3 or argv[0] not in ("check", "update"):
        sys.stderr.write(__doc__)
        return 2
    mode, program, root = argv[0], os.path.abspath(argv[1]), argv[2]
    cram = find_cram()
    if cram is None:
        print("SKIPPED: the documented sessions need cram, which is not installed "
              "(Debian: apt-get install python3-cram)")
        return SKIPPED
    files = [os.path.abspath(f) for f in argv[3:]] or markdown_files(root)
    workdir = tempfile.mkdtemp(prefix="doc-sessions-")
    try:
        tests = write_tests(files, program, workdir)
        if not tests:
            sys.stderr.write("no session found in %s\n" % ", ".join(files))
            return 1
        # Relative names: patch, which applies cram's changes, refuses absolute ones.
        names = [os.path.basename(t) for _, t, _ in tests]
        if mode == "check":
            return subprocess.call([cram, "--shell=/bin/sh"] + names, cwd=workdir)
        status = subprocess.call([cram, "--shell=/bin/sh", "-i", "-y"] + names, cwd=workdir)
        for md, test, items in tests:
            update_markdown(md, test, items)
        return 0 if status in (0, 1) else status
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
