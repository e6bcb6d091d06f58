"""Sessions on the control connection: greeting, command framing and parsing,
Telnet control sequences, QUIT and BYE, the user limit, the idle time-out and
the access log."""

import re
import time
import unittest

from velto_harness import (GREETING, REPLY_NEED_PASSWORD, REPLY_NOT_IMPLEMENTED, REPLY_NOT_LOGGED_ON,
                           REPLY_OK, REPLY_SYST, ConnectionClosed, RawClient, VeltoTestCase)

ALICE = {"UserID": "alice", "Password": "secret"}
IAC_USER = {"UserID": "iac", "Password": "pw\xffx"}


def greeted_client(test, server, tries=50):
    """A client that got the greeting, retrying while the server still counts closed sessions."""
    for _ in range(tries):
        client = RawClient(server.port)
        try:
            if client.reply() == GREETING:
                return test.track(client)
        except ConnectionClosed:
            pass
        client.close()
        time.sleep(0.2)
    raise AssertionError("no session admitted")


class GreetingAndParsingTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(users=[ALICE, IAC_USER])

    def _logged_on(self):
        return self.track(self.srv.logged_on_client("alice", "secret"))

    def test_greeting_is_exact(self):
        client = self.track(RawClient(self.srv.port))
        self.assertEqual(client.reply(), GREETING)

    def test_verb_is_the_first_four_letters_in_any_case(self):
        client = self._logged_on()
        self.assertEqual(client.cmd("noop"), REPLY_OK)
        self.assertEqual(client.cmd("NoOpWhatever"), REPLY_OK)
        self.assertEqual(client.cmd("  NOOP"), REPLY_NOT_IMPLEMENTED)
        self.assertEqual(client.cmd("syst"), REPLY_SYST)

    def test_unknown_verbs_answer_504_after_log_on(self):
        client = self._logged_on()
        self.assertEqual(client.cmd("XYZZ"), REPLY_NOT_IMPLEMENTED)
        self.assertEqual(client.cmd("AUTH TLS"), REPLY_NOT_IMPLEMENTED)
        self.assertEqual(client.cmd("CD somewhere"), REPLY_NOT_IMPLEMENTED)

    def test_quit_ends_the_log_on_but_keeps_the_connection(self):
        client = self._logged_on()
        self.assertEqual(client.cmd("QUIT"), "221 Goodbye.\r\n")
        self.assertTrue(client.is_open(), "the server closed the connection after QUIT")
        self.assertEqual(client.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS secret"), "230 \r\n")
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)

    def test_bye_answers_the_exit_banner_and_keeps_the_connection(self):
        client = self._logged_on()
        self.assertEqual(client.cmd("bye"), "221 Goodbye.\r\n")
        self.assertTrue(client.is_open(), "the server closed the connection after BYE")
        self.assertEqual(client.cmd("USER alice"), REPLY_NEED_PASSWORD)


