#!/usr/bin/python3
"""A loopback SMTP server for the delivery tests, with scripted replies.

usage: smtp_server.py FOLDER PORT [--refuse ADDRESS]... [--defer ADDRESS]...
                      [--hold-recipient ADDRESS] [--data-replies CODE,...]
                      [--cut-data COUNT] [--hold-data COUNT] [--hold-quit COUNT]
                      [--slow-data-reply SECONDS] [--hold-data-reply [N]]
                      [--greeting CODE] [--trickle]
                      [--ehlo-reply CODE] [--no-8bitmime] [--long-ehlo-line]
                      [--starttls-replies CODE,...] [--ask-certificate]
                      [--starttls USER PASSWORD] [--tls USER PASSWORD] [--exim]

Each message answered 250 is saved as FOLDER/NNN.eml (the data as received)
and FOLDER/NNN.env (MAIL FROM and its parameters, then each accepted
recipient, one a line); FOLDER/connections has a line for each connection.
It offers PIPELINING and 8BITMIME (--no-8bitmime: not that one).
--defer answers 451 to an address's first RCPT and takes it after that;
--hold-recipient answers 452 to it every time.
--data-replies answers the first messages' data with these codes instead of
250; --cut-data drops the connection in the middle of the first COUNT
messages' data. --hold-data stops reading in the middle of the first COUNT
messages' data, --hold-quit never answers the first COUNT QUITs: each hold
lasts as long as the session, FOLDER/heldN appearing for the Nth.
--slow-data-reply takes the first message's data, then answers that many
seconds late;
--hold-data-reply [N] holds back the reply to the Nth message's data (the
first without N), FOLDER/heldN appearing, until FOLDER/release does.
--greeting greets the first connection with CODE instead of 220; --trickle
sends the first greeting a byte every tenth of a second. --ehlo-reply
answers every EHLO with CODE (HELO still works); --long-ehlo-line adds an
EHLO line of 5,000 bytes. --starttls-replies answers the first STARTTLS
commands with these codes instead of 220: 0 drops the connection, 1 sends
the 220 with false replies after it in the same packet, as a man in the
middle would. --ask-certificate asks the client for a certificate it may
leave out.
--starttls requires STARTTLS, with a certificate for 127.0.0.1 made now
(FOLDER/cert.pem), then AUTH with this user and password; --tls speaks TLS
from the first byte instead (as on port 465), with the same certificate and
AUTH.
--exim runs Debian's Exim in its place instead, a production server with a
configuration of its own in FOLDER/exim: mail for example.com delivered to
FOLDER/exim/Maildir, every other domain refused, no DNS.
FOLDER/ready appears once it listens; it stops when FOLDER/stop appears, or
after ten minutes, whoever started it.
"""
import argparse
import asyncio
import logging
import os
import shutil
import socket
import ssl
import subprocess
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult


class Script:
    def __init__(self, options):
        self.folder = options.folder
        self.refused = {a.lower() for a in options.refuse}
        self.deferred = {a.lower() for a in options.defer}
        self.held_recipient = (options.hold_recipient or "").lower()
        self.slow_reply = options.slow_data_reply
        self.hold_reply = options.hold_data_reply
        # The controller's own first connection, made as it starts, is none of
        # these: it comes from this port, known before it connects.
        self.own_port = None
        self.greeting = options.greeting
        self.trickle = options.trickle
        self.ehlo_reply = options.ehlo_reply
        self.no_8bitmime = options.no_8bitmime
        self.long_ehlo_line = options.long_ehlo_line
        self.starttls_replies = [int(c) for c in options.starttls_replies.split(",") if c]
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
        if address.lower() in self.deferred:
            self.deferred.remove(address.lower())
            return "451 4.2.1 <%s>: mailbox busy, try later" % address
        if address.lower() == self.held_recipient:
            return "452 4.2.2 <%s>: mailbox full, try later" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.data_replies:
            code = self.data_replies.pop(0)
            return "%d scripted reply" % code
        if self.hold_reply == self.saved + 1:
            self.hold_reply = 0
            self.held += 1
            open(os.path.join(self.folder, "held%d" % self.held), "w").close()
            while not os.path.exists(os.path.join(self.folder, "release")):
                await asyncio.sleep(0.05)
        self.saved += 1
        stem = os.path.join(self.folder, "%03d" % self.saved)
        with open(stem + ".tmp", "wb") as out:
            out.write(envelope.original_content)
        with open(stem + ".env", "w") as out:
            sender = " ".join([envelope.mail_from] + envelope.mail_options)
            out.write("\n".join([sender] + envelope.rcpt_tos) + "\n")
        os.rename(stem + ".tmp", stem + ".eml")
        if self.slow_reply:
            delay, self.slow_reply = self.slow_reply, 0
            await asyncio.sleep(delay)
        return "250 2.0.0 queued as %03d" % self.saved


