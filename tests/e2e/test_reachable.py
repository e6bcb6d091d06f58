"""Reaching the server over IPv6 and through a firewall: the IPv6 listener on
::1 with real clients (curl, lftp, ftplib in passive and active mode), the
EPRT refusals for both families, the passive port range running out, and the
announced address that loopback clients never get."""

import ftplib
import io
import random
import re
import socket
import subprocess
import unittest

from velto_harness import RawClient, VeltoTestCase

PASSWORD = "secret"
CLIENT_TIMEOUT = 60
_random = random.Random(20240607)
DOWNLOAD = _random.randbytes(300_000)
UPLOAD = _random.randbytes(150_000)


def ipv6_loopback_usable():
    """Whether a listener on ::1 can be reached (no IPv6 in many containers)."""
    if not socket.has_ipv6:
        return False
    try:
        with socket.create_server(("::1", 0), family=socket.AF_INET6) as listener:
            with socket.create_connection(("::1", listener.getsockname()[1]), timeout=2):
                return True
    except OSError:
        return False


def free_port_run(count):
    """The first of `count` consecutive ports that are free on 127.0.0.1 now."""
    for _ in range(50):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            first = probe.getsockname()[1]
        if first + count > 65534:
            continue
        held = []
        try:
            for port in range(first, first + count):
                s = socket.socket()
                held.append(s)
                s.bind(("127.0.0.1", port))
            return first
        except OSError:
            continue
        finally:
            for s in held:
                s.close()
    raise AssertionError(f"no {count} consecutive free ports")


class RawClient6(RawClient):
    """The harness's raw control client over IPv6."""

    def __init__(self, port, timeout=10.0):  # pylint: disable=super-init-not-called
        self.timeout = timeout
        self.sock = socket.create_connection(("::1", port), timeout=timeout)
        self.buffer = b""
        self.closed_by_server = False


