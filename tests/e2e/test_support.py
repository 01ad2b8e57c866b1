"""tovipos_print.exe under Wine with the recording device libraries: the shared support cases (bytes
each command sends, every message box with caption and exact text, exit codes, library binding and
the update hand-off), and the hand-off to a client that is still ending."""

import os
import sys
import time
import unittest

from wineenv import WineTestCase, winpath

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from support_cases import CAPTION, SupportCases  # noqa: E402
from testfiles import read  # noqa: E402


class SupportTest(SupportCases, WineTestCase):
    CLIENT = "tovipos.exe"
    NOT_FOUND = r"\S[^\n]*"
    STDERR_SHOWS_MESSAGES = False

    def setUp(self):
        self.dir = self.folder_with("support", "tovipos_print.exe", "fakes/winprint.dll", "fakes/api_com.dll")
        self.exe = os.path.join(self.dir, "tovipos_print.exe")
        self.log = os.path.join(self.dir, "calls.txt")
        self.FAKES = os.path.join(self.bin, "fakes")

    def launch(self, args, env, cwd, box):
        running = self.wine.spawn(self.exe, args, cwd=cwd, env=env)
        shown = self.wine.box_while(running)
        result = running.wait(60)
        if shown and shown[0] != CAPTION:  # no caption given: the system's default
            shown = None, shown[1].rstrip("\r\n")
        return result.rc, shown, result.stderr.decode("utf-8", "replace")

    def host_path(self, path):
        return winpath(path)

    def lib(self, name):
        return name + ".dll"

    def started(self, path):
        return r"started .*\\tovipos\.exe show=0"  # hidden

    def wait_for_marker(self, folder, timeout=15):
        """The stand-in client's start lines once no program runs in folder, where the support
        program starts it: a late start, or a second one, has shown by then."""
        self.wine.wait_ended(folder, timeout)
        marker = os.path.join(folder, "standin_started.txt")
        return read(marker).decode("utf-8").splitlines() if os.path.exists(marker) else []

    # --- Windows only: a client that holds its file while it ends ---------------------------

    def hold(self, seconds):
        """Keeps tovipos.exe open without sharing, as a client that is still ending does."""
        self.copy_to(self.dir, "fakes/file_holder.exe")
        holder = self.wine.spawn(os.path.join(self.dir, "file_holder.exe"),
                                 [winpath(os.path.join(self.dir, "tovipos.exe")), str(int(seconds * 1000))],
                                 cwd=self.dir)
        held = os.path.join(self.dir, "tovipos.exe.held")
        deadline = time.time() + 20
        while time.time() < deadline and not os.path.exists(held):
            time.sleep(0.05)
        self.assertTrue(os.path.exists(held), "the holder did not start")
        return holder

    def test_update_waits_for_a_client_that_is_still_ending(self):
        self.prepare_update()
        holder = self.hold(2.5)
        rc, box, calls = self.support("update", box=False)
        self.assertEqual(holder.wait(30).rc, 0)
        self.assertEqual((rc, box), (0, None))
        self.assertSwapped()
        self.assertEqual(len(self.wait_for_marker(self.dir)), 1)

    def test_update_reports_a_client_that_never_ends(self):
        self.prepare_update()
        holder = self.hold(20)
        rc, box, calls = self.support("update")
        holder.kill()
        self.assertEqual(rc, 0)
        self.assertEqual(box[0], CAPTION)
        self.assertIn("\nAdditional info: (", box[1])
        self.assertNotSwapped()
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))


if __name__ == "__main__":
    unittest.main()