FALSE_REPLIES = ["250-false", "250 AUTH PLAIN", "235 2.7.0 false", "250 2.1.0 false",
                 "250 2.1.5 false", "354 false", "250 2.0.0 false"]


class FaultySmtp(SMTP):
    """Greets, answers EHLO and STARTTLS as scripted; drops the connection or
    stops reading in the middle of the data, or holds back the reply to QUIT."""

    greeted = False
    ehlo_lines = None
    inject = False

    async def _handle_client(self):
        peer = self.transport.get_extra_info("peername")
        if not peer or peer[1] != self.event_handler.own_port:
            with open(os.path.join(self.event_handler.folder, "connections"), "a") as out:
                out.write("connection\n")
        else:
            self.greeted = True
        await super()._handle_client()

    async def push(self, status):
        script = self.event_handler
        if self.ehlo_lines is not None:
            self.ehlo_lines.append(status)
            return
        if self.inject:
            self.inject = False
            status = "\r\n".join([status] + FALSE_REPLIES)
        if not self.greeted:
            self.greeted = True
            if script.greeting:
                status, script.greeting = "%d 5.7.1 scripted refusal" % script.greeting, 0
            if script.trickle:
                script.trickle = False
                for byte in (status + "\r\n").encode():
                    self._writer.write(bytes([byte]))
                    await self._writer.drain()
                    await asyncio.sleep(0.1)
                return
        await super().push(status)

    async def smtp_EHLO(self, hostname):
        script = self.event_handler
        if script.ehlo_reply:
            return await self.push("%d 5.5.1 EHLO not here" % script.ehlo_reply)
        self.ehlo_lines = []
        await super().smtp_EHLO(hostname)
        lines, self.ehlo_lines = self.ehlo_lines, None
        lines = [line for line in lines if not (script.no_8bitmime and "8BITMIME" in line)]
        lines.insert(1, "250-PIPELINING")
        if script.long_ehlo_line:
            lines.insert(1, "250-X" + "L" * 5000)
        for line in lines:
            await self.push(line)

    async def smtp_STARTTLS(self, arg):
        script = self.event_handler
        code = script.starttls_replies.pop(0) if script.starttls_replies else 220
        if code == 0:
            self.transport.close()
        elif code == 1:
            self.inject = True
            await super().smtp_STARTTLS(arg)
        elif code != 220:
            await self.push("%d 4.7.0 TLS not available now" % code)
        else:
            await super().smtp_STARTTLS(arg)

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

    def _trigger_server(self):
        # As the controller's own, from a port bound first, so that a client
        # that connects meanwhile (an agent trying again) is told apart.
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as own:
            own.bind((self.hostname, 0))
            self.handler.own_port = own.getsockname()[1]
            own.settimeout(1.0)
            own.connect((self.hostname, self.port))
            if self.ssl_context:
                client = ssl.create_default_context()
                client.check_hostname = False
                client.verify_mode = ssl.CERT_NONE  # our own server's certificate
                with client.wrap_socket(own) as wrapped:
                    wrapped.recv(1024)
            else:
                own.recv(1024)