class ExitBannerTest(VeltoTestCase):
    def test_exit_banner_comes_from_the_settings(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": {"BannerExit": "See you later."}})
        client = self.track(server.logged_on_client("alice", "secret"))
        self.assertEqual(client.cmd("QUIT"), "221 See you later.\r\n")


class FramingTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(users=[ALICE, IAC_USER])

    def _send_in_pieces(self, client, *pieces):
        for piece in pieces[:-1]:
            client.send(piece)
            self.assertTrue(client.is_open(0.3), "the server answered part of a line")
        client.send(pieces[-1])

    def test_command_split_over_two_sends_is_one_command(self):
        client = self.track(self.srv.client())
        self._send_in_pieces(client, "US", "ER alice\r\n")
        self.assertEqual(client.reply(), REPLY_NEED_PASSWORD)
        self._send_in_pieces(client, "PASS sec", "ret\r\n")
        self.assertEqual(client.reply(), "230 \r\n")
        self._send_in_pieces(client, "NO", "OP", "\r", "\n")
        self.assertEqual(client.reply(), REPLY_OK)
        self.assertTrue(client.is_open(0.3), "a split command produced an extra reply")

    def test_two_commands_in_one_send_are_both_answered(self):
        client = self.track(self.srv.client())
        client.send("USER alice\r\nPASS secret\r\n")
        self.assertEqual(client.reply(), REPLY_NEED_PASSWORD)
        self.assertEqual(client.reply(), "230 \r\n")
        client.send("NOOP\r\nSYST\r\nnoop\r\n")
        self.assertEqual([client.reply(), client.reply(), client.reply()], [REPLY_OK, REPLY_SYST, REPLY_OK])
        self.assertTrue(client.is_open(0.3), "more replies than commands")

    def test_line_end_may_fall_into_the_next_send(self):
        client = self.track(self.srv.client())
        self._send_in_pieces(client, "USER alice\r\nPA", "SS secret\r\nNOOP", "\r\n")
        self.assertEqual([client.reply(), client.reply(), client.reply()],
                         [REPLY_NEED_PASSWORD, "230 \r\n", REPLY_OK])

    def test_line_feed_alone_ends_a_command(self):
        client = self.track(self.srv.client())
        client.send("USER alice\nPASS secret\n")
        self.assertEqual(client.reply(), REPLY_NEED_PASSWORD)
        self.assertEqual(client.reply(), "230 \r\n")
        client.send("NOOP\n")
        self.assertEqual(client.reply(), REPLY_OK)

    def test_over_long_line_gets_a_500_class_reply_and_the_session_goes_on(self):
        client = self.track(self.srv.logged_on_client("alice", "secret"))
        client.send("NOOP " + "x" * 100000 + "\r\nNOOP\r\n")
        replies = []
        while True:
            reply = client.reply()
            if reply == REPLY_OK:
                break
            replies.append(reply)
            self.assertLess(len(replies), 100, "too many replies to one over-long line")
        self.assertTrue(replies, "an over-long line was taken as a command")
        for reply in replies:
            self.assertRegex(reply, r"^5\d\d[ -]", "an over-long line needs a 500-class reply")

    def test_telnet_interrupt_and_data_mark_are_stripped(self):
        client = self.track(self.srv.logged_on_client("alice", "secret"))
        client.send(b"\xff\xf4\xff\xf2NOOP\r\n")
        self.assertEqual(client.reply(), REPLY_OK)
        client.send(b"NO\xff\xf1OP\r\n")
        self.assertEqual(client.reply(), REPLY_OK)

    def test_telnet_sequence_split_over_two_sends_is_stripped(self):
        client = self.track(self.srv.logged_on_client("alice", "secret"))
        client.send(b"\xff")
        self.assertTrue(client.is_open(0.3))
        client.send(b"\xf4NOOP\r\n")
        self.assertEqual(client.reply(), REPLY_OK)

    def test_doubled_iac_is_one_0xff_byte(self):
        client = self.track(self.srv.client())
        self.assertEqual(client.cmd("USER iac"), REPLY_NEED_PASSWORD)
        client.send(b"PASS pw\xff\xffx\r\n")
        self.assertEqual(client.reply(), "230 \r\n")


class UserLimitTest(VeltoTestCase):
    def test_client_beyond_max_users_gets_the_banner_as_a_421_reply(self):
        server = self.server(settings={"FTP Settings": {"MaxUsers": "2"}})
        greeted_client(self, server)
        greeted_client(self, server)
        refused = self.track(RawClient(server.port))
        self.assertEqual(refused.read_until_closed(), b"421 Maximum connections reached.\r\n")

    def test_banner_that_is_a_reply_is_sent_as_it_is(self):
        server = self.server(settings={"FTP Settings": {"MaxUsers": "1",
                                                        "BannerMaxUsers": "421 Too busy, try later"}})
        greeted_client(self, server)
        refused = self.track(RawClient(server.port))
        self.assertEqual(refused.read_until_closed(), b"421 Too busy, try later\r\n")

    def test_max_users_zero_refuses_everyone(self):
        server = self.server(settings={"FTP Settings": {"MaxUsers": "0"}}, ready="connect")
        for _ in range(2):
            refused = self.track(RawClient(server.port))
            self.assertEqual(refused.read_until_closed(), b"421 Maximum connections reached.\r\n")

    def test_leaving_client_frees_its_place(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": {"MaxUsers": "1"}})
        first = greeted_client(self, server)
        first.close()
        second = greeted_client(self, server)
        self.assertEqual(second.cmd("USER alice"), REPLY_NEED_PASSWORD)


def tz_with_midnight_at(moment):
    """A POSIX TZ value under which local midnight falls at `moment` (whole epoch seconds)."""
    offset = (-moment) % 86400
    if offset > 43200:
        offset -= 86400
    sign = "-" if offset >= 0 else "+"  # POSIX: the sign is west of Greenwich
    offset = abs(offset)
    return f"VLT{sign}{offset // 3600:02d}:{offset % 3600 // 60:02d}:{offset % 60:02d}"


class IdleTimeoutTest(VeltoTestCase):
    # The sweep runs every min(Timeout, 60000) ms, so with 2000 ms an idle
    # session is closed between about 2 and 4 s after its last command.
    TIMEOUT = {"FTP Settings": {"Timeout": "2000"}}
    CLOSE_WITHIN = 20.0

    def test_idle_session_is_told_and_closed(self):
        server = self.server(users=[ALICE], settings=self.TIMEOUT)
        logged_on = self.track(server.logged_on_client("alice", "secret"))
        stranger = self.track(server.client())
        self.assertEqual(logged_on.read_until_closed(self.CLOSE_WITHIN), b"421 Timeout.\r\n")
        self.assertEqual(stranger.read_until_closed(self.CLOSE_WITHIN), b"421 Timeout.\r\n")

    def test_commands_keep_a_session_alive(self):
        server = self.server(users=[ALICE], settings=self.TIMEOUT)
        client = self.track(server.logged_on_client("alice", "secret"))
        end = time.monotonic() + 6.0
        while time.monotonic() < end:
            self.assertEqual(client.cmd("NOOP"), REPLY_OK)
            time.sleep(0.4)

    def test_timeout_zero_never_closes(self):
        server = self.server(users=[ALICE], settings={"FTP Settings": {"Timeout": "0"}})
        client = self.track(server.logged_on_client("alice", "secret"))
        self.assertTrue(client.is_open(4.0))
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)

    def test_session_idle_across_local_midnight_is_closed(self):
        # The server's local time reaches midnight right after the last command.
        midnight = int(time.time()) + 12
        server = self.server(users=[ALICE], settings=self.TIMEOUT,
                             env={"TZ": tz_with_midnight_at(midnight)})
        client = self.track(server.logged_on_client("alice", "secret"))
        while time.time() < midnight - 0.7:
            self.assertEqual(client.cmd("NOOP"), REPLY_OK)
            time.sleep(min(0.4, max(0.0, midnight - 0.7 - time.time())))
        if time.time() >= midnight:
            self.skipTest("the machine was too slow to send a command just before midnight")
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)
        self.assertEqual(client.read_until_closed(self.CLOSE_WITHIN), b"421 Timeout.\r\n",
                         "a session idle across midnight was not timed out")


