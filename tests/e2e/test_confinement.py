"""Confinement the kernel keeps: a folder swapped for a link to the outside
while a confined client works never hands it a byte or a name from there;
links that lead out show their own facts; uploads that fail leave the old
file (atomic uploads); STOU never hands two sessions one name; MFMT says
what was stored."""

import os
import threading
import time
import unittest

from velto_harness import VeltoTestCase, passive_transfer

CAROL = {"UserID": "carol", "Password": "secret", "LimitToDefaultDirectory": True,
         "AllowConcurrentLogons": True, "WriteAccess": True}


class ConfinedCase(VeltoTestCase):
    settings = None

    def setUp(self):
        super().setUp()
        self.home = self.temp_dir()
        self.outside = self.temp_dir()
        self.srv = self.server(users=[dict(CAROL, DefaultDirectory=f"{self.home}/")], settings=self.settings)

    def client(self):
        return self.track(self.srv.logged_on_client("carol", "secret"))

    def transfer(self, client, command, upload=None, reset_after=None):
        return passive_transfer(self, client, command, upload, reset_after)


class SwappedFolderTest(ConfinedCase):
    def test_a_folder_swapped_for_an_outside_link_never_leaks(self):
        (self.home / "d").mkdir()
        (self.home / "d" / "f").write_bytes(b"inside")
        (self.outside / "f").write_bytes(b"OUTSIDE")
        (self.outside / "secretname").write_bytes(b"OUTSIDE")
        stop = threading.Event()

        def swap():
            while not stop.is_set():
                os.rename(self.home / "d", self.home / "d.real")
                os.symlink(self.outside, self.home / "d")
                os.unlink(self.home / "d")
                os.rename(self.home / "d.real", self.home / "d")

        swapper = threading.Thread(target=swap)
        swapper.start()
        self.addCleanup(swapper.join)
        self.addCleanup(stop.set)
        client = self.client()
        seen = b""
        deadline = time.monotonic() + 4
        rounds = 0
        while time.monotonic() < deadline and rounds < 400:
            rounds += 1
            for command in ("RETR d/f", "LIST d", "NLST d", "MLSD d"):
                seen += self.transfer(client, command)[1]
            seen += client.cmd("SIZE d/f").encode() + client.cmd("STAT d").encode()
        stop.set()
        self.assertNotIn(b"OUTSIDE", seen)
        self.assertNotIn(b"secretname", seen)
        self.assertIn(b"inside", seen)

    def test_links_that_lead_out_show_their_own_facts(self):
        big = self.outside / "big"
        big.write_bytes(b"x" * 123457)
        os.symlink(big, self.home / "link")
        os.symlink("inner", self.home / "near")
        (self.home / "inner").write_bytes(b"12345")
        (self.home / "bad\r\nname").write_bytes(b"")
        client = self.client()
        listed = self.transfer(client, "MLSD")[1].decode() + self.transfer(client, "LIST")[1].decode()
        self.assertNotIn("123457", listed)
        self.assertNotIn(str(os.stat(big).st_ino), listed)
        self.assertIn("size=5;", listed)  # a link that stays inside shows its target
        self.assertNotIn("bad", listed)


class AtomicUploadTest(ConfinedCase):
    settings = {"FTP Settings": {"AtomicUploads": "True"}}

    def test_a_cut_upload_leaves_the_old_file_and_a_complete_one_replaces_it(self):
        (self.home / "keep.txt").write_bytes(b"old")
        client = self.client()
        reply, _ = self.transfer(client, "STOR keep.txt", upload=b"new" * 100000, reset_after=0.5)
        self.assertRegex(reply, r"^4\d\d ")
        self.assertEqual((self.home / "keep.txt").read_bytes(), b"old")
        self.assertEqual(sorted(os.listdir(self.home)), ["keep.txt"])
        self.assertEqual(self.transfer(client, "STOR keep.txt", upload=b"new")[0], "226 Transfer completed.\r\n")
        self.assertEqual((self.home / "keep.txt").read_bytes(), b"new")
        self.assertEqual(sorted(os.listdir(self.home)), ["keep.txt"])


class NamesAndTimesTest(ConfinedCase):
    def test_stou_takes_its_name_at_once_and_mfmt_says_what_was_stored(self):
        first, second = self.client(), self.client()
        first.cmd("PASV")
        second.cmd("PASV")
        self.assertEqual(first.cmd("STOU same"), "150 FILE: same\r\n")
        self.assertEqual(second.cmd("STOU same"), "150 FILE: same.1\r\n")
        self.assertEqual(first.cmd("MFMT 20200102030405 same"), "213 Modify=20200102030405; same\r\n")
        # Past what the file system holds (ext4 ends in 2446): refused, and the time stays.
        reply = first.cmd("MFMT 99991231235959 same")
        if not reply.startswith("213 Modify=9999"):
            self.assertRegex(reply, r"^501 ")
            self.assertEqual(int(os.stat(self.home / "same").st_mtime), 1577934245)


if __name__ == "__main__":
    unittest.main()
