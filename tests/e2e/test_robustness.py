"""Bad input never crashes the server: every verb with hostile arguments, before
and after log-on, random junk, and clients that vanish at awkward moments. The
server must answer and go on (the sanitizer build turns any memory fault into
a report, which tearDown checks)."""

import random
import socket
import time

from velto_harness import VeltoTestCase

# EPSV and PASV come last: after them a transfer command waits for the
# client's data connection.
VERBS = ["USER", "PASS", "STOR", "TYPE", "RETR", "CWD", "CD", "CDUP", "MKD", "RMD", "RNFR", "RNTO",
         "DELE", "PWD", "XPWD", "SYST", "NLST", "LIST", "QUIT", "BYE", "PORT", "NOOP", "REST", "ABOR",
         "FEAT", "SITE", "XYZZ", "HELP", "OPTS", "STAT", "SIZE", "MDTM", "MFMT", "MLST", "MLSD", "APPE",
         "STOU", "EPRT", "MODE", "STRU", "ALLO", "XMKD", "XCWD", "EPSV", "PASV"]

ARGUMENTS = [
    b"", b" ", b"x" * 4000, b"../../../../../../etc/passwd", b"\\\\server\\share", b"/" * 300,
    b"%s%s%n%x", b"-1", b"99999999999999999999999", b"1e309", b"0x10", b"\xff\xfe\xfd", b"a\x00b",
    b"127,0,0,1,0,0", b"256,256,256,256,256,256", b",,,,,", b"\xe2\x80\xae.txt", b"*?<>|:\"",
    b"..", b".", b"~", b"-la", b"nonexistent/deeper/still",
]


class HostileInputTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        import tempfile
        self.home = tempfile.mkdtemp(prefix="velto-robust-")
        users = [{"UserID": "alice", "Password": "secret", "DefaultDirectory": self.home + "/",
                  "LimitToDefaultDirectory": True, "AllowConcurrentLogons": True}]
        self.srv = self.server(users=users, settings={"FTP Settings": {"MaxLogonAttempts": "1000", "FailedLogonDelay": "0"}})

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.srv.port), timeout=10)
        self.assertTrue(s.recv(4096).startswith(b"220"))
        return s

    def exchange(self, s, line):
        s.sendall(line + b"\r\n")
        s.settimeout(5)
        data = b""
        # Every line gets at least one reply, unless it closed the session; a
        # reply of several lines ends with its code and a blank.
        while not data.endswith(b"\r\n") or (data[3:4] == b"-" and b"\r\n" + data[:3] + b" " not in data):
            chunk = s.recv(65536)
            if not chunk:
                return None
            data += chunk
        return data

    def assert_alive(self):
        s = self.connect()
        self.assertEqual(self.exchange(s, b"NOOP"), b"200 OK\r\n")
        s.close()

    def test_every_verb_with_hostile_arguments_before_and_after_log_on(self):
        for logged_on in (False, True):
            s = self.connect()
            if logged_on:
                self.exchange(s, b"USER alice")
                self.assertTrue(self.exchange(s, b"PASS secret").startswith(b"230"))
            for verb in VERBS:
                for arg in ARGUMENTS:
                    if verb in ("QUIT", "BYE", "PASS", "USER") and logged_on:
                        continue
                    line = verb.encode() + (b" " + arg if arg else b"")
                    reply = self.exchange(s, line)
                    self.assertIsNotNone(reply, line)
                    self.assertRegex(reply[:4], rb"^[1-5]\d\d[ -]", line)
                    if reply.startswith(b"150"):
                        # A transfer without data connection ends with 425.
                        s.settimeout(10)
                        while reply.count(b"\r\n") < 2:
                            reply += s.recv(4096)
                        self.assertIn(b"425 Can't open data connection.", reply, line)
            s.close()
        self.assert_alive()

    def test_random_junk_and_vanishing_clients(self):
        rng = random.Random(1234)
        for _ in range(40):
            s = socket.create_connection(("127.0.0.1", self.srv.port), timeout=10)
            junk = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9000)))
            try:
                s.sendall(junk)
                if rng.random() < 0.5:
                    s.sendall(b"\r\n")
            except OSError:
                pass
            if rng.random() < 0.3:
                # Vanish with a reset instead of a close.
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()
        time.sleep(0.5)
        self.assert_alive()

    def test_client_vanishes_right_after_pasv_and_port(self):
        for verb in (b"PASV", b"PORT 127,0,0,1,200,10", b"LIST", b"STOR x"):
            s = self.connect()
            self.exchange(s, b"USER alice")
            self.exchange(s, b"PASS secret")
            s.sendall(verb + b"\r\n")
            s.close()
        time.sleep(0.5)
        self.assert_alive()
