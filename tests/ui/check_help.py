#!/usr/bin/env python3
"""Checks the compiled help file against its sources: every context number of
the map opens a page of the archive (the page its alias names, by its plain
name), every topic page has a context number, every page is in the contents
and in the archive once, nothing else is, and every link of the pages, the
contents and the index leads to a page and anchor that exist. The archive is
read by chmlib's extract_chmLib, not by the compiler's own tools.

With a third argument, the build folder, it also builds the help target of
the other build (i686 for x86_64 and back) in a new folder with a blank in
its name and checks that the file is the same, byte for byte; where the other
build's compilers are missing, the same build's in that folder.

Usage: check_help.py KELBO.CHM HELP_SOURCE_FOLDER [BUILD_FOLDER]."""
import filecmp
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

chm, source = sys.argv[1], sys.argv[2]
failures = []


def fail(text):
    failures.append(text)


def read(name):
    with open(os.path.join(source, name), encoding="cp1252") as f:
        return f.read()


with tempfile.TemporaryDirectory() as folder:
    unpacked = os.path.join(folder, "unpacked")
    subprocess.run(["extract_chmLib", chm, unpacked], check=True, capture_output=True)
    archive = {"/" + os.path.relpath(os.path.join(d, f), unpacked)
               for d, _, files in os.walk(unpacked) for f in files}
    internal = {}
    for name in ("#IVB", "#STRINGS"):
        with open(os.path.join(unpacked, name), "rb") as f:
            internal[name] = f.read()

# The archive's map: context number -> topic path, as the viewer reads it.
ivb, strings = internal["#IVB"], internal["#STRINGS"]
compiled = {}
for at in range(4, 4 + struct.unpack_from("<I", ivb)[0], 8):
    number, offset = struct.unpack_from("<II", ivb, at)
    compiled[number] = strings[offset:strings.index(b"\0", offset)].decode("cp1252")
for number, topic in sorted(compiled.items()):
    if topic not in archive or topic.count("/") != 1:
        fail(f"context {number} names {topic}, not a page of the archive by its plain name")

# The sources' map: names to numbers, names to pages.
numbers = {m[0]: int(m[1]) for m in re.findall(r"^#define\s+(\w+)\s+(\d+)", read("contexts.h"), re.M)}
aliases = dict(re.findall(r"^(\w+)=(\S+)", read("aliases.ali"), re.M))
if set(numbers) != set(aliases):
    fail(f"names without a page or without a number: {sorted(set(numbers) ^ set(aliases))}")
wanted = {numbers[n]: aliases[n] for n in numbers if n in aliases}
got = {number: topic.lstrip("/") for number, topic in compiled.items()}
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
listed = {"/" + n for n in re.search(r"^\[FILES\]\n(.*?)(?:^\[|\Z)", project, re.M | re.S)[1].split()}
for name in sorted(archive - listed - {"/KELBO.hhc", "/KELBO.hhk"}):
    if not re.match(r"^/[#$_]", name):
        fail(f"the archive holds {name}, which is no file of the help sources")

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

# The help target of the other build, in another folder, gives the same file.
if len(sys.argv) > 3:
    build = sys.argv[3]
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        cache = f.read()
    mine = "x86_64" if "mingw-x86_64.cmake" in cache else "i686"
    other = {"x86_64": "i686", "i686": "x86_64"}[mine]
    compiler = {"i686": "i686-w64-mingw32-g++-posix", "x86_64": "x86_64-w64-mingw32-g++-posix"}
    if not shutil.which(compiler[other]):
        print(f"the {other} compilers are missing: the {mine} build in another folder instead")
        other = mine
    sources = os.path.dirname(os.path.abspath(source))
    with tempfile.TemporaryDirectory(prefix="keypad help ") as folder:
        again = os.path.join(folder, other, "build")
        for step in (["cmake", "-S", sources, "-B", again, "-G", "Ninja",
                      f"-DCMAKE_TOOLCHAIN_FILE={sources}/cmake/mingw-{other}.cmake"],
                     ["cmake", "--build", again, "--target", "KELBO_CHM"]):
            done = subprocess.run(step, capture_output=True, text=True)
            if done.returncode:
                sys.exit(f"{' '.join(step)} failed:\n{done.stdout}{done.stderr}")
        if not filecmp.cmp(chm, os.path.join(again, "bin", "KELBO.CHM"), shallow=False):
            fail(f"the {other} build in {again} made another help file than {chm}")
        else:
            print(f"the {other} build in {again} made the same help file")

for text in failures:
    print("FAIL:", text)
print(f"{len(compiled)} context numbers, {len(pages)} pages, {len(links)} links checked")
sys.exit(1 if failures else 0)