class ReachableTest(VeltoTestCase):
    def account(self, home):
        return {"UserID": "user", "Password": PASSWORD, "DefaultDirectory": str(home),
                "AllowConcurrentLogons": True, "LogAccess": True}

    def run_client(self, argv, cwd):
        result = subprocess.run(argv, cwd=cwd, capture_output=True, timeout=CLIENT_TIMEOUT,
                                stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0,
                         f"{argv[0]} failed:\n{result.stdout[-2000:]!r}\n{result.stderr[-2000:]!r}")
        return result.stdout

    def log_on(self, client):
        self.assertEqual(client.reply()[:4], "220 ")
        self.assertEqual(client.cmd("USER user")[:4], "331 ")
        self.assertEqual(client.cmd("PASS " + PASSWORD)[:4], "230 ")

    def assert_eprt_refusals(self, client, family, own, foreign, free):
        """EPRT names only the client's own address, and never a low port."""
        with self.subTest(family=family):
            self.assertTrue(client.cmd(f"EPRT |{family}|{foreign}|{free}|").startswith("500 Illegal EPRT"))
            self.assertTrue(client.cmd(f"EPRT |{family}|{own}|80|").startswith("500 Illegal EPRT"))

    def test_ipv6_clients(self):
        if not ipv6_loopback_usable():
            self.skipTest("::1 cannot be listened on and reached here (no IPv6 loopback)")
        home = self.temp_dir()
        (home / "data.bin").write_bytes(DOWNLOAD)
        srv = self.server(users=[self.account(home)], settings={"FTP Settings": {"FTPBindToIPv6": "::1"}})
        srv.wait_for_stderr("listening on [::1] port")
        port = srv.port
        url = f"ftp://user:{PASSWORD}@[::1]:{port}/"

        with self.subTest(client="curl"):
            work = self.temp_dir()
            curl = ["curl", "-gsS", "--max-time", str(CLIENT_TIMEOUT)]
            self.assertIn(b"data.bin", self.run_client(curl + ["--list-only", url], work).split())
            self.run_client(curl + ["-o", "epsv.bin", url + "data.bin"], work)
            self.assertEqual((work / "epsv.bin").read_bytes(), DOWNLOAD)
            self.run_client(curl + ["-P", "::1", "-o", "eprt.bin", url + "data.bin"], work)
            self.assertEqual((work / "eprt.bin").read_bytes(), DOWNLOAD)
            (work / "up-curl.bin").write_bytes(UPLOAD)
            self.run_client(curl + ["-T", "up-curl.bin", url], work)
            self.run_client(curl + ["-P", "::1", "-T", "up-curl.bin", url + "up-curl-active.bin"], work)
            self.assertEqual((home / "up-curl.bin").read_bytes(), UPLOAD)
            self.assertEqual((home / "up-curl-active.bin").read_bytes(), UPLOAD)

        with self.subTest(client="lftp"):
            work = self.temp_dir()
            (work / "up-lftp.bin").write_bytes(UPLOAD)
            script = "; ".join([
                "set ftp:ssl-allow no", "set net:max-retries 1", "set net:timeout 15",
                "set cmd:fail-exit yes", f"open -u user,{PASSWORD} ftp://[::1]:{port}",
                "cls -1", "get data.bin -o lftp.bin", "put up-lftp.bin",
                "set ftp:passive-mode no", "get data.bin -o lftp-active.bin"])
            self.assertIn(b"data.bin", self.run_client(["lftp", "-c", script], work).split())
            self.assertEqual((work / "lftp.bin").read_bytes(), DOWNLOAD)
            self.assertEqual((work / "lftp-active.bin").read_bytes(), DOWNLOAD)
            self.assertEqual((home / "up-lftp.bin").read_bytes(), UPLOAD)

        with self.subTest(client="ftplib"):
            ftp = ftplib.FTP(timeout=CLIENT_TIMEOUT)
            self.addCleanup(ftp.close)
            ftp.connect("::1", port)
            ftp.login("user", PASSWORD)
            self.assertIn("data.bin", ftp.nlst())
            for passive in (True, False):
                ftp.set_pasv(passive)
                received = io.BytesIO()
                ftp.retrbinary("RETR data.bin", received.write)
                self.assertEqual(received.getvalue(), DOWNLOAD)
                name = f"up-ftplib-{passive}.bin"
                ftp.storbinary("STOR " + name, io.BytesIO(UPLOAD))
                self.assertEqual((home / name).read_bytes(), UPLOAD)
            ftp.quit()

        with self.subTest("the access log names the IPv6 client and the address it reached"):
            self.assertRegex(srv.read_access_log(), r",user,RETR data\.bin,::1,\d+,::1,\d+")

        with self.subTest("EPRT refusals"):
            with RawClient6(port) as client:
                self.log_on(client)
                self.assert_eprt_refusals(client, 2, "::1", "::2", client.sock.getsockname()[1] + 1)
            with RawClient(port) as client:
                self.log_on(client)
                self.assert_eprt_refusals(client, 1, "127.0.0.1", "127.0.0.2", client.local_port + 1)

    def test_passive_range_and_announced_address(self):
        first = free_port_run(3)
        home = self.temp_dir()
        srv = self.server(users=[self.account(home)], settings={"FTP Settings": {
            "PassivePortMin": first, "PassivePortMax": first + 2, "PassiveAddress": "192.0.2.7"}})
        clients = [self.track(RawClient(srv.port)) for _ in range(4)]
        for client in clients:
            self.log_on(client)
        ports = []
        for client in clients[:3]:
            reply = client.cmd("PASV")
            # A loopback client is told the address it reached, not the
            # announced one.
            match = re.match(r"227 .*\(127,0,0,1,(\d+),(\d+)\)", reply)
            self.assertIsNotNone(match, reply)
            ports.append(int(match[1]) * 256 + int(match[2]))
        self.assertEqual(sorted(ports), [first, first + 1, first + 2])
        self.assertTrue(clients[3].cmd("PASV").startswith("425 "))
        self.assertIn(f"no free passive port in {first}-{first + 2}", srv.read_errors_log())
        # A port given back (PORT closes the passive listener) serves the
        # next PASV.
        self.assertTrue(clients[0].cmd("PORT 127,0,0,1,156,64").startswith("200 "))
        self.assertRegex(clients[3].cmd("PASV"), rf"^227 .*,{ports[0] // 256},{ports[0] % 256}\)")


if __name__ == "__main__":
    unittest.main()
