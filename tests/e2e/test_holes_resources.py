"""Resources: memory, connections and slots a client can hold, loading a large
user file, the idle time-out during transfers; and the command line and
start-up telling what went wrong."""

import os
import re
import select
import socket
import time
import unittest

from velto_harness import (GREETING, REPLY_OK, RawClient, VeltoTestCase, pasv_port,
                           rss_kib)

ALICE = {"UserID": "alice", "Password": "secret", "AllowConcurrentLogons": True}


def admitted_client(test, server, tries=50):
    """A greeted client, retrying while the server still counts the sessions of earlier probes."""
    for _ in range(tries):
        client = RawClient(server.port)
        try:
            if client.reply() == GREETING:
                return test.track(client)
        except Exception:
            pass
        client.close()
        time.sleep(0.2)
    raise AssertionError("no session admitted")


class MemoryAndConnectionsTest(VeltoTestCase):
    def test_replies_a_client_never_reads_stay_bounded(self):
        # The sanitizer's quarantine keeps freed memory on purpose; keep it
        # small so the figure is the server's own.
        asan = os.environ.get("ASAN_OPTIONS", "")
        server = self.server(env={"ASAN_OPTIONS": (asan + ":" if asan else "") + "quarantine_size_mb=4"})
        baseline = rss_kib(server.proc.pid)
        flood = socket.socket()
        self.addCleanup(flood.close)
        flood.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        flood.settimeout(10)
        flood.connect(("127.0.0.1", server.port))
        flood.setblocking(False)
        block = b"USER x\r\n" * 8192
        bound = 64 * 1024
        sent, peak = 0, baseline
        # Sends until 16 MiB are out, the server stops taking them, or it has grown too much.
        deadline = time.monotonic() + 60
        progress = time.monotonic()
        while (sent < 16 << 20 and peak - baseline < bound and time.monotonic() < deadline
               and time.monotonic() - progress < 5):
            if select.select([], [flood], [], 0.5)[1]:
                try:
                    sent += flood.send(block)
                    progress = time.monotonic()
                except BlockingIOError:
                    pass
            peak = max(peak, rss_kib(server.proc.pid))
        for _ in range(10):  # the server may still be working through what it took in
            time.sleep(0.2)
            peak = max(peak, rss_kib(server.proc.pid))
        self.assertLess(peak - baseline, bound, f"VmRSS grew by {peak - baseline} KiB")
        self.assertEqual(self.track(server.client()).cmd("PWD")[:3], "530")

    def test_one_passive_port_takes_one_data_connection(self):
        home = self.temp_dir()
        payload = os.urandom(200000)
        (home / "f").write_bytes(payload)
        server = self.server(users=[dict(ALICE, DefaultDirectory=f"{home}/")])
        client = self.track(server.logged_on_client("alice", "secret"))
        port = pasv_port(client.cmd("PASV"))
        first = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(first.close)
        try:
            second = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(second.close)
        except ConnectionRefusedError:
            second = None
        self.assertEqual(client.cmd("RETR f"), "150 Opening data connection.\r\n")
        received = b""
        while chunk := first.recv(65536):
            received += chunk
        self.assertEqual(received, payload)
        self.assertEqual(client.reply(), "226 Transfer completed.\r\n")
        if second is not None:
            try:
                self.assertEqual(second.recv(65536), b"", "a second data connection was served")
            except ConnectionResetError:
                pass

        port = pasv_port(client.cmd("PASV"))
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=10).close()
            except (ConnectionRefusedError, ConnectionResetError):
                pass  # the one connection was taken and the listener closed
        self.assertEqual(self.track(server.client()).cmd("PWD")[:3], "530")
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)

    def test_a_connection_that_never_logs_on_is_closed(self):
        server = self.server(settings={"FTP Settings": {"LogonTimeout": "1000"}})
        stranger = self.track(server.client())
        data = stranger.read_until_closed(15)
        self.assertTrue(data.startswith(b"421"), data)

    def test_connections_from_one_address_are_limited(self):
        server = self.server(settings={"FTP Settings": {"MaxConnectionsPerIP": "2"}})
        admitted_client(self, server)
        admitted_client(self, server)
        third = self.track(RawClient(server.port))
        data = third.read_until_closed(10)
        self.assertTrue(data.startswith(b"421"), data)


class LargeUserFileTest(VeltoTestCase):
    def test_twenty_thousand_accounts_load_quickly(self):
        users = [{"UserID": "user%05d" % n, "Password": "secret"} for n in range(20000)]
        server = self.server(users=users, ready_timeout=20)
        self.track(server.logged_on_client("user19999", "secret"))
        self.stop_server(server)


