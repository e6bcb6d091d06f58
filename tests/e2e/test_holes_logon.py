"""Log-on and rights: what a session may do between USER and PASS, reconnects,
unusable home folders, what the logs keep of passwords and failures, the
user file's permissions, and how password guessing is slowed and stopped."""

import os
import time
import unittest

from velto_harness import (REPLY_NEED_PASSWORD, REPLY_NOT_LOGGED_ON, REPLY_OK, RawClient,
                           VeltoTestCase)

ALICE = {"UserID": "alice", "Password": "secret"}
BOB = {"UserID": "bob", "Password": "s3cret-Bob", "AllowConcurrentLogons": True}
REPLY_BANNED = "421 Too many failed log-ons from your address; try again later.\r\n"
# Failures are answered at once and many are allowed, so tests can make several.
QUICK_FAILURES = {"MaxLogonAttempts": "20", "FailedLogonDelay": "0"}


class RightsTest(VeltoTestCase):
    def test_user_after_log_on_drops_the_rights_of_the_first_account(self):
        home = self.temp_dir()
        outside = self.temp_dir()
        users = [{"UserID": "reader", "Password": "secret", "DefaultDirectory": f"{home}/",
                  "LimitToDefaultDirectory": True, "WriteAccess": False},
                 dict(BOB, DefaultDirectory=f"{home}/", LimitToDefaultDirectory=False)]
        server = self.server(users=users, settings={"FTP Settings": QUICK_FAILURES})
        client = self.track(server.logged_on_client("reader", "secret"))
        self.assertEqual(client.cmd("USER bob"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("CWD /"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd(f"MKD {outside}/x"), REPLY_NOT_LOGGED_ON)
        self.assertFalse((outside / "x").exists(), "USER without PASS gave the other account's rights")

    def test_reconnecting_at_once_logs_on_again(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": QUICK_FAILURES})
        for send_quit in (True, False):
            with self.subTest(quit_first=send_quit):
                for _ in range(5):
                    client = server.logged_on_client("alice", "secret")
                    if send_quit:
                        self.assertEqual(client.cmd("QUIT"), "221 Goodbye.\r\n")
                    client.close()

    def test_account_without_a_usable_home_folder_cannot_log_on(self):
        base = self.temp_dir()
        (base / "plain-file").write_bytes(b"x")
        # A relative home would be read against the folder the program runs in.
        folders = {"nofolder": f"{base}/missing/", "emptyfolder": "", "filefolder": f"{base}/plain-file",
                   "relativefolder": "."}
        server = self.server(users=[{"UserID": name, "Password": "secret", "DefaultDirectory": folder}
                                    for name, folder in folders.items()],
                             settings={"FTP Settings": QUICK_FAILURES})
        stranger = self.track(server.client())
        for command in ("RETR Velto.usr", "LIST", "CWD /", "NLST /"):
            self.assertEqual(stranger.cmd(command), REPLY_NOT_LOGGED_ON, command)
        for name in folders:
            client = self.track(server.client())
            self.assertEqual(client.cmd("USER " + name), REPLY_NEED_PASSWORD)
            self.assertEqual(client.cmd("PASS secret"), REPLY_NOT_LOGGED_ON, name)
            self.assertEqual(client.cmd("RETR Velto.usr"), REPLY_NOT_LOGGED_ON, name)
        self.stop_server(server)
        errors = server.read_errors_log()
        for name, folder in folders.items():
            lines = [line for line in errors.splitlines() if name in line]
            self.assertTrue(lines, f"no Errors.log line names {name}:\n{errors}")
            if folder:
                self.assertTrue(any(folder.rstrip("/") in line for line in lines),
                                f"no Errors.log line names {folder}:\n{errors}")


class LogsTest(VeltoTestCase):
    def test_password_arguments_never_reach_the_access_log(self):
        server = self.server(users=[dict(ALICE, LogAccess=True)], settings={"FTP Settings": QUICK_FAILURES})
        client = self.track(server.client())
        self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        for line in (b"pass secret1", b"PASSWORD secret2", b"PASSX secret3", b"P\0ASS secret4"):
            client.send(line + b"\r\n")
            client.reply()
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")
        self.stop_server(server)
        log = server.read_access_log()
        self.assertIn(",alice,USER alice,", log)
        for n in range(1, 5):
            self.assertNotIn(f"secret{n}", log)

    def test_a_user_file_others_can_read_is_reported(self):
        for mode, reported in ((0o644, True), (0o600, False)):
            server = self.server(start=False, users=[ALICE])
            os.chmod(server.folder / "Velto.usr", mode)
            server.start()
            self.stop_server(server)
            for where, text in (("standard error", server.stderr_text()),
                                ("Errors.log", server.read_errors_log())):
                self.assertEqual("Velto.usr" in text, reported, f"mode {mode:o}, {where}:\n{text}")

    def test_the_failed_log_on_that_disconnects_is_in_the_access_log(self):
        server = self.server(users=[dict(ALICE, LogAccess=True)],
                             settings={"FTP Settings": {"MaxLogonAttempts": "1"}})
        client = self.track(server.client())
        self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        client.send("PASS wrong\r\n")
        self.assertEqual(client.read_until_closed(), REPLY_NOT_LOGGED_ON.encode())
        self.stop_server(server)
        log = server.read_access_log()
        self.assertIn(",alice,PASS ****,", log)
        self.assertNotIn("wrong", log)


class GuessingTest(VeltoTestCase):
    def test_a_wrong_password_is_answered_late_without_holding_up_others(self):
        server = self.server(users=[ALICE, BOB], settings={"FTP Settings": {"FailedLogonDelay": "1500"}})
        other = self.track(server.logged_on_client("bob", "s3cret-Bob"))
        guesser = self.track(server.client())
        self.assertEqual(guesser.cmd("USER alice"), REPLY_NEED_PASSWORD)
        sent = time.monotonic()
        guesser.send("PASS wrong\r\n")
        self.assertEqual(other.cmd("NOOP"), REPLY_OK)
        self.assertTrue(guesser.silent(), "the refusal came before the delay")
        self.assertEqual(guesser.reply(), REPLY_NOT_LOGGED_ON)
        self.assertGreaterEqual(time.monotonic() - sent, 1.0)

    def test_repeated_failures_ban_the_address(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": {
            "BanFailedLogons": "2", "FailedLogonDelay": "0", "MaxLogonAttempts": "5"}})
        for _ in range(2):
            client = self.track(server.client())
            client.cmd("USER alice")
            self.assertEqual(client.cmd("PASS wrong"), REPLY_NOT_LOGGED_ON)
        banned = self.track(RawClient(server.port))
        data = banned.read_until_closed(10)
        self.assertTrue(data.startswith(b"421"), data)

    def test_a_right_password_dropped_before_its_answer_counts_as_a_failure(self):
        # The third failure bans: the last guesser hears 421 only when the
        # dropped right password counted.
        server = self.server(users=[ALICE, BOB], settings={"FTP Settings": {
            "BanFailedLogons": "3", "FailedLogonDelay": "300", "MaxLogonAttempts": "5"}})
        member = self.track(server.logged_on_client("bob", "s3cret-Bob"))
        first = self.track(server.client())
        first.cmd("USER alice")
        self.assertEqual(first.cmd("PASS wrong"), REPLY_NOT_LOGGED_ON)
        dropper = self.track(server.client())
        dropper.cmd("USER alice")
        dropper.send("PASS secret\r\n")
        self.assertEqual(member.cmd("NOOP"), REPLY_OK)
        self.assertTrue(dropper.silent(), "a right password was answered at once after a failure")
        dropper.close()
        last = self.track(server.client())
        last.cmd("USER alice")
        last.send("PASS wrong\r\n")
        self.assertEqual(last.read_until_closed(), (REPLY_NOT_LOGGED_ON + REPLY_BANNED).encode())

    def test_a_ban_closes_the_open_connections_that_are_not_logged_on(self):
        server = self.server(users=[ALICE, BOB], settings={"FTP Settings": {
            "BanFailedLogons": "5", "FailedLogonDelay": "0", "MaxLogonAttempts": "20"}})
        member = self.track(server.logged_on_client("bob", "s3cret-Bob"))
        waiting = [self.track(server.client()) for _ in range(6)]
        for client in waiting[:3]:
            self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        guesser = self.track(server.client())
        guesser.cmd("USER alice")
        for n in range(4):
            self.assertEqual(guesser.cmd(f"PASS wrong{n}"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(guesser.cmd("PASS wrong4"), REPLY_NOT_LOGGED_ON)
        for client in [guesser] + waiting:
            self.assertEqual(client.read_until_closed(), REPLY_BANNED.encode())
        # Logged on before the ban, the member stays, but guesses no further.
        self.assertEqual(member.cmd("NOOP"), REPLY_OK)
        self.assertEqual(member.cmd("USER alice"), REPLY_NEED_PASSWORD)
        member.send("PASS secret\r\n")
        self.assertEqual(member.read_until_closed(), REPLY_BANNED.encode())
        self.stop_server(server)
        bans = [line for line in server.read_errors_log().splitlines() if "refused" in line]
        self.assertEqual(len(bans), 1, bans)


if __name__ == "__main__":
    unittest.main()
