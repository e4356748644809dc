#!/usr/bin/env python3
"""Checks the compiled help file against its sources: every context number of
the map opens a page of the archive (the page its alias names), every topic
page has a context number, every page is in the contents, and every link of
the pages, the contents and the index leads to a page and anchor that exist.

Usage: check_help.py KELBO.CHM HELP_SOURCE_FOLDER (needs chmls, of fp-utils)."""
import os
import re
import struct
import subprocess
import sys
import tempfile

chm, source = sys.argv[1], sys.argv[2]
failures = []


def fail(text):
    failures.append(text)


def chmls(*args):
    return subprocess.run(["chmls", "-p", *args], capture_output=True, text=True, check=True).stdout


def read(name):
    with open(os.path.join(source, name), encoding="cp1252") as f:
        return f.read()


archive = {line for line in chmls("-n", "list", chm).splitlines() if line.startswith("/")}
with tempfile.TemporaryDirectory() as folder:
    internal = {}
    for name in ("#IVB", "#STRINGS"):
        path = os.path.join(folder, name[1:])
        chmls("extract", chm, "/" + name, path)
        with open(path, "rb") as f:
            internal[name] = f.read()

# The archive's map: context number -> topic path, as the viewer reads it.
ivb, strings = internal["#IVB"], internal["#STRINGS"]
compiled = {}
for at in range(4, 4 + struct.unpack_from("<I", ivb)[0], 8):
    number, offset = struct.unpack_from("<II", ivb, at)
    compiled[number] = strings[offset:strings.index(b"\0", offset)].decode("cp1252")
for number, topic in sorted(compiled.items()):
    if ("/" + topic.lstrip("/")) not in archive:
        fail(f"context {number} names {topic}, which the archive does not hold")

# The sources' map: names to numbers, names to pages.
numbers = {m[0]: int(m[1]) for m in re.findall(r"^#define\s+(\w+)\s+(\d+)", read("contexts.h"), re.M)}
aliases = dict(re.findall(r"^(\w+)=(\S+)", read("aliases.ali"), re.M))
if set(numbers) != set(aliases):
    fail(f"names without a page or without a number: {sorted(set(numbers) ^ set(aliases))}")
wanted = {numbers[n]: aliases[n] for n in numbers if n in aliases}
got = {number: os.path.basename(topic) for number, topic in compiled.items()}
if wanted != got:
    fail(f"the archive's map {sorted(got.items())} is not the sources' {sorted(wanted.items())}")

project = read("KELBO.hhp")
default = re.search(r"^Default topic=(\S+)", project, re.M)[1]
pages = sorted(n for n in os.listdir(source) if n.endswith(".htm"))
for page in pages:
    if "/" + page not in archive:
        fail(f"{page} is not in the archive")
    if page != default and page not in aliases.values():
        fail(f"{page} has no context number")
for page in aliases.values():
    if page not in pages:
        fail(f"an alias names {page}, which does not exist")

# Links: href and src of the pages, Local of the contents and the index.
anchors = {p: set(re.findall(r'(?:name|id)="([^"]+)"', read(p), re.I)) for p in pages}
contents = read("KELBO.hhc")
links = [(p, t) for p in pages for t in re.findall(r'(?:href|src)="([^"]+)"', read(p), re.I)]
links += [(f, t) for f in ("KELBO.hhc", "KELBO.hhk")
          for t in re.findall(r'name="Local" value="([^"]+)"', read(f), re.I)]
for origin, target in links:
    if re.match(r"^[a-z]+:", target, re.I):
        continue
    page, _, anchor = target.partition("#")
    page = page or origin
    if "/" + page not in archive:
        fail(f"{origin} links to {target}: no such page")
    elif anchor and anchor not in anchors.get(page, set()):
        fail(f"{origin} links to {target}: no such anchor")
for page in pages:
    if f'value="{page}"' not in contents:
        fail(f"{page} is not in the contents")

for text in failures:
    print("FAIL:", text)
print(f"{len(compiled)} context numbers, {len(pages)} pages, {len(links)} links checked")
sys.exit(1 if failures else 0)
