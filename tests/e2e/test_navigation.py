"""Navigation and file management through the real program: PWD, CWD, CDUP, MKD,
RMD, DELE, RNFR and RNTO with a raw client for exact texts, ftplib, curl and
lftp; a limited account kept inside its default directory by every one of
them."""

import ftplib
import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

from velto_harness import VeltoTestCase

OK = "250 Requested file action completed successfully.\r\n"
NOT_FOUND = "550 Requested file action not taken.  File not found.\r\n"
NO_ACCESS = "550 Requested file action not taken---user does not have access.\r\n"
FAILED = "550 Requested file action not taken---file action failed.\r\n"
PATH_NOT_FOUND = "550 Requested file action not taken.  File or path not found.\r\n"
SYNTAX = "501 Syntax error--missing parameters or arguments.\r\n"
SYNTAX_CWD = "501 Syntax error--missing or incorrect parameters or arguments.\r\n"
PENDING = "350 Requested file action pending further information.\r\n"
FILE_ERROR = "450 Requested action not taken: File error.\r\n"


def pwd_reply(path):
    return '257 "%s" is the current directory.\r\n' % path


def created_reply(path):
    return '257 "%s" Directory created.\r\n' % path


class NavigationCase(VeltoTestCase):
    """A tree with bob's home (limited), a neighbour whose name starts like it,
    and files outside; bob, an unlimited admin and a read-only account. Bob
    and the reader see physical paths (virtual paths off), so each refusal
    is told apart by its text."""

    def setUp(self):
        super().setUp()
        self.top = Path(tempfile.mkdtemp(prefix="velto-nav-")).resolve()
        self.addCleanup(shutil.rmtree, self.top, True)
        for folder in ("ftp/bob/sub/deeper", "ftp/bobby", "ftp/alice", "outside"):
            (self.top / folder).mkdir(parents=True)
        self.write("ftp/bob/file.txt", b"mine")
        self.write("ftp/bobby/secret.txt", b"bobby's")
        self.write("outside/secret.txt", b"outside")
        self.home = self.path("ftp/bob") + "/"
        users = [
            {"UserID": "bob", "Password": "secret", "DefaultDirectory": self.path("ftp/bob"),
             "LimitToDefaultDirectory": True, "AllowConcurrentLogons": True, "UseVirtualPaths": False},
            {"UserID": "admin", "Password": "secret", "DefaultDirectory": self.path("ftp/bob"),
             "LimitToDefaultDirectory": False, "AllowConcurrentLogons": True},
            {"UserID": "reader", "Password": "secret", "DefaultDirectory": self.path("ftp/bob"),
             "LimitToDefaultDirectory": True, "WriteAccess": False, "UseVirtualPaths": False},
            {"UserID": "carol", "Password": "secret", "DefaultDirectory": self.path("ftp/bob"),
             "LimitToDefaultDirectory": True, "AllowConcurrentLogons": True},
        ]
        self.srv = self.server(users=users)

    def path(self, relative):
        return str(self.top / relative)

    def write(self, relative, data):
        (self.top / relative).write_bytes(data)

    def exists(self, relative):
        return os.path.lexists(self.top / relative)

    def snapshot(self):
        """Every entry of the tree outside bob's home, with its content."""
        entries = {}
        for folder, dirs, files in os.walk(self.top):
            rel = os.path.relpath(folder, self.top)
            if rel == "ftp/bob" or rel.startswith("ftp/bob/"):
                continue
            for name in dirs:
                entries[os.path.join(rel, name)] = None
            for name in files:
                entries[os.path.join(rel, name)] = Path(folder, name).read_bytes()
        return entries

    def raw(self, user="bob"):
        return self.track(self.srv.logged_on_client(user, "secret"))

    def ftp(self, user="bob"):
        f = ftplib.FTP(encoding="latin-1")
        f.connect("127.0.0.1", self.srv.port, timeout=20)
        self.addCleanup(self._close, f)
        f.login(user, "secret")
        return f

    @staticmethod
    def ftp_pwd(f):
        return f.pwd()

    @staticmethod
    def _close(f):
        try:
            f.close()
        except Exception:
            pass


