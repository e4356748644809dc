#!/usr/bin/python3
"""Reads the message that Exim delivered into a maildir with Python's
standard e-mail package and checks it against the message file the agent
queued, and the agent's record of the delivery against Exim's reply.

usage: delivered_check.py VERDICT MAILDIR QUEUED RECORD SENDER RECIPIENT...

The maildir must hold one message: the queued one byte for byte after the
headers Exim adds, without defects, its attachments those of the queued
message, its envelope this sender and these recipients. The record must hold
Exim's 250 reply for this very message. Writes the file VERDICT, once
whole: "delivered whole", or what differs."""
import email
import email.policy
import os
import re
import sys

verdict_path, maildir, queued_path, record_path, sender, *recipients = sys.argv[1:]


def conclude(lines):
    with open(verdict_path + ".tmp", "w") as out:
        out.write("\n".join(lines) + "\n")
    os.rename(verdict_path + ".tmp", verdict_path)
    sys.exit(0)


new = os.path.join(maildir, "new")
delivered_names = os.listdir(new)
if len(delivered_names) != 1:
    conclude([f"{len(delivered_names)} messages delivered, not 1"])
with open(os.path.join(new, delivered_names[0]), "rb") as f:
    delivered = f.read()
with open(queued_path, "rb") as f:
    queued = f.read()
message = email.message_from_bytes(delivered, policy=email.policy.default)
original = email.message_from_bytes(queued, policy=email.policy.default)

failures = []
defects = [defect for part in message.walk() for defect in part.defects]
if defects:
    failures.append(f"defects: {defects}")
added = email.message_from_bytes(delivered[:len(delivered) - len(queued)])
if not delivered.endswith(queued):
    failures.append("the message arrived changed")
elif sorted(added.keys()) != ["Envelope-to", "Received", "Return-path"]:
    failures.append(f"headers before the queued message: {added.keys()}")
if message["Return-path"] != f"<{sender}>":
    failures.append(f"envelope sender: {message['Return-path']}")
envelope_to = sorted(a.strip() for a in message["Envelope-to"].split(","))
if envelope_to != sorted(recipients):
    failures.append(f"envelope recipients: {envelope_to} != {sorted(recipients)}")


def attachments(parsed):
    return [(p.get_filename(), p.get_payload(decode=True)) for p in parsed.iter_attachments()]


if not attachments(original) or attachments(message) != attachments(original):
    failures.append("the attachments differ from the queued ones")
exim_id = re.search(r"\sid (\S+);", message["Received"])
with open(record_path, encoding="latin-1", newline="") as f:
    record = f.read()
if not exim_id or f"\r\nReply: 250 OK id={exim_id.group(1)}\r\n" not in record:
    failures.append(f"the record lacks Exim's 250 for {message['Received']}:\n{record}")

conclude(failures or ["delivered whole"])
