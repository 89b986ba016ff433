"""SMTP server for the mail tests: aiosmtpd on 127.0.0.1.

Usage: smtp_server.py MODE PORT FOLDER USER PASSWORD NAMES
MODE: starttls, tls (TLS from the first byte), plain, or silent (takes connections, never answers).
Before it listens, openssl makes a self-signed certificate for NAMES (DNS names and IP addresses,
separated by commas) in FOLDER and writes openssl's SHA-256 fingerprint of it to FOLDER/fingerprint.
A message received is read with Python's email package: FOLDER/attachment holds the attachment's
bytes, FOLDER/message.txt one "name=value" line for each header and fact the tests look at.
Runs until FOLDER/stop exists (or two minutes have passed): a test under Wine holds no handle to it.
"""
import email
import email.policy
import email.utils
import ipaddress
import os
import socket
import ssl
import subprocess
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def make_certificate(folder, names):
    def entry(name):
        try:
            ipaddress.ip_address(name)
            return "IP:" + name
        except ValueError:
            return "DNS:" + name

    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=" + names[0], "-addext",
                    "subjectAltName=" + ",".join(entry(name) for name in names),
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    fingerprint = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-fingerprint", "-sha256"],
                                 check=True, capture_output=True, text=True).stdout
    with open(os.path.join(folder, "fingerprint"), "w") as out:
        out.write(fingerprint.split("=", 1)[1].strip())
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


class Recorder:
    def __init__(self, folder, user, password):
        self.folder, self.user, self.password, self.auth = folder, user, password, ""

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        over_tls = server.transport.get_extra_info("ssl_object") is not None
        good = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user.encode()
                and auth_data.password == self.password.encode())
        self.auth = f"{mechanism} {'tls' if over_tls else 'plain'} {'ok' if good else 'refused'}"
        return AuthResult(success=good, handled=False)  # False: aiosmtpd answers 535 itself

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.content, policy=email.policy.default)
        sent = email.utils.parsedate_to_datetime(message["Date"]).timestamp()
        facts = {"mail_from": envelope.mail_from, "rcpt_to": " ".join(envelope.rcpt_tos),
                 "from": message["From"], "to": message["To"], "subject": message["Subject"],
                 "message_id": message["Message-ID"], "date_offset": abs(sent - time.time()),
                 "text": message.get_body(("plain",)).get_content().strip(), "auth": self.auth}
        for attachment in message.iter_attachments():
            facts.update(filename=attachment.get_filename(), content_type=attachment.get_content_type())
            with open(os.path.join(self.folder, "attachment"), "wb") as out:
                out.write(attachment.get_payload(decode=True))
        with open(os.path.join(self.folder, "message.txt"), "w", encoding="utf-8") as out:
            for name, value in facts.items():
                out.write(f"{name}={' '.join(str(value).splitlines())}\n")
        return "250 OK"


def main():
    mode, port, folder, user, password, names = sys.argv[1:7]
    # The test's output pipes must not be held open by this process.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    context = make_certificate(folder, names.split(","))
    recorder = Recorder(folder, user, password)
    options = {"authenticator": recorder.authenticate, "server_hostname": "mail.test"}
    if mode == "starttls":
        server = Controller(recorder, "127.0.0.1", int(port), tls_context=context, require_starttls=True, **options)
    elif mode == "tls":
        # aiosmtpd counts only STARTTLS as TLS for AUTH; this connection is TLS from the start.
        server = Controller(recorder, "127.0.0.1", int(port), ssl_context=context, auth_require_tls=False, **options)
    elif mode == "plain":
        server = Controller(recorder, "127.0.0.1", int(port), auth_require_tls=False, **options)
    else:
        server = socket.create_server(("127.0.0.1", int(port)))
        held = []  # accepted and left waiting
        server.settimeout(0.1)
    if mode != "silent":
        server.start()
    deadline = time.monotonic() + 120
    while not os.path.exists(os.path.join(folder, "stop")) and time.monotonic() < deadline:
        if mode == "silent":
            try:
                held.append(server.accept()[0])
            except socket.timeout:
                pass
        else:
            time.sleep(0.1)
    if mode == "silent":
        server.close()
    else:
        server.stop()


if __name__ == "__main__":
    main()
