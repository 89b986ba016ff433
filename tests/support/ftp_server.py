"""FTP server for the upload tests: pyftpdlib on 127.0.0.1.

Usage: ftp_server.py PORT ROOT USER PASSWORD STOPFILE LOGFILE [passive-only]
Serves ROOT to USER with full rights until STOPFILE exists (or two minutes have passed), so a
test started under Wine, which holds no handle to this process, can end it. Every command the
clients send is written to LOGFILE. "passive-only" refuses PORT and EPRT, as servers behind a
firewall do.
"""
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, FTPHandler
from pyftpdlib.servers import FTPServer


class HandingOverActiveDTP(ActiveDTP):
    """pyftpdlib's ActiveDTP hands its connected socket to the data channel but keeps the socket's
    number, and forgets that number from the event loop when its session ends. By then the number may
    belong to another session's new data channel, which is then never read: that upload gets no 226 and
    the client waits out its reply timeout. Once handed over, this one forgets the socket instead."""

    def handle_connect(self):
        super().handle_connect()
        channel = self.cmd_channel.data_channel
        if channel is not None and channel.socket is self.socket:
            self._fileno = None
            self.socket = None


class LumetraHandler(FTPHandler):
    active_dtp = HandingOverActiveDTP


class PassiveOnlyHandler(LumetraHandler):
    def ftp_PORT(self, line):
        self.respond("502 Active mode is not allowed here.")

    def ftp_EPRT(self, line):
        self.respond("502 Active mode is not allowed here.")


def main():
    port, root, user, password, stop_file, log_file = sys.argv[1:7]
    passive_only = sys.argv[7:8] == ["passive-only"]
    # The test's output pipes must not be held open by this process.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    logging.basicConfig(filename=log_file, level=logging.DEBUG, format="%(message)s")
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = PassiveOnlyHandler if passive_only else LumetraHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0.1
    server = FTPServer(("127.0.0.1", int(port)), handler)
    deadline = time.monotonic() + 120
    while not os.path.exists(stop_file) and time.monotonic() < deadline:
        server.serve_forever(timeout=0.1, blocking=False)
    server.close_all()


if __name__ == "__main__":
    main()
