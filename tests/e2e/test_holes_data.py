"""Data: uploads that fail or are cut keep what they must, links and special
files are not followed out of reach, received bytes survive a shutdown, a
large folder lists completely, and a slow, steady download is not idle."""

import ftplib
import os
import socket
import struct
import time
import unittest

from velto_harness import REPLY_OK, VeltoTestCase, free_port, passive_transfer, pasv_port

ALICE = {"UserID": "alice", "Password": "secret", "LimitToDefaultDirectory": False,
         "AllowConcurrentLogons": True}
CAROL = {"UserID": "carol", "Password": "secret", "LimitToDefaultDirectory": True}
NO_ACCESS = "550 Requested file action not taken---user does not have access.\r\n"


class DataCase(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.home = self.temp_dir()
        users = [dict(ALICE, DefaultDirectory=f"{self.home}/"), dict(CAROL, DefaultDirectory=f"{self.home}/")]
        self.srv = self.server(users=users)

    def raw(self, user="alice"):
        return self.track(self.srv.logged_on_client(user, "secret"))

    def open_data(self, client):
        """A passive data connection, connected before the transfer command."""
        data = socket.create_connection(("127.0.0.1", pasv_port(client.cmd("PASV"))), timeout=10)
        self.addCleanup(data.close)
        return data

    def transfer(self, client, command, upload=None):
        return passive_transfer(self, client, command, upload)


class FailedUploadTest(DataCase):
    def test_a_failed_upload_keeps_the_old_file(self):
        old = b"the old content\n" * 100
        (self.home / "keep.txt").write_bytes(old)
        client = self.raw()
        closed = free_port()
        self.assertEqual(client.cmd("PORT 127,0,0,1,%d,%d" % (closed // 256, closed % 256)), REPLY_OK)
        first = client.cmd("STOR keep.txt")
        if first.startswith("150"):
            self.assertEqual(client.reply(), "425 Can't open data connection.\r\n")
        self.assertEqual((self.home / "keep.txt").read_bytes(), old, "after a refused active connection")

        client.cmd("PASV")
        client.cmd("STOR keep.txt")
        client.send("ABOR\r\n")
        while client.reply() != "226 File transfer aborted.\r\n":
            pass
        self.assertEqual((self.home / "keep.txt").read_bytes(), old, "after ABOR")

    def test_an_upload_cut_by_a_reset_does_not_report_success(self):
        client = self.raw()
        data = self.open_data(client)
        self.assertEqual(client.cmd("STOR cut.bin"), "150 Opening data connection.\r\n")
        data.sendall(os.urandom(200000))
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        data.close()
        self.assertRegex(client.reply(), r"^4\d\d ")

    def test_bytes_received_before_a_shutdown_are_stored(self):
        client = self.raw()
        data = self.open_data(client)
        self.assertEqual(client.cmd("STOR shutdown.bin"), "150 Opening data connection.\r\n")
        payload = os.urandom(100 * 1024)
        data.sendall(payload)
        time.sleep(1.0)  # lets the server take the bytes in; nothing is timed
        self.stop_server(self.srv)
        self.assertEqual((self.home / "shutdown.bin").read_bytes(), payload)


class LinksAndSpecialFilesTest(DataCase):
    def test_stor_refuses_links_and_special_files(self):
        outside = self.temp_dir() / "target"
        outside.write_bytes(b"outside content")
        os.chmod(outside, 0o444)
        os.symlink(outside, self.home / "link")
        os.mkfifo(self.home / "fifo")
        client = self.raw()
        other = self.raw()
        for rest in (None, "5"):
            if rest:
                client.cmd("REST " + rest)
            reply, _ = self.transfer(client, "STOR link", upload=b"overwritten")
            self.assertRegex(reply, r"^550 ", f"STOR through a link, REST {rest}")
            self.assertEqual(outside.read_bytes(), b"outside content")
            self.assertEqual(os.stat(outside).st_mode & 0o7777, 0o444)
        reply, _ = self.transfer(client, "RETR fifo")
        self.assertRegex(reply, r"^550 ", "RETR of a FIFO")
        self.assertEqual(other.cmd("NOOP"), REPLY_OK)
        client.cmd("REST 5")
        reply, _ = self.transfer(client, "STOR fifo", upload=b"into the pipe")
        self.assertRegex(reply, r"^550 ", "STOR to a FIFO")
        self.assertEqual(other.cmd("NOOP"), REPLY_OK)

    def test_links_out_of_a_confined_tree_are_refused(self):
        outside = self.temp_dir()
        (outside / "hostname").write_bytes(b"outside")
        os.symlink(outside, self.home / "etc")
        (self.home / "sub").mkdir()
        (self.home / "sub" / "file").write_bytes(b"inside")
        os.symlink("sub", self.home / "inner")
        client = self.raw("carol")
        self.assertEqual(client.cmd("CWD etc"), NO_ACCESS)
        self.assertEqual(self.transfer(client, f"NLST {self.home}/etc")[0], NO_ACCESS)
        self.assertEqual(self.transfer(client, "RETR etc/hostname")[0], NO_ACCESS)
        self.assertEqual(self.transfer(client, "STOR etc/x", upload=b"x")[0], NO_ACCESS)
        self.assertEqual(sorted(os.listdir(outside)), ["hostname"])
        self.assertEqual(client.cmd("CWD inner"), "250 Requested file action completed successfully.\r\n")
        self.assertEqual(self.transfer(client, "RETR file"), ("226 Transfer completed.\r\n", b"inside"))


class LargeListingTest(DataCase):
    def test_a_folder_of_twenty_thousand_files_lists_completely(self):
        names = ["entry-%05d.txt" % i for i in range(20000)]
        for name in names:
            (self.home / name).touch()
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.srv.port, timeout=60)
        self.addCleanup(ftp.close)
        ftp.login("alice", "secret")
        lines = []
        ftp.retrlines("LIST", lines.append)
        self.assertEqual(sorted(line.rsplit(" ", 1)[1] for line in lines), names)
        self.assertEqual(sorted(ftp.nlst()), names)


class SlowReaderTest(VeltoTestCase):
    def test_a_steady_slow_reader_outlasts_the_idle_time_out(self):
        # The server's send buffer holds far more than the client takes in
        # the time-out, so the system asks for no new bytes meanwhile: what
        # counts is that the client keeps taking them.
        home = self.temp_dir()
        (home / "big").write_bytes(os.urandom(1 << 20) * 8)
        server = self.server(users=[dict(ALICE, DefaultDirectory=f"{home}/")],
                             settings={"FTP Settings": {"Timeout": "1000"}})
        client = self.track(server.logged_on_client("alice", "secret"))
        data = socket.socket()
        self.addCleanup(data.close)
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        data.settimeout(10)
        data.connect(("127.0.0.1", pasv_port(client.cmd("PASV"))))
        self.assertEqual(client.cmd("RETR big"), "150 Opening data connection.\r\n")
        # About 40 KB/s for three and a half time-outs.
        for _ in range(35):
            self.assertTrue(data.recv(4096))
            time.sleep(0.1)
        self.assertTrue(client.silent(), "the slow reader was cut")
        client.send("ABOR\r\n")
        self.assertEqual(client.reply(), "426 Connection closed; transfer aborted.\r\n")
        self.assertEqual(client.reply(), "226 File transfer aborted.\r\n")


if __name__ == "__main__":
    unittest.main()
