#!/usr/bin/python3
"""Parses the message that TelvexTests left in the outbox with Python's
standard e-mail package and checks its sender, recipients and attachments
byte for byte. Argument: the outbox folder. Removes what it checked."""
import email
import email.policy
import os
import sys

outbox = sys.argv[1]
with open(os.path.join(outbox, "expected.txt"), encoding="latin-1") as f:
    lines = f.read().splitlines()
name, sender, *rest = lines
recipients = [line for line in rest if "=" not in line]
attachments = dict(line.split("=", 1) for line in rest if "=" in line)

with open(os.path.join(outbox, name), "rb") as f:
    raw = f.read()
message = email.message_from_bytes(raw, policy=email.policy.default)
failures = []
if message.defects:
    failures.append(f"defects: {message.defects}")
if [a.addr_spec for a in message["From"].addresses] != [sender]:
    failures.append(f"From: {message['From']}")
to = [a.addr_spec for a in message["To"].addresses]
if to != recipients:
    failures.append(f"To: {to} != {recipients}")
names = [a.display_name for a in message["To"].addresses]
if names[1] != "Evil  Bcc: victim@example.com" or names[2] != "J\u00fcrgen M\u00fcller":
    failures.append(f"display names: {names}")
if message["Bcc"] is not None:
    failures.append("a Bcc header appeared")
if len(message.keys()) != len(set(k.lower() for k in message.keys())):
    failures.append(f"repeated headers: {message.keys()}")
found = {}
for part in message.iter_attachments():
    found[part.get_filename()] = part.get_payload(decode=True)
if sorted(found) != sorted(attachments):
    failures.append(f"attachments: {sorted(found)}")
for attachment, page in attachments.items():
    with open(os.path.join(outbox, page), "rb") as f:
        if found.get(attachment) != f.read():
            failures.append(f"{attachment} differs from {page}")
types = {part.get_filename(): part.get_content_type() for part in message.iter_attachments()}
if types.get("FX-00041.TIF") != "image/tiff" or types.get("FX-00042.JPG") != "image/jpeg":
    failures.append(f"content types: {types}")

for leftover in [name, "expected.txt", *attachments.values()]:
    os.remove(os.path.join(outbox, leftover))
if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"{name}: {len(to)} recipients, {len(found)} attachments as sent")
