"""Service mode: installing and removing the systemd unit, the stop request in
service mode, and the operating-system log-on through PAM."""

import os
import random
import shutil
import signal
import subprocess
import unittest
from pathlib import Path

from velto_harness import NO_FILE, bin_dir, REPLY_NEED_PASSWORD, REPLY_NOT_LOGGED_ON, REPLY_OK, VeltoTestCase

INSTALL_FAILED = "Error---unable to install service."
UNINSTALL_FAILED = "Unable to uninstall service (the named service may not exist)."

ALICE = {"UserID": "alice", "Password": "secret"}


class InstallTest(VeltoTestCase):
    def setUp(self):
        super().setUp()
        self.srv = self.server(start=False, ini=NO_FILE)
        self.unit = self.srv.unit_dir / "velto.service"
        self.srv.unit_dir.mkdir()

    def _run(self, *args):
        result = self.srv.run_command(args)
        return result.stderr.decode("latin-1")

    def test_install_writes_the_unit_and_a_second_install_fails(self):
        errors = self._run("-INSTALL")
        self.assertNotIn(INSTALL_FAILED, errors)
        self.assertTrue(self.unit.is_file(), "no velto.service in the unit folder")
        text = self.unit.read_text()
        exec_start = [line for line in text.splitlines() if line.startswith("ExecStart=")]
        self.assertEqual(exec_start, [f"ExecStart={self.srv.folder}/velto SERVICE"])
        self.assertIsNone(self.srv.read_ini(), "an install run must not load the server")
        self.assertFalse((self.srv.folder / "Velto.pid").exists(), "an install run is no server")

        errors = self._run("-INSTALL")
        self.assertIn(INSTALL_FAILED, errors)
        self.assertEqual(self.unit.read_text(), text, "a failed install changed the unit")

    def test_install_passes_the_folder_options_on(self):
        errors = self._run("-INSTALL", "--data-dir", "data dir", "--log-dir=/var/log/velto")
        self.assertNotIn(INSTALL_FAILED, errors)
        exec_start = [line for line in self.unit.read_text().splitlines() if line.startswith("ExecStart=")]
        self.assertEqual(exec_start, [f'ExecStart={self.srv.folder}/velto SERVICE --data-dir "{self.srv.cwd}/data dir/"'
                                      ' --log-dir /var/log/velto/'])

    def test_uninstall_removes_the_unit_and_a_second_uninstall_fails(self):
        self._run("-INSTALL")
        self.assertTrue(self.unit.is_file())
        errors = self._run("-UNINSTALL")
        self.assertNotIn(UNINSTALL_FAILED, errors)
        self.assertFalse(self.unit.exists(), "velto.service still there after -UNINSTALL")
        errors = self._run("-UNINSTALL")
        self.assertIn(UNINSTALL_FAILED, errors)

    def test_uninstall_without_unit_fails(self):
        self.assertIn(UNINSTALL_FAILED, self._run("-UNINSTALL"))

    def test_switches_ignore_letter_case_and_surrounding_blanks(self):
        self.assertNotIn(INSTALL_FAILED, self._run(" -install "))
        self.assertTrue(self.unit.is_file())
        self.assertNotIn(UNINSTALL_FAILED, self._run("-Uninstall"))
        self.assertFalse(self.unit.exists())

    def test_install_leaves_other_units_alone(self):
        other = self.srv.unit_dir / "other.service"
        other.write_text("[Service]\nExecStart=/bin/true\n")
        self._run("-INSTALL")
        self._run("-UNINSTALL")
        self.assertEqual(other.read_text(), "[Service]\nExecStart=/bin/true\n")


class ServiceStopTest(VeltoTestCase):
    SETTINGS = {"FTP Settings": {"MaxUsers": "6", "BannerExit": "Service says bye."}}

    def _service(self):
        server = self.server(args=["SERVICE"], users=[ALICE], settings=self.SETTINGS)
        client = self.track(server.logged_on_client("alice", "secret"))
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)
        self.assertEqual(client.cmd("QUIT"), "221 Service says bye.\r\n")
        return server

    def _assert_settings_written(self, server):
        self.assertEqual(server.ini_value("FTP Settings", "MaxUsers"), "6")
        self.assertEqual(server.ini_value("FTP Settings", "BannerExit"), "Service says bye.")
        self.assertEqual(server.ini_value("FTP Settings", "Timeout"), "600000")
        self.assertEqual(server.ini_value("Settings", "ProcessingIntervalToSend"), "50")

    def test_sigterm_stops_the_service_after_the_unload(self):
        server = self._service()
        self.stop_server(server, signal.SIGTERM)
        self._assert_settings_written(server)

    def test_sigint_stops_the_service_after_the_unload(self):
        server = self._service()
        self.stop_server(server, signal.SIGINT)
        self._assert_settings_written(server)

    def test_service_that_cannot_listen_ends_with_status_1(self):
        # systemd must see that the service does not serve.
        server = self.server(args=["SERVICE"], settings={"FTP Settings": {"FTPBindToIP": "99"}}, start=False)
        self.assertEqual(server.run_to_end(timeout=15.0), 1)
        self.assertIn("there is no local address number 99 (FTPBindToIP)", server.stderr_text())

    def test_repeated_stop_requests_unload_once(self):
        server = self._service()
        server.send_signal(signal.SIGTERM)
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(), 0)
        self._assert_settings_written(server)