def tls_options(folder, user, password, implicit, ask_certificate):
    """TLS and AUTH as the controller's options: STARTTLS required, or
    (implicit) TLS on the connection from its first byte."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    if ask_certificate:
        context.verify_mode = ssl.CERT_OPTIONAL
        context.load_verify_locations(cert)

    def authenticate(server, session, envelope, mechanism, auth_data):
        return AuthResult(handled=False, success=auth_data.login == user.encode()
                          and auth_data.password == password.encode())

    options = {"auth_required": True, "authenticator": authenticate}
    if implicit:
        # aiosmtpd counts only STARTTLS as TLS and warns of AUTH without it on
        # every connection; this one is TLS throughout.
        warnings.filterwarnings("ignore", "Requiring AUTH while not requiring TLS")
        logging.getLogger("mail.log").addFilter(
            lambda record: "auth_require_tls" not in record.getMessage())
        return dict(options, ssl_context=context, auth_require_tls=False)
    return dict(options, tls_context=context, require_starttls=True, auth_require_tls=True)


EXIM_CONFIG = """\
primary_hostname = mta.test.example
domainlist local_domains = example.com
local_interfaces = <; 127.0.0.1
daemon_smtp_ports = {port}
spool_directory = {home}/spool
log_file_path = {home}/%slog
host_lookup =
rfc1413_hosts =
tls_advertise_hosts =
keep_environment =
acl_smtp_rcpt = recipient

begin acl
recipient:
  accept domains = +local_domains
  deny message = relay not permitted

begin routers
mailbox:
  driver = accept
  domains = +local_domains
  transport = maildir

begin transports
maildir:
  driver = appendfile
  directory = {home}/Maildir
  maildir_format
  use_crlf
  batch_max = 100
  envelope_to_add
  return_path_add

begin retry
* * F,1m,1m
"""


class Exim:
    """Debian's Exim as a daemon in the foreground, with start and stop as
    the scripted server's controller has them."""

    def __init__(self, folder, port):
        # Its option -C and some of its settings are lists split at colons:
        # no Wine drive letter ("dosdevices/c:") in these paths.
        self.home = os.path.join(os.path.realpath(folder), "exim")
        self.port = port
        shutil.rmtree(self.home, ignore_errors=True)
        os.mkdir(self.home)
        shutil.chown(self.home, "Debian-exim", "Debian-exim")  # its spool and log are its own
        self.config = os.path.join(self.home, "exim.conf")
        with open(self.config, "w") as out:
            out.write(EXIM_CONFIG.format(home=self.home, port=port))

    def start(self):
        self.process = subprocess.Popen(["/usr/sbin/exim4", "-C", self.config, "-bdf"])
        deadline = time.monotonic() + 30
        while self.process.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise SystemExit("exim did not start listening")

    def stop(self):
        self.process.terminate()
        self.process.wait(30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("port", type=int)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--defer", action="append", default=[])
    parser.add_argument("--hold-recipient")
    parser.add_argument("--slow-data-reply", type=float, default=0)
    parser.add_argument("--hold-data-reply", type=int, nargs="?", const=1, default=0)
    parser.add_argument("--greeting", type=int, default=0)
    parser.add_argument("--trickle", action="store_true")
    parser.add_argument("--ehlo-reply", type=int, default=0)
    parser.add_argument("--no-8bitmime", action="store_true")
    parser.add_argument("--long-ehlo-line", action="store_true")
    parser.add_argument("--starttls-replies", default="")
    parser.add_argument("--ask-certificate", action="store_true")
    parser.add_argument("--data-replies", default="")
    parser.add_argument("--cut-data", type=int, default=0)
    parser.add_argument("--hold-data", type=int, default=0)
    parser.add_argument("--hold-quit", type=int, default=0)
    parser.add_argument("--starttls", nargs=2, metavar=("USER", "PASSWORD"))
    parser.add_argument("--tls", nargs=2, metavar=("USER", "PASSWORD"))
    parser.add_argument("--exim", action="store_true")
    options = parser.parse_args()
    account = options.starttls or options.tls
    if options.exim:
        controller = Exim(options.folder, options.port)
    else:
        extra = tls_options(options.folder, *account, options.tls is not None,
                            options.ask_certificate) if account else {}
        script = Script(options)
        controller = ScriptedController(script, hostname="127.0.0.1", port=options.port, **extra)
    controller.start()
    open(os.path.join(options.folder, "ready"), "w").close()
    # Bounded, so that a test that died before stopping it leaves nothing running.
    deadline = time.monotonic() + 600
    try:
        while not os.path.exists(os.path.join(options.folder, "stop")) \
                and time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        controller.stop()
        os.remove(os.path.join(options.folder, "ready"))


if __name__ == "__main__":
    main()
