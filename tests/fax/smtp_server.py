#!/usr/bin/python3
"""A loopback SMTP server for the delivery tests, with scripted replies.

usage: smtp_server.py FOLDER PORT [--refuse ADDRESS]... [--data-replies CODE,...]
                      [--cut-data COUNT]

Each message answered 250 is saved as FOLDER/NNN.eml (the data as received)
and FOLDER/NNN.env (MAIL FROM, then each accepted recipient, one a line).
--data-replies answers the first messages' data with these codes instead of
250; --cut-data drops the connection in the middle of the first COUNT
messages' data. FOLDER/ready appears once it listens; it stops when
FOLDER/stop appears.
"""
import argparse
import asyncio
import os
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class Script:
    def __init__(self, options):
        self.folder = options.folder
        self.refused = {a.lower() for a in options.refuse}
        self.data_replies = [int(c) for c in options.data_replies.split(",") if c]
        self.cuts = options.cut_data
        self.saved = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: no such mailbox here" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.data_replies:
            code = self.data_replies.pop(0)
            return "%d scripted reply" % code
        self.saved += 1
        stem = os.path.join(self.folder, "%03d" % self.saved)
        with open(stem + ".tmp", "wb") as out:
            out.write(envelope.original_content)
        with open(stem + ".env", "w") as out:
            out.write("\n".join([envelope.mail_from] + envelope.rcpt_tos) + "\n")
        os.rename(stem + ".tmp", stem + ".eml")
        return "250 2.0.0 queued as %03d" % self.saved


class CuttingSmtp(SMTP):
    """Drops the connection once part of a message's data has come."""

    async def smtp_DATA(self, arg):
        script = self.event_handler
        if script.cuts <= 0 or not self.envelope.rcpt_tos:
            return await super().smtp_DATA(arg)
        script.cuts -= 1
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readexactly(512)
        self.transport.abort()


class ScriptedController(Controller):
    def factory(self):
        return CuttingSmtp(self.handler, **self.SMTP_kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--data-replies", default="")
    parser.add_argument("--cut-data", type=int, default=0)
    options = parser.parse_args()
    controller = ScriptedController(Script(options), hostname="127.0.0.1", port=options.port)
    controller.start()
    open(os.path.join(options.folder, "ready"), "w").close()
    try:
        while not os.path.exists(os.path.join(options.folder, "stop")):
            time.sleep(0.05)
    finally:
        controller.stop()
        os.remove(os.path.join(options.folder, "ready"))


if __name__ == "__main__":
    main()
