"""The Linux support program with the recording device libraries: bytes, messages, exit codes.

Each test copies the program and the fakes it wants into a fresh folder (never the real device
libraries of bin/) and runs the program there with no desktop, so every message is one line on
standard error: "系统提示: " + text, a line break inside the text written as the two characters \\n.
"""

import os
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("TOVI_BIN", "")
FAKES = os.path.join(BIN, "fakes")
PROGRAM = os.path.join(BIN, "tovipos_print")

RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])
WRONG = "\\n调用参数不正确"


def read_log(path):
    """Record lines as tuples, hex fields decoded to bytes."""
    if not os.path.exists(path):
        return []
    calls = []
    with open(path, "rb") as f:
        for line in f.read().decode("ascii").splitlines():
            parts = line.split(" ")
            unhex = lambda h: b"" if h == "-" else bytes.fromhex(h)
            name = parts[0]
            if name == "winPrint":
                calls.append((name, unhex(parts[1])))
            elif name == "winWriteFile":
                calls.append((name, unhex(parts[1]), int(parts[2]), unhex(parts[3])))
            elif name == "com_init":
                calls.append((name, int(parts[1]), int(parts[2])))
            elif name == "com_send":
                calls.append((name, int(parts[1]), unhex(parts[2])))
            else:
                calls.append((name,))
    return calls


class SupportProgramTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.exists(PROGRAM), "build the native preset first (TOVI_BIN=%r)" % BIN)
        self.dir = tempfile.mkdtemp(prefix="tovi-support-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        shutil.copy2(PROGRAM, self.dir)
        self.program = os.path.join(self.dir, "tovipos_print")
        for lib in ("libwinprint.so", "libapi_com.so"):
            shutil.copy2(os.path.join(FAKES, lib), self.dir)
        self.log = os.path.join(self.dir, "calls.txt")

    def run_support(self, *args, fail="", cwd=None, timeout=30):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["TOVI_FAKE_LOG"] = self.log
        env["TOVI_FAKE_FAIL"] = fail
        r = subprocess.run([self.program] + list(args), cwd=cwd or self.dir, env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=timeout)
        return r.returncode, r.stderr.decode("utf-8"), read_log(self.log)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assertMessage(self, stderr, text):
        self.assertEqual(stderr, "系统提示: " + text + "\n")

    # --- receipts -----------------------------------------------------------------------

    def test_receipts(self):
        job = b"\xd6\xd0\xce\xc4 12.50\r\nB\r\n"
        cases = [
            # args after the job file, expected call
            (["USB", "TRUE", "TRUE", "3"], ("winPrint", RESET + PULSE + b"\xd6\xd0\xce\xc4 12.50\nB\n\n" + b"\n" * 3 + CUT)),
            (["usb", "false", "true", "0"], ("winPrint", RESET + b"\xd6\xd0\xce\xc4 12.50\nB\n\n" + CUT)),
            (["lpt1", "true", "no", "-0"], ("winWriteFile", b"LPT1", RESET + PULSE + b"\xd6\xd0\xce\xc4 12.50\nB\n\n")),
            (["COM2", "x", "TRUE", "1_0"],
             ("winWriteFile", b"COM2", RESET + b"\xd6\xd0\xce\xc4 12.50\nB\n\n" + b"\n" * 10 + CUT)),
        ]
        self.write("PrintOut1.txt", job)
        for rest, expected in cases:
            if expected[0] == "winWriteFile":  # the count passed is the buffer's length
                expected = (expected[0], expected[1], len(expected[2]), expected[2])
            with self.subTest(rest=rest):
                if os.path.exists(self.log):
                    os.unlink(self.log)
                rc, err, calls = self.run_support("print", "PrintOut1.txt", *rest)
                self.assertEqual((rc, err), (0, ""))
                self.assertEqual(calls, [expected])
        with open(os.path.join(self.dir, "PrintOut1.txt"), "rb") as f:
            self.assertEqual(f.read(), job, "the job file is left as it was")

    def test_job_path_with_blanks_and_empty_file(self):
        os.mkdir(os.path.join(self.dir, "sub dir"))
        self.write("sub dir/empty job.txt", b"")
        rc, err, calls = self.run_support("PRINT", os.path.join(self.dir, "sub dir", "empty job.txt"), "USB", "F", "F", "0")
        self.assertEqual((rc, err, calls), (0, "", [("winPrint", RESET + b"\n")]))

    def test_print_failures(self):
        self.write("job.txt", b"A")
        os.mkdir(os.path.join(self.dir, "folder.txt"))
        cases = [
            (["print", "missing.txt", "USB", "TRUE", "TRUE", "3"], "", 0, "系统提示: 打印小票出错\n", []),
            (["print", "folder.txt", "USB", "TRUE", "TRUE", "3"], "", 0, "系统提示: 打印小票出错\n", []),
            (["print", "job.txt", "USB", "F", "F", "0"], "winPrint", 0, "系统提示: 打印小票出错\n",
             [("winPrint", RESET + b"A\n")]),
            (["print", "job.txt", "LPT1", "F", "F", "0"], "winWriteFile", 0, "系统提示: 打印小票出错\n",
             [("winWriteFile", b"LPT1", 4, RESET + b"A\n")]),
            (["print", "job.txt", "USB", "TRUE", "TRUE", "three"], "", 1,
             'Error: unhandled exception: invalid literal for int(): "three" [ValueError]\n', []),
            (["print", "job.txt", "USB", "TRUE", "TRUE", "2147483648"], "", 1,
             'Error: unhandled exception: invalid literal for int(): "2147483648" [ValueError]\n', []),
        ]
        for args, fail, code, stderr, expected in cases:
            with self.subTest(args=args, fail=fail):
                if os.path.exists(self.log):
                    os.unlink(self.log)
                rc, err, calls = self.run_support(*args, fail=fail)
                self.assertEqual((rc, err, calls), (code, stderr, expected))

    # --- drawer and display ---------------------------------------------------------------

    def test_drawer(self):
        cases = [
            ("usb", "", [("winPrint", RESET + PULSE)], ""),
            ("com1", "", [("winWriteFile", b"COM1", 7, RESET + PULSE)], ""),
            ("USB", "winPrint", [("winPrint", RESET + PULSE)], "系统提示: 打开钱箱出错\n"),
        ]
        for printer, fail, expected, stderr in cases:
            with self.subTest(printer=printer, fail=fail):
                if os.path.exists(self.log):
                    os.unlink(self.log)
                rc, err, calls = self.run_support("opencash", printer, fail=fail)
                self.assertEqual((rc, err, calls), (0, stderr, expected))

    def test_display(self):
        amount = b"\x1bs2\x1bQA12.50\r"
        open_failed = "顾客显示屏COM3打开出错\\n请检查顾客显示屏接口设置是否正确"
        cases = [
            (["2", "12.50", "COM3", "2400"], "", 0, "",
             [("com_init", 3, 2400), ("com_send", len(amount), amount), ("com_rest",)]),
            (["5", "12.50", "COM12", "9600"], "", 0, "", [("com_init", 1, 9600), ("com_send", 1, b"\x0c"), ("com_rest",)]),
            (["2", "1", "COM", "2400"], "", 0, "系统提示: COM端口写法不对\n", []),
            (["2", "12.50", "COM3", "2400"], "com_init", 0, "系统提示: " + open_failed + "\n", [("com_init", 3, 2400)]),
            (["2", "12.50", "COM3", "2400"], "com_send", 0, "系统提示: 顾客显示屏发送失败\n",
             [("com_init", 3, 2400), ("com_send", len(amount), amount)]),
            (["2", "1", "COMX", "2400"], "", 1, 'Error: unhandled exception: invalid literal for int(): "X" [ValueError]\n', []),
            (["2", "1", "COM3", "fast"], "", 1,
             'Error: unhandled exception: invalid literal for int(): "fast" [ValueError]\n', []),
        ]
        for args, fail, code, stderr, expected in cases:
            with self.subTest(args=args, fail=fail):
                if os.path.exists(self.log):
                    os.unlink(self.log)
                rc, err, calls = self.run_support("display", *args, fail=fail)
                self.assertEqual((rc, err, calls), (code, stderr, expected))

    # --- dispatcher -----------------------------------------------------------------------

    def test_dispatch_messages(self):
        cases = [
            ([], "调用参数不能为空"),
            (["PRINT", "a", "b", "c", "d"], "您的调用命令是:PRINT" + WRONG),
            (["printx", "a", "b", "c", "d", "e"], "您的调用命令是:PRINTX" + WRONG),
            (["hello"], "您的调用命令是:HELLO" + WRONG),
            (["display", "5", "1", "COM3"], "您的调用命令是:DISPLAY" + WRONG),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                rc, err, calls = self.run_support(*args)
                self.assertEqual(rc, 0)
                self.assertMessage(err, text)
                self.assertEqual(calls, [])

    # --- binding --------------------------------------------------------------------------

    def test_missing_library_stops_every_command(self):
        os.unlink(os.path.join(self.dir, "libwinprint.so"))
        self.write("tovipos.exe.txt", b"new client")
        for args in (["update"], ["opencash", "USB"], []):
            with self.subTest(args=args):
                rc, err, calls = self.run_support(*args, timeout=30)
                self.assertEqual((rc, err, calls), (1, "could not load: libwinprint.so\n", []))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")), "nothing was moved")

    def test_wrong_format_library(self):
        self.write("libapi_com.so", b"\x7fELF\x01\x01\x01" + b"\0" * 100)
        rc, err, calls = self.run_support("opencash", "USB")
        self.assertEqual(rc, 1)
        self.assertEqual(err, "could not load: libapi_com.so\\n(bad format; library may be wrong architecture)\n")
        self.assertEqual(calls, [])

    def test_missing_function(self):
        # A printing library where the serial library should be: com_init is nowhere.
        shutil.copy2(os.path.join(FAKES, "libwinprint.so"), os.path.join(self.dir, "libapi_com.so"))
        rc, err, calls = self.run_support("opencash", "USB")
        self.assertEqual((rc, err, calls), (1, "could not import: com_init\n", []))

    def test_own_folder_is_searched_first(self):
        # Started from another folder, the program still finds the libraries beside itself.
        other = tempfile.mkdtemp(prefix="tovi-cwd-")
        self.addCleanup(shutil.rmtree, other, True)
        rc, err, calls = self.run_support("opencash", "USB", cwd=other)
        self.assertEqual((rc, err, calls), (0, "", [("winPrint", RESET + PULSE)]))

    def test_decorated_only_library(self):
        decorated = os.path.join(FAKES, "decorated", "libapi_com.so")
        if not os.path.exists(decorated):
            self.skipTest("no decorated-only Linux library in this build")
        shutil.copy2(decorated, self.dir)
        rc, err, calls = self.run_support("display", "5", "0", "COM3", "2400")
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(calls, [("com_init", 3, 2400), ("com_send", 1, b"\x0c"), ("com_rest",)])

    # --- update ---------------------------------------------------------------------------

    def test_update_swaps_and_starts_the_client(self):
        standin = os.path.join(FAKES, "standin", "tovipos")
        shutil.copyfile(standin, os.path.join(self.dir, "tovipos.exe.txt"))  # no execute bit, as downloaded
        self.write("tovipos", b"old client")
        rc, err, calls = self.run_support("update", cwd=self.dir)
        self.assertEqual((rc, err, calls), (0, "", []))
        target = os.path.join(self.dir, "tovipos")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))
        with open(target, "rb") as f, open(standin, "rb") as g:
            self.assertEqual(f.read(), g.read())
        self.assertTrue(os.stat(target).st_mode & stat.S_IXUSR)
        self.assertEqual(self.wait_for_marker(self.dir), ["started " + target + " show=-1"])

    def wait_for_marker(self, folder):
        marker = os.path.join(folder, "standin_started.txt")
        deadline = time.time() + 10
        while time.time() < deadline and not os.path.exists(marker):
            time.sleep(0.05)
        time.sleep(0.2)  # a second start would show as a second line
        with open(marker) as f:
            return f.read().splitlines()

    def test_update_from_another_current_folder(self):
        # The move works on the program's folder; the client is started by bare name from the
        # current folder.
        standin = os.path.join(FAKES, "standin", "tovipos")
        shutil.copyfile(standin, os.path.join(self.dir, "tovipos.exe.txt"))
        cwd = tempfile.mkdtemp(prefix="tovi-cwd-")
        self.addCleanup(shutil.rmtree, cwd, True)
        shutil.copy2(standin, cwd)
        rc, err, calls = self.run_support("update", cwd=cwd)
        self.assertEqual((rc, err), (0, ""))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos")))
        self.assertFalse(os.path.exists(os.path.join(cwd, "tovipos.exe.txt")))
        self.assertEqual(self.wait_for_marker(cwd), ["started " + os.path.join(cwd, "tovipos") + " show=-1"])

    def test_update_without_new_client(self):
        self.write("tovipos", b"old client")
        rc, err, calls = self.run_support("UPDATE")
        self.assertEqual(rc, 0)
        src = os.path.join(self.dir, "tovipos.exe.txt")
        dst = os.path.join(self.dir, "tovipos")
        self.assertMessage(err, 'No such file or directory\\nAdditional info: ("%s", "%s")' % (src, dst))
        with open(dst, "rb") as f:
            self.assertEqual(f.read(), b"old client")
        time.sleep(0.3)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "standin_started.txt")))


if __name__ == "__main__":
    unittest.main()