def _pam_tests_wanted():
    if os.geteuid() != 0:
        return False
    return bool(os.environ.get("CI")) or os.environ.get("VELTO_PAM_TESTS") == "1"


@unittest.skipUnless(_pam_tests_wanted(), "needs root and CI or VELTO_PAM_TESTS=1")
class PamLogonTest(VeltoTestCase):
    """Log-on with a throw-away system account through the "velto" PAM service."""

    PAM_FILE = Path("/etc/pam.d/velto")
    FILE_PASSWORD = "n0tTheSystemPw"

    @classmethod
    def setUpClass(cls):
        for tool in ("useradd", "chpasswd", "userdel"):
            if shutil.which(tool) is None:
                raise unittest.SkipTest(f"{tool} not available")
        if not cls.PAM_FILE.parent.is_dir():
            raise unittest.SkipTest("no /etc/pam.d")
        cls.saved_pam_file = cls.PAM_FILE.read_bytes() if cls.PAM_FILE.exists() else None
        cls.PAM_FILE.write_text("auth    required pam_unix.so\naccount required pam_unix.so\n")
        cls.account = f"veltopam{random.randrange(10**6):06d}"
        cls.account_created = False
        cls.password = f"Pam-{random.randrange(16**8):08x}"
        try:
            subprocess.run(["useradd", "-M", "-s", "/usr/sbin/nologin", cls.account],
                           check=True, capture_output=True, timeout=30)
            cls.account_created = True
            subprocess.run(["chpasswd"], input=f"{cls.account}:{cls.password}\n".encode(),
                           check=True, capture_output=True, timeout=30)
        except BaseException:
            cls._remove_account_and_pam_file()
            raise

    @classmethod
    def tearDownClass(cls):
        cls._remove_account_and_pam_file()

    @classmethod
    def _remove_account_and_pam_file(cls):
        if cls.account_created:
            subprocess.run(["userdel", cls.account], capture_output=True, timeout=30)
            cls.account_created = False
        if cls.saved_pam_file is None:
            cls.PAM_FILE.unlink(missing_ok=True)
        else:
            cls.PAM_FILE.write_bytes(cls.saved_pam_file)

    def _server(self, args, users):
        return self.server(args=args, users=users,
                           settings={"FTP Settings": {"UseNTAuthentication": "True",
                                                      "BannerWelcome": "System account."}})

    def test_service_checks_the_system_password_not_the_user_file(self):
        server = self._server(["SERVICE"], [{"UserID": self.account, "Password": self.FILE_PASSWORD}])
        client = self.track(server.client())
        self.assertEqual(client.cmd("USER " + self.account), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS " + self.FILE_PASSWORD), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PASS " + self.password), "230 System account.\r\n")
        self.assertEqual(client.cmd("NOOP"), REPLY_OK)

    def test_normal_run_checks_the_user_file_not_the_system_password(self):
        server = self._server([], [{"UserID": self.account, "Password": self.FILE_PASSWORD}])
        client = self.track(server.client())
        self.assertEqual(client.cmd("USER " + self.account), REPLY_NEED_PASSWORD)
        self.assertEqual(client.cmd("PASS " + self.password), REPLY_NOT_LOGGED_ON)
        self.assertEqual(client.cmd("PASS " + self.FILE_PASSWORD), "230 System account.\r\n")

    def test_system_account_without_user_file_entry_is_not_logged_on(self):
        # Rights and the concurrent-log-on rule come from the user file, so a
        # name the operating system accepts still needs an entry there.
        server = self._server(["SERVICE"], [ALICE])
        client = self.track(server.client())
        self.assertEqual(client.cmd("USER " + self.account), REPLY_NEED_PASSWORD)
        reply = client.cmd("PASS " + self.password)
        self.assertFalse(reply.startswith("230"), f"logged on without a user file entry: {reply!r}")
        self.assertEqual(client.cmd("PWD"), REPLY_NOT_LOGGED_ON)
        with server.client() as other:
            self.assertEqual(other.cmd("USER alice"), REPLY_NEED_PASSWORD)

    def test_wrong_system_password_is_refused(self):
        server = self._server(["SERVICE"], [{"UserID": self.account, "Password": self.FILE_PASSWORD}])
        client = self.track(server.client())
        client.cmd("USER " + self.account)
        self.assertEqual(client.cmd("PASS " + self.password + "x"), REPLY_NOT_LOGGED_ON)


if __name__ == "__main__":
    unittest.main()
