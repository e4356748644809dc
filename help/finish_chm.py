#!/usr/bin/env python3
"""Makes the help file that chmcmd wrote the same wherever and whenever it
was built: the context map names each page by its name in the archive
(/topic.htm), and the compile time is cleared.

chmcmd 3.2 names the page of each context number by the project's folder
followed by the page (FOLDER/topic.htm), in the map's strings (#STRINGS),
which it compresses. Given the project as /proc/self/cwd/KELBO.hhp that
folder reads the same on every build; here each such name becomes
/topic.htm, padded with NULs to its old length so that every offset into
the strings stays valid, and the new strings are stored uncompressed at the
end of the file, where the archive's directory now points. The compressed
copy stays unreferenced.

Usage: finish_chm.py CHM FOLDER (the folder chmcmd named, ending in /)."""
import os
import struct
import subprocess
import sys
import tempfile

chm_path, folder = sys.argv[1], sys.argv[2].encode()
data = bytearray(open(chm_path, "rb").read())


def fail(text):
    sys.exit(f"finish_chm.py: {chm_path}: {text}")


if data[:4] != b"ITSF" or struct.unpack_from("<I", data, 4)[0] != 3:
    fail("not a version 3 ITSF file")
header0, _, directory, _, content0 = struct.unpack_from("<QQQQQ", data, 0x38)
itsp = directory
if data[itsp:itsp + 4] != b"ITSP":
    fail("no directory")
chunk_size, = struct.unpack_from("<I", data, itsp + 0x10)
density, = struct.unpack_from("<I", data, itsp + 0x14)
chunks, = struct.unpack_from("<I", data, itsp + 0x2C)
first_chunk = itsp + struct.unpack_from("<I", data, itsp + 8)[0]


def encint(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def decint(chunk, at):
    value = 0
    while True:
        byte = chunk[at]
        at += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, at


def entries_of(chunk):
    """The entries of a listing chunk: [name, section, offset, length]."""
    free, = struct.unpack_from("<I", chunk, 4)
    at, entries = 20, []
    while at < len(chunk) - free:
        length, at = decint(chunk, at)
        name = bytes(chunk[at:at + length])
        at += length
        section, at = decint(chunk, at)
        offset, at = decint(chunk, at)
        size, at = decint(chunk, at)
        entries.append([name, section, offset, size])
    return entries


def listing_chunk(chunk, entries):
    """The chunk again with these entries: its header kept, and the quick
    reference at its end pointing at every (1 + 2^density)th entry, as
    chmcmd writes it."""
    body = bytearray()
    starts = []
    for name, section, offset, size in entries:
        starts.append(len(body))
        body += encint(len(name)) + name + encint(section) + encint(offset) + encint(size)
    step = 1 + (1 << density)
    quick = [starts[i] for i in range(step - 1, len(entries) - 1, step)]
    if 20 + len(body) + 2 * (len(quick) + 1) > len(chunk):
        fail("the directory chunk has no room for the changed entry")
    out = bytearray(len(chunk))
    out[:20] = chunk[:20]
    struct.pack_into("<I", out, 4, len(chunk) - 20 - len(body))
    out[20:20 + len(body)] = body
    struct.pack_into("<H", out, len(chunk) - 2, len(entries))
    for i, start in enumerate(quick):
        struct.pack_into("<H", out, len(chunk) - 4 - 2 * i, start)
    return out


def find(name):
    for index in range(chunks):
        at = first_chunk + index * chunk_size
        chunk = data[at:at + chunk_size]
        if chunk[:4] != b"PMGL":
            continue
        for entry in entries_of(chunk):
            if entry[0] == name:
                return at, entry
    fail(f"no {name.decode()} in the directory")


# The map's strings, rewritten in place.
with tempfile.TemporaryDirectory() as scratch:
    extracted = os.path.join(scratch, "strings")
    subprocess.run(["chmls", "-p", "extract", chm_path, "/#STRINGS", extracted],
                   check=True, capture_output=True)
    strings = bytearray(open(extracted, "rb").read())
renamed = 0
at = strings.find(folder)
while at >= 0:
    if at > 0 and strings[at - 1] != 0:
        fail("a string holds the folder's name inside it")
    end = strings.index(b"\0", at)
    plain = b"/" + strings[at + len(folder):end]
    strings[at:end] = plain + b"\0" * (end - at - len(plain))
    renamed += 1
    at = strings.find(folder, end)
if not renamed:
    fail(f"the map names no page under {folder.decode()}")

# The new strings at the end of the uncompressed section; the directory
# points there, and the file's size grows by them.
chunk_at, entry = find(b"/#STRINGS")
if entry[3] != len(strings):
    fail("the extracted strings are not as long as the directory says")
entry[1], entry[2] = 0, len(data) - content0
chunk = data[chunk_at:chunk_at + chunk_size]
entries = entries_of(chunk)
for i, old in enumerate(entries):
    if old[0] == entry[0]:
        entries[i] = entry
data[chunk_at:chunk_at + chunk_size] = listing_chunk(chunk, entries)
data += strings
struct.pack_into("<Q", data, header0 + 8, len(data))

# The compile time: in the file's header and as #SYSTEM's entry 10.
struct.pack_into("<I", data, 16, 0)
_, system = find(b"/#SYSTEM")
at, end = content0 + system[2] + 4, content0 + system[2] + system[3]
while at + 4 <= end:
    code, size = struct.unpack_from("<HH", data, at)
    if code == 10:
        data[at + 4:at + 4 + size] = bytes(size)
    at += 4 + size

open(chm_path, "wb").write(data)
