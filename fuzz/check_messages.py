#!/usr/bin/python3
"""Reads back the messages the message_writer fuzz target kept (NNN.eml, with
what each should hold in NNN.expect) with Python's standard e-mail parser:
no defects, no header field the writer does not write, lines of at most 998
octets, and the sender, recipients (mailboxes and names) and attachments as
they were given. Argument: the folder. Prints one line per faulty message
and a summary; exits 1 when any message is faulty."""
import email
import email.policy
import os
import sys
from email import _header_value_parser as parser

FIELDS = ["from", "to", "subject", "date", "message-id", "mime-version", "content-type"]
# Code pages the writer labels, and how Python reads each label.
CODECS = {874: "cp874", 932: "shift_jis", 936: "gbk", 949: "euc_kr", 950: "big5",
          65001: "utf-8", **{cp: "cp%d" % cp for cp in range(1250, 1259)}}
NAME_LIMIT = 200  # bytes of a name the writer keeps


def expected_name(raw, codepage):
    """The name as the reader should see it, or None when the labelled
    charset cannot hold it."""
    clean = bytes(0x20 if c < 0x20 or c == 0x7F else c for c in raw)
    if codepage not in CODECS:
        return clean.decode("latin-1").translate({c: "?" for c in range(0x80, 0x100)})
    try:
        return clean.decode(CODECS[codepage])
    except UnicodeDecodeError:
        return None


def display_names(message):
    """The display names of the To header as RFC 5322 and RFC 2047 read them,
    from the standard parser's tokens: a quoted string's text, or encoded
    words' texts joined without the blanks between them. (The parser's own
    display_name keeps those blanks, against RFC 2047 section 6.2, and
    shortens runs of blanks inside an encoded word.)"""
    value = next(v for k, v in message.raw_items() if k.lower() == "to")
    addresses, _ = parser.get_address_list(value.replace("\r\n", "").strip())
    names = []
    for mailbox in addresses.all_mailboxes:
        phrase = next((t for t in walk(mailbox) if t.token_type == "display-name"), [])
        parts = []
        for word in phrase:
            encoded = [t for t in word if getattr(t, "token_type", "") == "encoded-word"]
            if word.token_type == "quoted-string":
                parts.append(("text", next(t for t in word
                                           if t.token_type == "bare-quoted-string").value))
            elif encoded:
                parts.append(("encoded", "".join(str(t) for t in encoded)))
            elif word.token_type != "cfws":
                parts.append(("text", word.value.strip()))
        name = ""
        for i, (kind, text) in enumerate(parts):
            joined = i and not (kind == "encoded" and parts[i - 1][0] == "encoded")
            name += (" " if joined else "") + text
        names.append(name)
    return names


def walk(token):
    yield token
    if isinstance(token, list):
        for child in token:
            yield from walk(child)


def check(raw, expect):
    lines = expect.decode("latin-1").split("\n")
    codepage = int(lines[0].split(" ")[1])
    sender = lines[1].split(" ")[1]
    recipients = [line.split(" ") for line in lines if line.startswith("to ")]
    pages = [line[5:].rsplit(" ", 1) for line in lines if line.startswith("page ")]
    faults = []
    if any(len(line) > 998 for line in raw.split(b"\r\n")):
        faults.append("a line is longer than 998 octets")
    message = email.message_from_bytes(raw, policy=email.policy.default)
    if message.defects:
        faults.append(f"defects {message.defects}")
    keys = [key.lower() for key in message.keys()]
    if sorted(keys) != sorted(FIELDS):
        faults.append(f"header fields {message.keys()}")
    if [a.addr_spec for a in message["From"].addresses] != [sender]:
        faults.append(f"From {message['From']!r}")
    to = message["To"].addresses
    if [a.addr_spec for a in to] != [r[1] for r in recipients]:
        faults.append(f"To {[a.addr_spec for a in to]} != {[r[1] for r in recipients]}")
    else:
        for got, (_, _, name) in zip(display_names(message), recipients):
            raw_name = bytes.fromhex(name)
            want = expected_name(raw_name, codepage)
            if want is None or got == want:
                continue
            if len(raw_name) > NAME_LIMIT and want.startswith(got):
                continue
            faults.append(f"display name {got!r} != {want!r}")
    found = [(part.get_filename(), part.get_payload(decode=True))
             for part in message.iter_attachments()]
    if found != [(name, bytes.fromhex(data)) for name, data in pages]:
        faults.append(f"attachments {[name for name, _ in found]} != {[n for n, _ in pages]}")
    return faults


def main():
    folder = sys.argv[1]
    names = sorted(n[:-4] for n in os.listdir(folder) if n.endswith(".eml"))
    faulty = 0
    for name in names:
        with open(os.path.join(folder, name + ".eml"), "rb") as f:
            raw = f.read()
        with open(os.path.join(folder, name + ".expect"), "rb") as f:
            expect = f.read()
        faults = check(raw, expect)
        if faults:
            faulty += 1
            print(f"{name}.eml: {'; '.join(faults)}")
    print(f"checked {len(names)} messages, {faulty} faulty")
    return 1 if faulty else 0


if __name__ == "__main__":
    sys.exit(main())