class AccessLogTest(VeltoTestCase):
    OLD_LINE = "01-02-2001 03:04:05 AM,old,NOOP,10.0.0.1,21,10.0.0.2,1042\r\n"

    def _run(self):
        server = self.server(users=[dict(ALICE, LogAccess=True),
                                    {"UserID": "Bob", "Password": "s3cret-Bob"}],
                             extra_files={"Access.log": self.OLD_LINE})
        alice = self.track(server.client())
        alice.cmd("USER alice")
        self.assertEqual(alice.cmd("PASS wrongpass"), REPLY_NOT_LOGGED_ON)
        self.assertEqual(alice.cmd("PASS secret"), "230 \r\n")
        self.assertEqual(alice.cmd("NOOP"), REPLY_OK)
        self.assertEqual(alice.cmd("QUIT"), "221 Goodbye.\r\n")
        bob = self.track(server.logged_on_client("Bob", "s3cret-Bob"))
        self.assertEqual(bob.cmd("NOOP"), REPLY_OK)
        stranger = self.track(server.client())
        self.assertEqual(stranger.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        self.stop_server(server)  # lines are only sure to be on disk once the log is closed
        return server, alice.local_port, server.read_access_log()

    def test_commands_of_logged_accounts_are_written_with_the_password_masked(self):
        server, client_port, log = self._run()
        self.assertTrue(log.startswith(self.OLD_LINE), "lines of earlier runs must be kept")
        self.assertTrue(log.endswith("\r\n"))
        lines = log[len(self.OLD_LINE):].split("\r\n")[:-1]
        commands = ["USER alice", "PASS ****", "PASS ****", "NOOP", "QUIT"]
        self.assertEqual(len(lines), len(commands), f"access log:\n{log}")
        for line, command in zip(lines, commands):
            self.assertRegex(line, r"^(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01])-\d{4} "
                                   r"(0[1-9]|1[0-2]):[0-5]\d:[0-5]\d [AP]M,alice," + re.escape(command) +
                                   r",\d{1,3}(\.\d{1,3}){3}," + str(server.port) +
                                   r",127\.0\.0\.1," + str(client_port) + "$")
        self.assertNotIn("secret", log)
        self.assertNotIn("wrongpass", log)
        self.assertNotIn("Bob", log)


if __name__ == "__main__":
    unittest.main()
