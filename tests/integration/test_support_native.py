"""The Linux support program with the recording device libraries: the shared support cases, and
what only Linux can show.

Each test copies the program and the fakes it wants into a fresh folder (never the real device
libraries of bin/) and runs the program there with no desktop, so every message is one line on
standard error: "系统提示: " + text, a line break inside the text written as the two characters \\n.
"""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from support_cases import CAPTION, SupportCases  # noqa: E402

BIN = os.environ.get("TOVI_BIN", "")
PROGRAM = os.path.join(BIN, "tovipos_print")


def shown_on_stderr(err):
    """A message's one line as (caption, text); the raw text if it is not exactly one line."""
    if not err:
        return None
    if err.count("\n") != 1 or not err.endswith("\n"):
        return err
    line = err[:-1].replace("\\n", "\n")
    if line.startswith(CAPTION + ": "):
        return CAPTION, line[len(CAPTION) + 2:]
    return None, line


class SupportProgramTest(SupportCases, unittest.TestCase):
    CLIENT = "tovipos"
    FAKES = os.path.join(BIN, "fakes")
    NOT_FOUND = "No such file or directory"
    STDERR_SHOWS_MESSAGES = True

    def setUp(self):
        self.assertTrue(os.path.exists(PROGRAM), "build the native preset first (TOVI_BIN=%r)" % BIN)
        self.dir = tempfile.mkdtemp(prefix="tovi-support-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        shutil.copy2(PROGRAM, self.dir)
        self.program = os.path.join(self.dir, "tovipos_print")
        for lib in ("winprint", "api_com"):
            shutil.copy2(os.path.join(self.FAKES, self.lib(lib)), self.dir)
        self.log = os.path.join(self.dir, "calls.txt")

    def launch(self, args, env, cwd, box):
        env = dict({k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}, **env)
        r = subprocess.run([self.program] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=30)
        err = r.stderr.decode("utf-8")
        return r.returncode, shown_on_stderr(err), err

    def host_path(self, path):
        return path

    def lib(self, name):
        return "lib%s.so" % name

    def started(self, path):
        return "started %s show=-1" % re.escape(path)

    # --- Linux only -----------------------------------------------------------------------

    def test_update_sets_the_execute_bit(self):
        self.prepare_update()
        self.assertEqual(self.support("update"), (0, None, []))
        self.assertTrue(os.stat(os.path.join(self.dir, "tovipos")).st_mode & stat.S_IXUSR)

    def test_wrong_format_library(self):
        self.put("libapi_com.so", b"\x7fELF\x01\x01\x01" + b"\0" * 100)
        self.assertEqual(self.support("opencash", "USB"), (
            1, (None, "could not load: libapi_com.so\n(bad format; library may be wrong architecture)"), []))

    def test_update_from_another_current_folder(self):
        # The move works on the program's folder; the client is started by bare name from the
        # current folder.
        shutil.copyfile(self.standin(), os.path.join(self.dir, "tovipos.exe.txt"))
        cwd = tempfile.mkdtemp(prefix="tovi-cwd-")
        self.addCleanup(shutil.rmtree, cwd, True)
        shutil.copy2(self.standin(), cwd)
        rc, shown, calls = self.support("update", cwd=cwd)
        self.assertEqual((rc, shown), (0, None))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos")))
        self.assertFalse(os.path.exists(os.path.join(cwd, "tovipos.exe.txt")))
        self.assertEqual(self.wait_for_marker(cwd), ["started " + os.path.join(cwd, "tovipos") + " show=-1"])


if __name__ == "__main__":
    unittest.main()
