"""Log-on: USER and PASS against the user file, the anonymous rule, attempts and
the disconnect at MaxLogonAttempts, concurrent log-ons, and real clients."""

import ftplib
import subprocess
import time
import unittest

from velto_harness import (GREETING, REPLY_CONCURRENT, REPLY_NEED_PASSWORD, REPLY_NOT_IMPLEMENTED,
                           REPLY_NOT_LOGGED_ON, REPLY_OK, VeltoTestCase)

ALICE = {"UserID": "alice", "Password": "secret"}
BOB = {"UserID": "Bob", "Password": "s3cret-Bob", "AllowConcurrentLogons": True}
ANONYMOUS = {"UserID": "anonymous", "Password": "anon-db"}


class CredentialsTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(users=[ALICE, BOB],
                               settings={"FTP Settings": {"BannerWelcome": "Welcome aboard."}})

    def _log_on(self, user, password):
        client = self.track(self.srv.client())
        self.assertEqual(client.cmd("USER " + user), REPLY_NEED_PASSWORD)
        return client, client.cmd("PASS " + password)

    def test_right_password_logs_on_with_the_welcome_banner(self):
        client, reply = self._log_on("alice", "secret")
        self.assertEqual(reply, "230 Welcome aboard.\r\n")
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)

    def test_user_id_ignores_letter_case(self):
        _, reply = self._log_on("ALICE", "secret")
        self.assertEqual(reply, "230 Welcome aboard.\r\n")
        _, reply = self._log_on("bob", "s3cret-Bob")
        self.assertEqual(reply, "230 Welcome aboard.\r\n")

    def test_password_is_case_sensitive(self):
        client, reply = self._log_on("alice", "Secret")
        self.assertEqual(reply, REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PWD"), REPLY_NOT_LOGGED_ON, "a failed PASS logged the session on")

    def test_unknown_user_and_empty_password_are_refused(self):
        _, reply = self._log_on("mallory", "secret")
        self.assertEqual(reply, REPLY_NOT_LOGGED_ON)
        client = self.track(self.srv.client())
        self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS"), REPLY_NOT_LOGGED_ON)

    def test_pass_without_user_is_refused(self):
        client = self.track(self.srv.client())
        self.assertEqual(client.cmd("PASS secret"), REPLY_NOT_LOGGED_ON)

    def test_user_answers_331_in_every_state_and_a_new_user_needs_its_own_password(self):
        client, reply = self._log_on("alice", "secret")
        self.assertEqual(reply, "230 Welcome aboard.\r\n")
        self.assertEqual(client.cmd("USER Bob"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS s3cret-Bob"), "230 Welcome aboard.\r\n")


class BannerTest(VeltoTestCase):
    def test_empty_welcome_banner_answers_230_and_a_blank(self):
        server = self.server(users=[ALICE])
        client = self.track(server.client())
        client.cmd("USER alice")
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")


class AnonymousTest(VeltoTestCase):
    def _client(self, users, allow):
        server = self.server(users=users,
                             settings={"FTP Settings": {"AllowAnonymousLogons": str(allow),
                                                        "BannerWelcome": "Hello."}})
        return self.track(server.client())

    def test_anonymous_accepts_any_non_empty_password(self):
        client = self._client([ALICE, ANONYMOUS], True)
        self.assertEqual(client.cmd("USER Anonymous"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PASS guest@example.invalid"), "230 Hello.\r\n")

    def test_anonymous_needs_an_account_named_anonymous(self):
        client = self._client([ALICE], True)
        self.assertEqual(client.cmd("USER anonymous"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS guest@example.invalid"), REPLY_NOT_LOGGED_ON)

    def test_anonymous_off_checks_the_stored_password(self):
        client = self._client([ALICE, ANONYMOUS], False)
        self.assertEqual(client.cmd("USER anonymous"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS guest@example.invalid"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PASS anon-db"), "230 Hello.\r\n")


class AttemptsTest(VeltoTestCase):
    def _server(self, attempts="3"):
        return self.server(users=[ALICE], settings={"FTP Settings": {"MaxLogonAttempts": attempts}})

    def test_commands_before_log_on_answer_530_and_the_third_disconnects(self):
        client = self.track(self._server().client())
        self.assertEqual(client.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("XYZZ something"), REPLY_NOT_LOGGED_ON)
        client.send("CWD /\r\n")
        self.assertEqual(client.read_until_closed(), REPLY_NOT_LOGGED_ON.encode(),
                         "the last attempt is answered, then the connection closes")

    def test_negotiation_before_log_on_is_answered_and_not_counted(self):
        client = self.track(self._server().client())
        for _ in range(2):
            self.assertTrue(client.cmd("FEAT").startswith("211-Features:\r\n"))
            self.assertEqual(client.cmd("AUTH TLS"), REPLY_NOT_IMPLEMENTED)
            for line in ("SYST", "NOOP", "OPTS UTF8 ON", "CLNT lftp", "QUIT"):
                self.assertNotEqual(client.cmd(line), REPLY_NOT_LOGGED_ON, line)
        client.cmd("USER alice")
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")

    def test_third_wrong_password_is_answered_then_disconnects(self):
        client = self.track(self._server().client())
        client.cmd("USER alice")
        self.assertEqual(client.cmd("PASS wrong1"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PASS wrong2"), REPLY_NOT_LOGGED_ON)
        client.send("PASS wrong3\r\n")
        self.assertEqual(client.read_until_closed(), REPLY_NOT_LOGGED_ON.encode())

    def test_attempts_are_counted_over_the_whole_connection(self):
        client = self.track(self._server().client())
        self.assertEqual(client.cmd("PWD"), REPLY_NOT_LOGGED_ON)           # attempt 1
        client.cmd("USER alice")
        self.assertEqual(client.cmd("PASS wrong"), REPLY_NOT_LOGGED_ON)    # attempt 2
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")
        self.assertEqual(client.cmd("QUIT"), "221 Goodbye.\r\n")
        client.send("PWD\r\n")                                             # attempt 3
        self.assertEqual(client.read_until_closed(), REPLY_NOT_LOGGED_ON.encode())

    def test_user_commands_do_not_count(self):
        client = self.track(self._server("2").client())
        for _ in range(4):
            self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")

    def test_one_attempt_allowed_disconnects_at_the_first(self):
        client = self.track(self._server("1").client())
        client.send("PWD\r\n")
        self.assertEqual(client.read_until_closed(), REPLY_NOT_LOGGED_ON.encode())

    def test_other_sessions_have_their_own_count(self):
        server = self._server("2")
        first = self.track(server.client())
        second = self.track(server.client())
        self.assertEqual(first.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(second.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        first.send("PWD\r\n")
        self.assertEqual(first.read_until_closed(), REPLY_NOT_LOGGED_ON.encode())
        second.cmd("USER alice")
        self.assertEqual(second.cmd("PASS secret"), "230 \r\n")


class ConcurrentLogonTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(users=[ALICE, BOB],
                               settings={"FTP Settings": {"MaxLogonAttempts": "2"}})

    def _pass(self, client, user, password):
        self.assertEqual(client.cmd("USER " + user), REPLY_NEED_PASSWORD)
        return client.cmd("PASS " + password)

    def test_second_log_on_is_refused_whatever_the_letter_case(self):
        first = self.track(self.srv.client())
        self.assertEqual(self._pass(first, "alice", "secret"), "230 \r\n")
        second = self.track(self.srv.client())
        self.assertEqual(self._pass(second, "alice", "secret"), REPLY_CONCURRENT)
        self.assertEqual(self._pass(second, "ALICE", "secret"), REPLY_CONCURRENT)
        self.assertEqual(self._pass(second, "Alice", "secret"), REPLY_CONCURRENT,
                         "a concurrent-log-on refusal must not count as a failed attempt")
        self.assertEqual(second.cmd("USER alice"), REPLY_NEED_PASSWORD, "refused session was closed")

    def test_a_session_that_only_sent_user_does_not_lock_the_account(self):
        stranger = self.track(self.srv.client())
        self.assertEqual(stranger.cmd("USER alice"), REPLY_NEED_PASSWORD)
        owner = self.track(self.srv.client())
        self.assertEqual(self._pass(owner, "alice", "secret"), "230 \r\n")

    def test_quit_frees_the_account_for_another_session(self):
        first = self.track(self.srv.client())
        self.assertEqual(self._pass(first, "alice", "secret"), "230 \r\n")
        second = self.track(self.srv.client())
        self.assertEqual(self._pass(second, "alice", "secret"), REPLY_CONCURRENT)
        self.assertEqual(first.cmd("QUIT"), "221 Goodbye.\r\n")
        self.assertEqual(second.cmd("PASS secret"), "230 \r\n")

    def test_closed_session_frees_the_account(self):
        first = self.track(self.srv.client())
        self.assertEqual(self._pass(first, "alice", "secret"), "230 \r\n")
        first.close()
        # The session ends when the server has seen the close; retry a bounded number of times.
        for _ in range(50):
            second = self.track(self.srv.client())
            reply = self._pass(second, "alice", "secret")
            if reply != REPLY_CONCURRENT:
                break
            second.close()
            time.sleep(0.2)
        self.assertEqual(reply, "230 \r\n")

    def test_accounts_allowing_concurrent_log_ons_admit_several(self):
        sessions = [self.track(self.srv.client()) for _ in range(3)]
        for session, name in zip(sessions, ("Bob", "bob", "BOB")):
            self.assertEqual(self._pass(session, name, "s3cret-Bob"), "230 \r\n")


class RealClientsTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(users=[ALICE],
                               settings={"FTP Settings": {"BannerWelcome": "Welcome aboard."}})

    def test_ftplib_logs_on_and_quits(self):
        with ftplib.FTP() as ftp:
            welcome = ftp.connect("127.0.0.1", self.srv.port, timeout=10)
            self.assertEqual(welcome + "\r\n", GREETING)
            self.assertEqual(ftp.login("alice", "secret"), "230 Welcome aboard.")
            self.assertEqual(ftp.sendcmd("NOOP"), "200 OK")
            self.assertEqual(ftp.sendcmd("SYST"), "215 Windows_NT")
            self.assertEqual(ftp.quit(), "221 Goodbye.")

    def test_ftplib_sees_wrong_password_as_permanent_error(self):
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", self.srv.port, timeout=10)
            with self.assertRaises(ftplib.error_perm) as caught:
                ftp.login("alice", "SECRET")
            self.assertEqual(str(caught.exception), "530 Invalid user ID and/or password. Cannot log in.")

    def test_curl_logs_on(self):
        # Directory commands belong to a later stage, so only the log-on is judged.
        result = subprocess.run(
            ["/usr/bin/curl", "-v", "--max-time", "15", "--user", "alice:secret",
             f"ftp://127.0.0.1:{self.srv.port}/"],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        trace = result.stderr.decode("latin-1")
        self.assertIn("< 220 Brightmoor Technologies' Velto FTP Server. (Version 2.0.101).", trace)
        self.assertIn("< 331 OK need password.", trace)
        self.assertIn("< 230 Welcome aboard.", trace)


class NTAuthenticationOutsideServiceTest(VeltoTestCase):
    def test_normal_run_checks_the_user_file_even_with_nt_authentication_on(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": {"UseNTAuthentication": "True"}})
        client = self.track(server.client())
        client.cmd("USER alice")
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")


if __name__ == "__main__":
    unittest.main()
