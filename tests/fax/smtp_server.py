#!/usr/bin/python3
"""A loopback SMTP server for the delivery tests, with scripted replies.

usage: smtp_server.py FOLDER PORT [--refuse ADDRESS]... [--data-replies CODE,...]
                      [--cut-data COUNT] [--hold-data COUNT] [--hold-quit COUNT]
                      [--starttls USER PASSWORD]

Each message answered 250 is saved as FOLDER/NNN.eml (the data as received)
and FOLDER/NNN.env (MAIL FROM, then each accepted recipient, one a line).
--data-replies answers the first messages' data with these codes instead of
250; --cut-data drops the connection in the middle of the first COUNT
messages' data. --hold-data stops reading in the middle of the first COUNT
messages' data, --hold-quit never answers the first COUNT QUITs: each hold
lasts as long as the session, FOLDER/heldN appearing for the Nth.
--starttls requires STARTTLS, with a certificate for 127.0.0.1 made now
(FOLDER/cert.pem), then AUTH with this user and password.
FOLDER/ready appears once it listens; it stops when FOLDER/stop appears.
"""
import argparse
import asyncio
import os
import ssl
import subprocess
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult


class Script:
    def __init__(self, options):
        self.folder = options.folder
        self.refused = {a.lower() for a in options.refuse}
        self.data_replies = [int(c) for c in options.data_replies.split(",") if c]
        self.cuts = options.cut_data
        self.holds = options.hold_data
        self.quit_holds = options.hold_quit
        self.held = 0
        self.saved = 0

    async def hold(self):
        """Signals the hold, then neither answers nor reads while the session lasts."""
        self.held += 1
        open(os.path.join(self.folder, "held%d" % self.held), "w").close()
        await asyncio.get_running_loop().create_future()

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


class FaultySmtp(SMTP):
    """Drops the connection or stops reading in the middle of the data, or
    holds back the reply to QUIT."""

    async def smtp_DATA(self, arg):
        script = self.event_handler
        if script.cuts + script.holds <= 0 or not self.envelope.rcpt_tos:
            return await super().smtp_DATA(arg)
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readexactly(512)
        if script.cuts > 0:
            script.cuts -= 1
            self.transport.abort()
            return
        script.holds -= 1
        await script.hold()

    async def smtp_QUIT(self, arg):
        script = self.event_handler
        if script.quit_holds <= 0:
            return await super().smtp_QUIT(arg)
        script.quit_holds -= 1
        await script.hold()


class ScriptedController(Controller):
    def factory(self):
        return FaultySmtp(self.handler, **self.SMTP_kwargs)


def tls_options(folder, user, password):
    """STARTTLS and AUTH as the server's SMTP options."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def authenticate(server, session, envelope, mechanism, auth_data):
        return AuthResult(handled=False, success=auth_data.login == user.encode()
                          and auth_data.password == password.encode())

    return {"tls_context": context, "require_starttls": True, "auth_required": True,
            "auth_require_tls": True, "authenticator": authenticate}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--data-replies", default="")
    parser.add_argument("--cut-data", type=int, default=0)
    parser.add_argument("--hold-data", type=int, default=0)
    parser.add_argument("--hold-quit", type=int, default=0)
    parser.add_argument("--starttls", nargs=2, metavar=("USER", "PASSWORD"))
    options = parser.parse_args()
    extra = tls_options(options.folder, *options.starttls) if options.starttls else {}
    controller = ScriptedController(Script(options), hostname="127.0.0.1", port=options.port,
                                    **extra)
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