class PwdAndCwdTest(NavigationCase):
    def test_pwd_and_xpwd_show_the_directory_with_its_trailing_slash(self):
        client = self.raw("admin")
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))
        self.assertEqual(client.cmd("XPWD"), pwd_reply(self.home))
        self.assertEqual(client.cmd("pwd"), pwd_reply(self.home))

    def test_cwd_relative_absolute_dotdot_and_cdup(self):
        client = self.raw("admin")
        self.assertEqual(client.cmd("CWD sub"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/"))
        self.assertEqual(client.cmd("CWD deeper"), OK)
        self.assertEqual(client.cmd("CWD .."), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/"))
        self.assertEqual(client.cmd("CDUP"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))
        self.assertEqual(client.cmd("CWD " + self.path("ftp/bob/sub/deeper")), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/deeper/"))
        self.assertEqual(client.cmd("CWD nope"), NOT_FOUND)
        self.assertEqual(client.cmd("CWD"), SYNTAX_CWD)
        self.assertEqual(client.cmd("CD"), SYNTAX_CWD)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/deeper/"))

    def test_unlimited_account_moves_anywhere_it_may(self):
        client = self.raw("admin")
        self.assertEqual(client.cmd("CWD " + self.path("outside")), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.path("outside") + "/"))
        self.assertEqual(client.cmd("CWD ../ftp/bobby"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.path("ftp/bobby") + "/"))
        self.assertEqual(client.cmd("CWD /"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply("/"))
        self.assertEqual(client.cmd("CDUP"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply("/"))
        self.assertEqual(client.cmd("CWD " + self.path("ftp/alice")[1:]), OK, "a relative text from the root")
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.path("ftp/alice") + "/"))

    def test_absolute_path_is_not_joined_to_the_current_directory(self):
        # A same-named folder below the current directory must not be taken.
        decoy = self.top / ("ftp/bob" + self.path("ftp/alice"))
        decoy.mkdir(parents=True)
        client = self.raw("admin")
        self.assertEqual(client.cmd("CWD " + self.path("ftp/alice")), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.path("ftp/alice") + "/"))

    def test_doubled_slashes_and_backslashes_are_one_separator(self):
        client = self.raw("admin")
        self.assertEqual(client.cmd("CWD sub//deeper"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/deeper/"))
        self.assertEqual(client.cmd("CWD ..\\.."), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))

    def test_ftplib_navigates_by_absolute_and_relative_paths(self):
        f = self.ftp("admin")
        f.cwd(self.path("ftp/alice"))
        self.assertEqual(self.ftp_pwd(f), self.path("ftp/alice") + "/")
        f.cwd(self.path("ftp/bob"))
        f.cwd("sub")
        self.assertEqual(self.ftp_pwd(f), self.home + "sub/")
        f.cwd("..")
        self.assertEqual(self.ftp_pwd(f), self.home)


class LimitedAccountTest(NavigationCase):
    def test_relative_and_absolute_moves_inside_the_tree(self):
        client = self.raw()
        self.assertEqual(client.cmd("CWD sub"), OK)
        self.assertEqual(client.cmd("CWD deeper"), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "sub/deeper/"))
        self.assertEqual(client.cmd("CDUP"), OK)
        self.assertEqual(client.cmd("CWD .."), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))
        self.assertEqual(client.cmd("CWD " + self.path("ftp/bob/sub")), OK)
        self.assertEqual(client.cmd("CWD " + self.home), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))

    def test_dotdot_after_the_default_directory_does_not_escape(self):
        # The argument begins with the default directory and then climbs out.
        client = self.raw()
        self.assertEqual(client.cmd("CWD " + self.home + "../../outside"), NO_ACCESS)
        self.assertEqual(client.cmd("CWD " + self.home + "../../../../../../../../etc"), NO_ACCESS)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))

    def test_every_escape_attempt_is_refused_and_harmless(self):
        before = self.snapshot()
        client = self.raw()
        self.assertEqual(client.cmd("CWD sub"), OK)
        here = pwd_reply(self.home + "sub/")
        attempts = ["../..", "../../../../../../../../..", "..\\..\\..", "..//..//bobby",
                    "deeper/../../../outside", "../file.txt/../../..", "/", "/etc", "//etc", "\\etc",
                    self.path("ftp/bobby"), self.path("ftp/bob") + "by", self.path("outside"),
                    self.path("ftp"), self.home + "../bobby", self.home + "..//..//outside"]
        for arg in attempts:
            self.assertEqual(client.cmd("CWD " + arg), NO_ACCESS, arg)
            self.assertEqual(client.cmd("PWD"), here, arg)
        for arg in ("../../escaped", "../../../outside/new", self.path("outside/new"),
                    self.path("ftp/bobby/new"), self.home + "../escaped", "..\\..\\..\\outside\\new"):
            self.assertEqual(client.cmd("MKD " + arg), NO_ACCESS, arg)
        for arg in ("../../bobby/secret.txt", "../../../outside/secret.txt", self.path("outside/secret.txt"),
                    self.home + "../bobby/secret.txt", self.path("ftp/bobby//secret.txt"),
                    "..\\..\\..\\outside\\secret.txt"):
            self.assertEqual(client.cmd("DELE " + arg), NO_ACCESS, arg)
            self.assertEqual(client.cmd("RNFR " + arg), PENDING, arg)
            self.assertEqual(client.cmd("RNTO stolen.txt"), NO_ACCESS, arg)
        for arg in ("../../bobby", "../../../outside", self.path("ftp/alice"), self.home + "../alice"):
            self.assertEqual(client.cmd("RMD " + arg), NO_ACCESS, arg)
        self.assertEqual(client.cmd("RNFR ../file.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO ../../../outside/planted.txt"), NO_ACCESS)
        self.assertEqual(client.cmd("RNFR ../file.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO " + self.home + "../bobby/planted.txt"), NO_ACCESS)
        # The home folder itself cannot be removed or moved away.
        self.assertEqual(client.cmd("CDUP"), OK)
        self.assertEqual(client.cmd("CDUP"), NO_ACCESS)
        self.assertEqual(client.cmd("RNFR ."), PENDING)
        self.assertEqual(client.cmd("RNTO sub/home"), NO_ACCESS)
        self.assertEqual(client.cmd("RMD " + self.home), NO_ACCESS)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home))
        self.assertEqual(self.snapshot(), before, "something outside the home folder changed")
        self.assertTrue(os.path.isdir(self.home))
        self.assertFalse(self.exists("ftp/bob/sub/stolen.txt"))

    def test_dotdot_after_a_link_is_taken_off_the_text_before_the_check(self):
        # The system would read link/.. as the link target's parent (outside).
        (self.top / "outside/sub").mkdir()
        os.symlink(self.path("outside/sub"), self.path("ftp/bob/link"))
        before = self.snapshot()
        client = self.raw()
        self.assertEqual(client.cmd("DELE link/../secret.txt"), NOT_FOUND)
        self.assertEqual(client.cmd("RNFR link/../secret.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO got.txt"), PATH_NOT_FOUND)
        self.assertEqual(client.cmd("MKD link/../made"), created_reply(self.home + "made"))
        f = self.ftp()
        with self.assertRaisesRegex(ftplib.error_perm, "^550 "):
            f.retrbinary("RETR link/../secret.txt", lambda data: None)
        self.assertEqual(self.snapshot(), before)
        self.assertTrue(os.path.isdir(self.path("ftp/bob/made")))

    def test_file_management_inside_the_tree_with_ftplib(self):
        f = self.ftp()
        os.makedirs(self.path("ftp/bob/a"))
        self.assertEqual(f.mkd("a/b/c"), self.home + "a/b/c")
        self.assertTrue(os.path.isdir(self.path("ftp/bob/a/b/c")))
        f.cwd("a/b")
        self.assertEqual(self.ftp_pwd(f), self.home + "a/b/")
        f.rmd("c")
        self.assertFalse(self.exists("ftp/bob/a/b/c"))
        f.cwd(self.home)
        f.rename("file.txt", "sub/renamed.txt")
        self.assertEqual((self.top / "ftp/bob/sub/renamed.txt").read_bytes(), b"mine")
        f.rename("sub", "moved")
        self.assertTrue(os.path.isdir(self.path("ftp/bob/moved/deeper")))
        f.delete("moved/renamed.txt")
        self.assertFalse(self.exists("ftp/bob/moved/renamed.txt"))
        with self.assertRaisesRegex(ftplib.error_perm, "^550 Requested file action not taken---user does not"):
            f.cwd("..")
        with self.assertRaisesRegex(ftplib.error_perm, "^550 "):
            f.rmd("moved")  # not empty


