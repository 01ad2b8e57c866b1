"""tovipos_print.exe under Wine with the recording device libraries: the bytes each command sends,
every message box (caption and exact text), exit codes, library binding and the update hand-off."""

import os
import re
import shutil
import time
import unittest

from wineenv import WineTestCase

RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])
CAPTION = "系统提示"
WRONG = "\n调用参数不正确"
I686 = os.environ.get("TOVI_ARCH", "x86_64").lower() in ("i686", "i386", "x86")


def dos_path(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_log(path):
    if not os.path.exists(path):
        return []
    unhex = lambda h: b"" if h == "-" else bytes.fromhex(h)
    calls = []
    with open(path, "rb") as f:
        for line in f.read().decode("ascii").splitlines():
            p = line.split(" ")
            if p[0] == "winPrint":
                calls.append((p[0], unhex(p[1])))
            elif p[0] == "winWriteFile":
                calls.append((p[0], unhex(p[1]), int(p[2]), unhex(p[3])))
            elif p[0] == "com_init":
                calls.append((p[0], int(p[1]), int(p[2])))
            elif p[0] == "com_send":
                calls.append((p[0], int(p[1]), unhex(p[2])))
            else:
                calls.append((p[0],))
    return calls


class SupportTest(WineTestCase):
    def setUp(self):
        self.dir = self.wine.tmpdir("support")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.copy_to(self.dir, "tovipos_print.exe", "fakes/winprint.dll", "fakes/api_com.dll")
        self.exe = os.path.join(self.dir, "tovipos_print.exe")
        self.log = os.path.join(self.dir, "calls.txt")

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def support(self, *args, fail="", cwd=None, box=True, timeout=60):
        """Runs the program; returns (exit code, (caption, text) of its box or None, calls)."""
        if os.path.exists(self.log):
            os.unlink(self.log)
        env = {"TOVI_FAKE_LOG": dos_path(self.log), "TOVI_FAKE_FAIL": fail}
        running = self.wine.spawn(self.exe, list(args), cwd=cwd or self.dir, env=env)
        shown = self.wine.message_box(timeout=15 if box else 0.5)
        result = running.wait(timeout)
        return result.rc, shown, read_log(self.log)

    # --- receipts -----------------------------------------------------------------------

    def test_receipts(self):
        job = b"\xd6\xd0\xce\xc4 12.50\r\nB\r\n"
        text = b"\xd6\xd0\xce\xc4 12.50\nB\n\n"
        self.write("PrintOut1.txt", job)
        cases = [
            (["USB", "TRUE", "TRUE", "3"], ("winPrint", RESET + PULSE + text + b"\n" * 3 + CUT)),
            (["usb", "false", "true", "0"], ("winPrint", RESET + text + CUT)),
            (["lpt1", "True", "no", "-0"], ("winWriteFile", b"LPT1", RESET + PULSE + text)),
            (["COM2", "x", "TRUE", "1_0"], ("winWriteFile", b"COM2", RESET + text + b"\n" * 10 + CUT)),
        ]
        for rest, expected in cases:
            with self.subTest(rest=rest):
                if expected[0] == "winWriteFile":
                    expected = (expected[0], expected[1], len(expected[2]), expected[2])
                rc, box, calls = self.support("print", "PrintOut1.txt", *rest, box=False)
                self.assertEqual((rc, box, calls), (0, None, [expected]))
        with open(os.path.join(self.dir, "PrintOut1.txt"), "rb") as f:
            self.assertEqual(f.read(), job)

    def test_job_path_with_blanks(self):
        os.mkdir(os.path.join(self.dir, "sub dir"))
        self.write("sub dir/RiJie.txt", b"")
        rc, box, calls = self.support("print", "sub dir\\RiJie.txt", "USB", "F", "F", "0", box=False)
        self.assertEqual((rc, box, calls), (0, None, [("winPrint", RESET + b"\n")]))

    def test_print_failures(self):
        self.write("job.txt", b"A")
        os.mkdir(os.path.join(self.dir, "folder.txt"))
        failed = (CAPTION, "打印小票出错")
        cases = [
            (["missing.txt", "USB", "TRUE", "TRUE", "3"], "", 0, failed, []),
            (["folder.txt", "USB", "TRUE", "TRUE", "3"], "", 0, failed, []),
            (["job.txt", "USB", "F", "F", "0"], "winPrint", 0, failed, [("winPrint", RESET + b"A\n")]),
            (["job.txt", "LPT1", "F", "F", "0"], "winWriteFile", 0, failed,
             [("winWriteFile", b"LPT1", 4, RESET + b"A\n")]),
            # Feed lines outside 0..255: a wrong call, nothing sent.
            (["job.txt", "USB", "TRUE", "F", "-1"], "", 0, (CAPTION, "您的调用命令是:PRINT\n调用参数不正确"), []),
            (["job.txt", "USB", "TRUE", "F", "256"], "", 0, (CAPTION, "您的调用命令是:PRINT\n调用参数不正确"), []),
        ]
        for args, fail, code, shown, expected in cases:
            with self.subTest(args=args, fail=fail):
                self.assertEqual(self.support("print", *args, fail=fail), (code, shown, expected))

    def test_bad_number_is_the_unhandled_error_report(self):
        self.write("job.txt", b"A")
        cases = [
            ["print", "job.txt", "USB", "TRUE", "TRUE", "three"],
            ["display", "2", "1", "COMX", "2400"],
            ["display", "2", "1", "COM3", "fast"],
        ]
        bad = {"three": "three", "COMX": "X", "fast": "fast"}
        for args in cases:
            with self.subTest(args=args):
                word = next(bad[a] for a in args if a in bad)
                rc, box, calls = self.support(*args)
                self.assertEqual(rc, 1)
                self.assertEqual(calls, [])
                self.assertIsNotNone(box)
                self.assertNotEqual(box[0], CAPTION)  # no caption given: the system's default
                self.assertEqual(box[1].rstrip("\r\n"),
                                 'Error: unhandled exception: invalid literal for int(): "%s" [ValueError]' % word)

    # --- drawer and display ---------------------------------------------------------------

    def test_drawer(self):
        cases = [
            ("usb", "", [("winPrint", RESET + PULSE)], None),
            ("com1", "", [("winWriteFile", b"COM1", 7, RESET + PULSE)], None),
            ("USB", "winPrint", [("winPrint", RESET + PULSE)], (CAPTION, "打开钱箱出错")),
        ]
        for printer, fail, expected, shown in cases:
            with self.subTest(printer=printer, fail=fail):
                self.assertEqual(self.support("opencash", printer, fail=fail, box=shown is not None),
                                 (0, shown, expected))

    def test_display(self):
        amount = b"\x1bs2\x1bQA12.50\r"
        cases = [
            (["2", "12.50", "COM3", "2400"], "", None,
             [("com_init", 3, 2400), ("com_send", len(amount), amount), ("com_rest",)]),
            (["5", "12.50", "COM12", "9600"], "", None,
             [("com_init", 1, 9600), ("com_send", 1, b"\x0c"), ("com_rest",)]),
            (["2", "1", "COM", "2400"], "", (CAPTION, "COM端口写法不对"), []),
            (["2", "12.50", "COM3", "2400"], "com_init",
             (CAPTION, "顾客显示屏COM3打开出错\n请检查顾客显示屏接口设置是否正确"), [("com_init", 3, 2400)]),
            (["2", "12.50", "COM3", "2400"], "com_send", (CAPTION, "顾客显示屏发送失败"),
             [("com_init", 3, 2400), ("com_send", len(amount), amount)]),
        ]
        for args, fail, shown, expected in cases:
            with self.subTest(args=args, fail=fail):
                self.assertEqual(self.support("display", *args, fail=fail, box=shown is not None),
                                 (0, shown, expected))

    # --- dispatcher -----------------------------------------------------------------------

    def test_dispatch_messages(self):
        cases = [
            ([], "调用参数不能为空"),
            (["PRINT", "a", "b", "c", "d"], "您的调用命令是:PRINT" + WRONG),
            (["printx", "a", "b", "c", "d", "e"], "您的调用命令是:PRINTX" + WRONG),
            (["hello"], "您的调用命令是:HELLO" + WRONG),
            (["update", "now"], "您的调用命令是:UPDATE" + WRONG),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                self.assertEqual(self.support(*args), (0, (CAPTION, text), []))

    # --- binding --------------------------------------------------------------------------

    def test_missing_library_stops_even_update(self):
        os.unlink(os.path.join(self.dir, "winprint.dll"))
        self.write("tovipos.exe.txt", b"new")
        self.write("tovipos.exe", b"old")
        rc, box, calls = self.support("update")
        self.assertEqual(rc, 1)
        self.assertNotEqual(box[0], CAPTION)
        self.assertEqual(box[1], "could not load: winprint.dll")
        with open(os.path.join(self.dir, "tovipos.exe"), "rb") as f:
            self.assertEqual(f.read(), b"old")
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))

    def test_missing_function_is_reported_on_stderr_only(self):
        shutil.copy2(os.path.join(self.bin, "fakes", "winprint.dll"), os.path.join(self.dir, "api_com.dll"))
        if os.path.exists(self.log):
            os.unlink(self.log)
        r = self.wine.run(self.exe, ["opencash", "USB"], cwd=self.dir,
                          env={"TOVI_FAKE_LOG": dos_path(self.log)})
        self.assertEqual(r.rc, 1)
        self.assertIn(b"could not import: com_init", r.stderr)
        self.assertIsNone(self.wine.message_box(timeout=0.5))
        self.assertEqual(read_log(self.log), [])

    def test_plain_and_decorated_serial_libraries(self):
        for variant in ("plain", "decorated"):
            with self.subTest(variant=variant):
                shutil.copy2(os.path.join(self.bin, "fakes", variant, "api_com.dll"), self.dir)
                rc, box, calls = self.support("display", "5", "0", "COM3", "2400", box=False)
                self.assertEqual((rc, box), (0, None))
                self.assertEqual(calls, [("com_init", 3, 2400), ("com_send", 1, b"\x0c"), ("com_rest",)])

    # --- update ---------------------------------------------------------------------------

    def standin_bytes(self):
        with open(os.path.join(self.bin, "fakes", "standin", "tovipos.exe"), "rb") as f:
            return f.read()

    def prepare_update(self):
        shutil.copyfile(os.path.join(self.bin, "fakes", "standin", "tovipos.exe"),
                        os.path.join(self.dir, "tovipos.exe.txt"))
        self.write("tovipos.exe", b"old client")

    def wait_for_marker(self, folder, timeout=15):
        marker = os.path.join(folder, "standin_started.txt")
        deadline = time.time() + timeout
        while time.time() < deadline and not os.path.exists(marker):
            time.sleep(0.1)
        if not os.path.exists(marker):
            return []
        time.sleep(0.5)  # a second start would show as a second line
        with open(marker) as f:
            return f.read().splitlines()

    def assertSwapped(self):
        self.assertFalse(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))
        with open(os.path.join(self.dir, "tovipos.exe"), "rb") as f:
            self.assertEqual(f.read(), self.standin_bytes())

    def test_update_swaps_and_starts_the_client_hidden(self):
        self.prepare_update()
        rc, box, calls = self.support("update", box=False)
        self.assertEqual((rc, box, calls), (0, None, []))
        self.assertSwapped()
        lines = self.wait_for_marker(self.dir)
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^started .*\\tovipos\.exe show=0$")

    def test_update_without_new_client(self):
        self.write("tovipos.exe", b"old client")
        rc, box, calls = self.support("UPDATE")
        self.assertEqual(rc, 0)
        self.assertEqual(box[0], CAPTION)
        folder = re.escape(dos_path(self.dir).replace("\\", "\\\\"))
        pattern = (r'^\S.*\n?Additional info: \("%s\\\\tovipos\.exe\.txt", "%s\\\\tovipos\.exe"\)$'
                   % (folder, folder))
        self.assertRegex(box[1], pattern)
        self.assertNotIn("Additional info", box[1].split("\n")[0])
        with open(os.path.join(self.dir, "tovipos.exe"), "rb") as f:
            self.assertEqual(f.read(), b"old client")
        self.assertEqual(self.wait_for_marker(self.dir, timeout=1), [])

    def hold(self, seconds):
        """Keeps tovipos.exe open without sharing, as a client that is still ending does."""
        self.copy_to(self.dir, "fakes/file_holder.exe")
        holder = self.wine.spawn(os.path.join(self.dir, "file_holder.exe"),
                                 [dos_path(os.path.join(self.dir, "tovipos.exe")), str(int(seconds * 1000))],
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
        rc, box, calls = self.support("update", timeout=60)
        holder.kill()
        self.assertEqual(rc, 0)
        self.assertEqual(box[0], CAPTION)
        self.assertIn("\nAdditional info: (", box[1])
        with open(os.path.join(self.dir, "tovipos.exe"), "rb") as f:
            self.assertEqual(f.read(), b"old client")
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))
        self.assertEqual(self.wait_for_marker(self.dir, timeout=1), [])


if __name__ == "__main__":
    unittest.main()