class IdleTimeoutTest(VeltoTestCase):
    def test_a_slow_download_outlasts_the_idle_time_out(self):
        home = self.temp_dir()
        size = 24 << 20
        (home / "big").write_bytes(os.urandom(1 << 20) * (size >> 20))
        server = self.server(users=[dict(ALICE, DefaultDirectory=f"{home}/")],
                             settings={"FTP Settings": {"Timeout": "2000"}})
        client = self.track(server.logged_on_client("alice", "secret"))
        port = pasv_port(client.cmd("PASV"))
        data = socket.socket()
        self.addCleanup(data.close)
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        data.settimeout(10)
        data.connect(("127.0.0.1", port))
        self.assertEqual(client.cmd("RETR big"), "150 Opening data connection.\r\n")
        # About five seconds of steady reading: longer than the time-out, never idle.
        started, received = time.monotonic(), 0
        while chunk := data.recv(65536):
            received += len(chunk)
            ahead = received / (size / 5.0) - (time.monotonic() - started)
            if ahead > 0:
                time.sleep(ahead)
        self.assertEqual(received, size)
        self.assertEqual(client.reply(), "226 Transfer completed.\r\n")
        self.assertEqual(client.read_until_closed(20), b"421 Timeout.\r\n")

    def test_a_bulk_upload_that_slows_down_outlasts_the_time_out_and_keeps_its_last_bytes(self):
        home = self.temp_dir()
        server = self.server(users=[dict(ALICE, DefaultDirectory=f"{home}/")],
                             settings={"FTP Settings": {"Timeout": "1000"}})
        client = self.track(server.logged_on_client("alice", "secret"))
        port = pasv_port(client.cmd("PASV"))
        data = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(data.close)
        self.assertEqual(client.cmd("STOR up"), "150 Opening data connection.\r\n")
        # Once an upload is bulk the server reads it a whole block at a time:
        # a trickle after that waits unread in the system for longer than the
        # time-out, yet it is traffic, and every byte of it is stored.
        sent = os.urandom(600 << 10)
        data.sendall(sent)
        for i in range(8):
            time.sleep(0.4)
            piece = bytes([i + 1]) * 7
            data.sendall(piece)
            sent += piece
        data.close()
        self.assertEqual(client.reply(10), "226 Transfer completed.\r\n")
        self.assertEqual((home / "up").read_bytes(), sent)


class CommandLineTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(start=False)
        self.srv.unit_dir.mkdir()

    def test_neither_a_failed_install_nor_a_run_stops_the_service(self):
        (self.srv.unit_dir / "velto.service").write_text("[Service]\nExecStart=/bin/true\n")
        fake_bin = self.srv.root / "fake-bin"
        fake_bin.mkdir()
        calls = self.srv.root / "systemctl-calls"
        systemctl = fake_bin / "systemctl"
        systemctl.write_text(f'#!/bin/sh\necho "$@" >> {calls}\n')
        systemctl.chmod(0o755)
        self.srv.env["PATH"] = f"{fake_bin}:{self.srv.env.get('PATH', '/usr/bin:/bin')}"
        self.srv.run_command(["-INSTALL"])
        self.srv.start()
        self.stop_server(self.srv)
        self.assertNotIn("stop", calls.read_text() if calls.exists() else "")

    def test_failed_install_and_uninstall_exit_non_zero(self):
        self.assertNotEqual(self.srv.run_command(["-UNINSTALL"]).returncode, 0, "-UNINSTALL without a unit")
        self.assertEqual(self.srv.run_command(["-INSTALL"]).returncode, 0)
        self.assertNotEqual(self.srv.run_command(["-INSTALL"]).returncode, 0, "-INSTALL over a unit")


class StartUpMessagesTest(VeltoTestCase):
    def test_start_up_tells_where_it_listens_or_why_it_cannot(self):
        server = self.server()
        server.wait_for_stderr(str(server.port))
        self.assertRegex(server.stderr_text(), r"\d{1,3}(\.\d{1,3}){3}")

        holder = socket.socket()
        self.addCleanup(holder.close)
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        taken = self.server(port=holder.getsockname()[1], ready=None)
        taken.wait_for_stderr(str(taken.port))
        self.assertEqual(taken.wait(), 1, "a headless server that cannot listen ends with status 1")
        self.assertTrue(taken.read_errors_log(), "Errors.log has no line about the taken port")


if __name__ == "__main__":
    unittest.main()