class FileCommandsTest(NavigationCase):
    def test_dele_of_a_directory_and_of_a_read_only_file(self):
        self.write("ftp/bob/ro.txt", b"read only")
        os.chmod(self.path("ftp/bob/ro.txt"), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        client = self.raw()
        self.assertEqual(client.cmd("DELE sub"), FILE_ERROR)
        self.assertTrue(os.path.isdir(self.path("ftp/bob/sub")))
        self.assertEqual(client.cmd("DELE ro.txt"), OK)
        self.assertFalse(self.exists("ftp/bob/ro.txt"))
        self.assertEqual(client.cmd("DELE ro.txt"), NOT_FOUND)

    def test_rnto_needs_a_preceding_rnfr_every_time(self):
        client = self.raw()
        self.assertEqual(client.cmd("RNTO x.txt"), SYNTAX)
        self.assertEqual(client.cmd("RNFR file.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO first.txt"), OK)
        self.assertEqual(client.cmd("RNTO second.txt"), SYNTAX)
        self.assertTrue(self.exists("ftp/bob/first.txt"))
        self.assertFalse(self.exists("ftp/bob/second.txt"))
        self.assertEqual(client.cmd("RNFR nope.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO other.txt"), PATH_NOT_FOUND)
        self.assertEqual(client.cmd("RNTO other.txt"), SYNTAX)

    def test_rename_never_replaces_an_existing_entry(self):
        self.write("ftp/bob/other.txt", b"keep")
        client = self.raw()
        self.assertEqual(client.cmd("RNFR file.txt"), PENDING)
        self.assertEqual(client.cmd("RNTO other.txt"), FAILED)
        self.assertEqual((self.top / "ftp/bob/other.txt").read_bytes(), b"keep")
        self.assertEqual((self.top / "ftp/bob/file.txt").read_bytes(), b"mine")

    def test_mkd_and_rmd_replies(self):
        client = self.raw()
        self.assertEqual(client.cmd("MKD x//y"), created_reply(self.home + "x/y"))
        self.assertEqual(client.cmd("MKD " + self.home + "abs"), created_reply(self.home + "abs"))
        self.assertEqual(client.cmd("MKD file.txt/z"), NOT_FOUND)
        self.assertEqual(client.cmd("MKD"), SYNTAX)
        self.assertEqual(client.cmd("RMD x"), NOT_FOUND, "not empty")
        self.assertEqual(client.cmd("RMD x/y"), OK)
        self.assertEqual(client.cmd("RMD file.txt"), NOT_FOUND)
        self.assertEqual(client.cmd("RMD"), SYNTAX)
        self.assertTrue(self.exists("ftp/bob/file.txt"))

    def test_write_right_refusals(self):
        os.makedirs(self.path("ftp/bob/empty"))
        client = self.raw("reader")
        for line in ("MKD new", "RMD empty", "DELE file.txt", "RNFR file.txt", "RNTO x.txt"):
            self.assertEqual(client.cmd(line), NO_ACCESS, line)
        self.assertFalse(self.exists("ftp/bob/new"))
        self.assertTrue(os.path.isdir(self.path("ftp/bob/empty")))
        self.assertTrue(self.exists("ftp/bob/file.txt"))
        self.assertEqual(client.cmd("CWD sub"), OK)

    def test_names_with_spaces_utf8_and_a_trailing_space(self):
        client = self.raw()
        utf8 = "\u00e9t\u00e9 \u20ac".encode("utf-8")
        client.send(b"MKD two words \r\n")
        self.assertEqual(client.reply(), created_reply(self.home + "two words "))
        self.assertTrue(os.path.isdir(self.path("ftp/bob/two words ")))
        self.assertFalse(self.exists("ftp/bob/two words"))
        client.send(b"CWD two words \r\n")
        self.assertEqual(client.reply(), OK)
        self.assertEqual(client.cmd("PWD"), pwd_reply(self.home + "two words /"))
        client.send(b"MKD " + utf8 + b"\r\n")
        self.assertEqual(client.reply().encode("latin-1"),
                         b'257 "' + (self.home + "two words /").encode() + utf8 + b'" Directory created.\r\n')
        self.assertTrue(os.path.isdir(os.path.join(self.path("ftp/bob/two words ").encode(), utf8)))
        client.send(b"CWD " + utf8 + b"\r\n")
        self.assertEqual(client.reply(), OK)
        client.send(b"PWD\r\n")
        self.assertEqual(client.reply().encode("latin-1"),
                         b'257 "' + (self.home + "two words /").encode() + utf8 + b'/" is the current directory.\r\n')
        self.assertEqual(client.cmd("CDUP"), OK)
        self.write("ftp/bob/two words /end ", b"x")
        self.assertEqual(client.cmd("DELE end"), NOT_FOUND)
        client.send(b"DELE end \r\n")
        self.assertEqual(client.reply(), OK)
        self.assertFalse(self.exists("ftp/bob/two words /end "))
        client.send(b"RMD " + utf8 + b"\r\n")
        self.assertEqual(client.reply(), OK)


class VirtualRootTest(NavigationCase):
    """Carol: limited, virtual paths on (the defaults): her home is "/"."""

    def test_the_home_is_the_root_and_nothing_shows_the_physical_path(self):
        client = self.raw("carol")
        self.assertEqual(client.cmd("PWD"), pwd_reply("/"))
        for arg in ("/", "/..", "..", "\\"):
            self.assertEqual(client.cmd("CWD " + arg), OK, arg)
            self.assertEqual(client.cmd("PWD"), pwd_reply("/"), arg)
        self.assertEqual(client.cmd("CWD /sub/deeper"), OK)
        self.assertEqual(client.cmd("MKD /sub/made"), created_reply("/sub/made"))
        self.assertEqual(client.cmd("CWD " + self.path("outside")), NOT_FOUND)
        self.assertEqual(client.cmd("CWD " + self.home + "sub"), OK, "the physical form still works")
        self.assertEqual(client.cmd("PWD"), pwd_reply("/sub/"))
        self.assertEqual(client.cmd("CWD " + self.home + "../bobby"), NO_ACCESS)
        self.assertNotIn(self.home[:-1], client.cmd("MLST file.txt"))

    @unittest.skipUnless(shutil.which("lftp"), "lftp is not installed")
    def test_lftp_works_inside_a_confined_tree(self):
        before = self.snapshot()
        local = str(self.temp_dir() / "copy.txt")
        script = ("set net:max-retries 1; set net:timeout 20; open -u carol,secret ftp://127.0.0.1:%d; "
                  "cd /sub; mkdir made; cd /; get file.txt -o %s; cd /../..; ls; bye" % (self.srv.port, local))
        r = subprocess.run(["lftp", "-c", script], capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(Path(local).read_bytes(), b"mine")
        self.assertTrue(os.path.isdir(self.path("ftp/bob/sub/made")))
        self.assertIn(b"file.txt", r.stdout)
        self.assertEqual(self.snapshot(), before)


@unittest.skipUnless(shutil.which("curl"), "curl is not installed")
class CurlTest(NavigationCase):
    def curl(self, *args, user="bob"):
        cmd = ["curl", "-sS", "--max-time", "30", "--user", user + ":secret"] + list(args)
        return subprocess.run(cmd, capture_output=True, timeout=60)

    def url(self, path=""):
        return "ftp://127.0.0.1:%d/%s" % (self.srv.port, path)

    def test_curl_walks_relative_steps_inside_a_limited_tree(self):
        self.write("ftp/bob/sub/deeper/deep.txt", b"deep")
        for method in ("multicwd", "singlecwd"):
            r = self.curl("--ftp-method", method, self.url("sub/deeper/deep.txt"))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, b"deep")

    def test_curl_cannot_walk_out_of_a_limited_tree(self):
        r = self.curl("--path-as-is", self.url("../../outside/secret.txt"))
        self.assertNotEqual(r.returncode, 0)
        self.assertNotIn(b"outside", r.stdout)
        r = self.curl(self.url("%2F" + self.path("outside/secret.txt")[1:]))
        self.assertNotEqual(r.returncode, 0)
        self.assertNotIn(b"outside", r.stdout)

    def test_curl_quote_commands_manage_files(self):
        r = self.curl("-Q", "MKD made/by/curl", "-Q", "RNFR file.txt", "-Q", "RNTO made/moved.txt",
                      "-Q", "DELE made/moved.txt", self.url("sub/"), "-l")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(self.path("ftp/bob/made/by/curl")))
        self.assertFalse(self.exists("ftp/bob/file.txt"))
        self.assertFalse(self.exists("ftp/bob/made/moved.txt"))
        self.assertIn(b"deeper", r.stdout.splitlines())

    def test_curl_absolute_path_for_an_unlimited_account(self):
        r = self.curl(self.url("%2F" + self.path("outside/secret.txt")[1:]), user="admin")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"outside")


@unittest.skipUnless(shutil.which("lftp"), "lftp is not installed")
class LftpTest(NavigationCase):
    def test_lftp_navigates_by_absolute_paths(self):
        self.write("ftp/alice/hello.txt", b"hello")
        local = self.path("copy.txt")
        script = ("set net:max-retries 1; set net:timeout 20; open -u admin,secret ftp://127.0.0.1:%d; "
                  "cd %s; get hello.txt -o %s; cd %s; mkdir -p made/here; bye"
                  % (self.srv.port, self.path("ftp/alice"), local, self.path("ftp/bob/sub")))
        r = subprocess.run(["lftp", "-c", script], capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(Path(local).read_bytes(), b"hello")
        self.assertTrue(os.path.isdir(self.path("ftp/bob/sub/made/here")))


if __name__ == "__main__":
    unittest.main()
