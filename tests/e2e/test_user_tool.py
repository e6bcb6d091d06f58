"""The account tool (velto user ...) on the user file beside the program, and
a running server that reloads the file on SIGHUP."""

import subprocess
import time
import unittest

from velto_harness import REPLY_CONCURRENT, REPLY_NOT_LOGGED_ON, VeltoTestCase

ALICE = {"UserID": "alice", "Password": "secret", "LimitToDefaultDirectory": True}


class UserToolTest(VeltoTestCase):
    def tool(self, srv, *args, password=None):
        """Runs `velto user ARGS` from the server's folder; the password is one line of input."""
        result = subprocess.run([str(srv.folder / "velto"), "user", *args], cwd=srv.cwd, env=srv.env,
                                input=b"" if password is None else password.encode() + b"\n",
                                capture_output=True, timeout=15)
        srv.command_stderr.append(result.stderr.decode("latin-1"))
        return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def wait_for_reloads(self, srv, count):
        """Waits (bounded) until the server has reloaded the user file `count` times."""
        deadline = time.monotonic() + 10
        while srv.stderr_text().count("reloaded ") < count:
            self.assertLess(time.monotonic(), deadline, "the server did not reload the accounts")
            time.sleep(0.1)

    def test_changes_reach_a_running_server_and_sessions_keep_their_log_on(self):
        home = self.temp_dir()
        (home / "f.txt").write_bytes(b"x")
        # Alice may go anywhere until her account is removed.
        srv = self.server(users=[dict(ALICE, DefaultDirectory=str(home), LimitToDefaultDirectory=False)])
        alice = self.track(srv.logged_on_client("alice", "secret"))

        status, out, err = self.tool(srv, "add", "bob", "--home", str(home), "--read-only", password="b0b")
        self.assertEqual((status, err), (0, ""))
        self.assertIn(f"Told the running server (pid {srv.proc.pid}) to reload", out)
        srv.wait_for_stderr("reloaded 2 accounts")
        bob = self.track(srv.logged_on_client("bob", "b0b"))
        self.assertTrue(bob.cmd("DELE f.txt").startswith("550"), "--read-only must refuse writes")
        self.assertEqual(bob.cmd("QUIT"), "221 Goodbye.\r\n")  # ends its log-on

        status, out, _ = self.tool(srv, "list")
        self.assertEqual(status, 0)
        self.assertRegex(out, rf"bob\s+r- confined\s+{home}")

        self.assertEqual(self.tool(srv, "passwd", "bob", password="new")[0], 0)
        self.assertEqual(self.tool(srv, "del", "alice")[0], 0)
        srv.wait_for_stderr("reloaded 1 account ")
        # The old log-on stands, but an account that is gone has no rights.
        self.assertEqual(alice.cmd("NOOP"), "200 OK\r\n")
        self.assertTrue(alice.cmd("NLST /").startswith("550"))
        self.assertTrue(alice.cmd("RETR f.txt").startswith("550"))
        for user, password in (("alice", "secret"), ("bob", "b0b")):
            with srv.client() as client:
                client.cmd("USER " + user)
                self.assertEqual(client.cmd("PASS " + password), REPLY_NOT_LOGGED_ON)
        self.track(srv.logged_on_client("bob", "new"))

    def test_data_folder_option_edits_that_folders_user_file_and_tells_its_server(self):
        home = self.temp_dir()
        srv = self.server(start=False, users=[dict(ALICE, DefaultDirectory=str(home))])
        data = self.temp_dir()
        # The loopback Velto.ini goes with the data.
        for name in ("Velto.ini", "Velto.usr"):
            (srv.folder / name).rename(data / name)
        srv.args = ["--data-dir", str(data)]
        srv.start()
        status, out, err = self.tool(srv, "add", "--data-dir", str(data), "bob", "--home", str(home),
                                     password="b0b")
        self.assertEqual((status, err), (0, ""))
        self.assertIn(f"Told the running server (pid {srv.proc.pid}) to reload", out)
        srv.wait_for_stderr("reloaded 2 accounts")
        self.track(srv.logged_on_client("bob", "b0b"))
        self.assertIn(b"UserID=bob", (data / "Velto.usr").read_bytes())
        self.assertFalse((srv.folder / "Velto.usr").exists())
        status, _, err = self.tool(srv, "list", "--data-dir", str(srv.root / "missing"))
        self.assertEqual(status, 1)
        self.assertIn("cannot be used", err)

    def test_set_changes_rights_without_the_password_and_hashed_passwords_log_on(self):
        srv = self.server(users=[], settings={"FTP Settings": {"HashPasswords": "True"}})
        (srv.cwd / "files").mkdir()
        self.assertEqual(self.tool(srv, "add", "carl", "--home", str(srv.cwd), password="c4rl")[0], 0)
        srv.wait_for_stderr("reloaded 1 account")
        users = (srv.folder / "Velto.usr").read_bytes()
        self.assertIn(b"PasswordHash=$y$", users)
        self.assertNotIn(b"c4rl", users)
        self.track(srv.logged_on_client("carl", "c4rl"))
        with srv.client() as second:  # FileZilla's second connection
            second.cmd("USER carl")
            self.assertEqual(second.cmd("PASS c4rl"), REPLY_CONCURRENT)

        status, out, err = self.tool(srv, "set", "carl", "--concurrent", "--read-only", "--home", "files")
        self.assertEqual((status, err), (0, ""))
        self.assertIn(f"Changed carl (r- confined,concurrent) with home {srv.cwd / 'files'}", out)
        self.wait_for_reloads(srv, 2)
        second = self.track(srv.logged_on_client("carl", "c4rl"))
        self.assertEqual(second.cmd("PWD"), '257 "/" is the current directory.\r\n')
        self.assertEqual(self.tool(srv, "set", "carl", "--single", "--read-write", "--no-log", "--confined")[0], 0)
        self.assertRegex(self.tool(srv, "list")[1], r"carl\s+rw confined\s")
        self.assertEqual(self.tool(srv, "set", "carl", "--require-tls")[0], 0)
        self.assertRegex(self.tool(srv, "list")[1], r"carl\s+rw confined,tls\s")
        self.assertIn(b"RequireTLS=True", (srv.folder / "Velto.usr").read_bytes())

        for args, expected, message in ((("set", "carl"), 2, "set needs"), (("set", "nobody", "--log"), 1, "no account"),
                                        (("set", "carl", "--home", "missing"), 1, "cannot be used")):
            with self.subTest(args=args):
                status, _, err = self.tool(srv, *args)
                self.assertEqual(status, expected)
                self.assertIn(message, err)

    def test_refuses_what_the_file_cannot_hold_and_leaves_it_unchanged(self):
        home = self.temp_dir()
        (home / "plain-file").write_bytes(b"")
        srv = self.server(users=[dict(ALICE, DefaultDirectory=str(home))], start=False)
        before = (srv.folder / "Velto.usr").read_bytes()
        refused = [
            (1, ("add", "bob", "--home", str(home / "missing")), "pw", "cannot be used"),
            (1, ("add", "bob", "--home", str(home / "plain-file")), "pw", "is not a folder"),
            (1, ("add", "bob]", "--home", str(home)), "pw", "cannot be stored"),
            (1, ("add", "ALICE", "--home", str(home)), "pw", "exists already"),
            (1, ("add", "bob", "--home", str(home)), "", "must not be empty"),
            (1, ("add", "bob", "--home", str(home)), None, "no password"),
            (1, ("passwd", "nobody"), "pw", "no account"),
            (1, ("del", "nobody"), None, "no account"),
            (2, ("add", "bob", "--home", str(home), "--admin"), "pw", "unknown option --admin"),
            (2, ("add", "bob"), "pw", "needs --home"),
            (2, ("rename", "alice"), None, "unknown user command"),
        ]
        for expected, args, password, message in refused:
            with self.subTest(args=args):
                status, out, err = self.tool(srv, *args, password=password)
                self.assertEqual(status, expected)
                self.assertIn(message, err)
                self.assertEqual(out, "")
        self.assertEqual((srv.folder / "Velto.usr").read_bytes(), before)
        status, out, _ = self.tool(srv, "del", "alice")
        self.assertEqual(status, 0)
        self.assertIn("No server runs from", out)


if __name__ == "__main__":
    unittest.main()
