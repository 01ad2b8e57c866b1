"""The support program's cases, written once and run twice: natively (tests/integration) and under
Wine (tests/e2e). Each run mixes SupportCases into its test case and supplies what differs:

    launch(args, env, cwd, box) -> (exit code, shown, standard error text)
        shown: (CAPTION, text) for our message boxes, (None, text) for one with the system's
        default caption, None when nothing was shown; box says whether one is expected
    host_path(path)   a path as the program sees it
    lib(name)         the file name of a device library ("winprint", "api_com")
    CLIENT            the client's file name; FAKES the folder of the recording libraries
    NOT_FOUND         a pattern of the system's text for a missing file
    started(path)     a pattern of the stand-in client's start line for that program file
    STDERR_SHOWS_MESSAGES  whether a line on standard error reads as a message (native, no desktop)

setUp makes self.dir holding the program and both recording libraries; self.log is calls.txt
there, the record the libraries append to.
"""

import os
import re
import shutil
import time

from testfiles import read, write

RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])
CAPTION = "系统提示"
WRONG = "\n调用参数不正确"


def read_log(path):
    """The recording libraries' calls as tuples, hex fields decoded to bytes."""
    if not os.path.exists(path):
        return []
    unhex = lambda h: b"" if h == "-" else bytes.fromhex(h)
    calls = []
    for line in read(path).decode("ascii").splitlines():
        p = line.split(" ")
        if p[0] == "winPrint":
            calls.append((p[0], unhex(p[1])))
        elif p[0] == "winPrintBytes":
            calls.append((p[0], int(p[1]), unhex(p[2])))
        elif p[0] == "winWriteFile":
            calls.append((p[0], unhex(p[1]), int(p[2]), unhex(p[3])))
        elif p[0] == "com_init":
            calls.append((p[0], int(p[1]), int(p[2])))
        elif p[0] == "com_send":
            calls.append((p[0], int(p[1]), unhex(p[2])))
        else:
            calls.append((p[0],))
    return calls


def unhandled(word):
    return None, 'Error: unhandled exception: invalid literal for int(): "%s" [ValueError]' % word


class SupportCases:
    def support(self, *args, fail="", cwd=None, box=True):
        """Runs the program; returns (exit code, shown, calls). Its standard error is self.stderr."""
        if os.path.exists(self.log):
            os.unlink(self.log)
        env = {"TOVI_FAKE_LOG": self.host_path(self.log), "TOVI_FAKE_FAIL": fail}
        rc, shown, self.stderr = self.launch(list(args), env, cwd or self.dir, box)
        return rc, shown, read_log(self.log)

    def put(self, name, data):
        write(os.path.join(self.dir, name), data)

    def check_table(self, cases):
        """cases: (args, fail, exit code, shown, calls)."""
        for args, fail, code, shown, calls in cases:
            with self.subTest(args=args, fail=fail):
                self.assertEqual(self.support(*args, fail=fail, box=shown is not None), (code, shown, calls))

    # --- receipts -----------------------------------------------------------------------

    def test_receipts(self):
        job = b"\xd6\xd0\xce\xc4 12.50\r\nB\r\n"
        text = b"\xd6\xd0\xce\xc4 12.50\nB\n\n"
        self.put("PrintOut1.txt", job)
        port = lambda name, data: ("winWriteFile", name, len(data), data)  # the count is the buffer's length
        self.check_table([(["print", "PrintOut1.txt"] + rest, "", 0, None, [call]) for rest, call in [
            (["USB", "TRUE", "TRUE", "3"], ("winPrint", RESET + PULSE + text + b"\n" * 3 + CUT)),
            (["usb", "false", "true", "0"], ("winPrint", RESET + text + CUT)),
            (["lpt1", "True", "no", "-0"], port(b"LPT1", RESET + PULSE + text)),
            (["COM2", "x", "TRUE", "1_0"], port(b"COM2", RESET + text + b"\n" * 10 + CUT)),
        ]])
        self.assertEqual(read(os.path.join(self.dir, "PrintOut1.txt")), job, "the job file is left as it was")

    def test_job_path_with_blanks_and_empty_file(self):
        self.put("sub dir/empty job.txt", b"")
        job = self.host_path(os.path.join(self.dir, "sub dir", "empty job.txt"))
        self.assertEqual(self.support("PRINT", job, "USB", "F", "F", "0", box=False),
                         (0, None, [("winPrint", RESET + b"\n")]))

    def test_print_failures(self):
        self.put("job.txt", b"A")
        os.mkdir(os.path.join(self.dir, "folder.txt"))
        failed = (CAPTION, "打印小票出错")
        wrong = (CAPTION, "您的调用命令是:PRINT" + WRONG)
        self.check_table([
            (["print", "missing.txt", "USB", "TRUE", "TRUE", "3"], "", 0, failed, []),
            (["print", "folder.txt", "USB", "TRUE", "TRUE", "3"], "", 0, failed, []),
            (["print", "job.txt", "USB", "F", "F", "0"], "winPrint", 0, failed, [("winPrint", RESET + b"A\n")]),
            (["print", "job.txt", "LPT1", "F", "F", "0"], "winWriteFile", 0, failed,
             [("winWriteFile", b"LPT1", 4, RESET + b"A\n")]),
            # Feed lines below 0 (a page's -1 for none) feed nothing; above 255: a wrong call, nothing sent.
            (["print", "job.txt", "USB", "TRUE", "F", "-1"], "", 0, None, [("winPrint", RESET + PULSE + b"A\n")]),
            (["print", "job.txt", "USB", "TRUE", "F", "256"], "", 0, wrong, []),
            # A word that is no number ends the run before any device call.
            (["print", "job.txt", "USB", "TRUE", "TRUE", "three"], "", 1, unhandled("three"), []),
            (["print", "job.txt", "USB", "TRUE", "TRUE", "2147483648"], "", 1, unhandled("2147483648"), []),
        ])

    def test_raw_jobs(self):
        job = bytes(range(256)) * 2  # every byte value, NULs and all
        self.put("PrintRaw1.bin", job)
        failed = (CAPTION, "打印小票出错")
        vendor = os.path.join(self.FAKES, "vendor", self.lib("winprint"))
        cases = [
            (None, ["printraw", "PrintRaw1.bin", "usb"], "", None, [("winPrintBytes", len(job), job)]),
            (None, ["PrintRaw", "PrintRaw1.bin", "lpt1"], "", None, [("winWriteFile", b"LPT1", len(job), job)]),
            (None, ["printraw", "PrintRaw1.bin", "USB"], "winPrintBytes", failed, [("winPrintBytes", len(job), job)]),
            (None, ["printraw", "missing.bin", "USB"], "", failed, []),
            # Another maker's library without winPrintBytes: nothing rather than a receipt cut at its first NUL.
            (vendor, ["printraw", "PrintRaw1.bin", "USB"], "", failed, []),
            (vendor, ["printraw", "PrintRaw1.bin", "COM2"], "", None, [("winWriteFile", b"COM2", len(job), job)]),
        ]
        for library, args, fail, shown, calls in cases:
            shutil.copy2(library or os.path.join(self.FAKES, self.lib("winprint")), self.dir)
            with self.subTest(args=args, library=library):
                self.assertEqual(self.support(*args, fail=fail, box=shown is not None), (0, shown, calls))

    # --- drawer and display ---------------------------------------------------------------

    def test_drawer(self):
        self.check_table([
            (["opencash", "usb"], "", 0, None, [("winPrint", RESET + PULSE)]),
            (["opencash", "com1"], "", 0, None, [("winWriteFile", b"COM1", 7, RESET + PULSE)]),
            (["opencash", "USB"], "winPrint", 0, (CAPTION, "打开钱箱出错"), [("winPrint", RESET + PULSE)]),
            # A library without winPrinterStatus: nothing is known, which is no failure.
            (["status", "usb"], "", 0, None, []),
        ])

    def test_display(self):
        amount = b"\x1bs2\x1bQA12.50\r"
        sent = [("com_init", 3, 2400), ("com_send", len(amount), amount)]
        clear = [("com_init", 1, 9600), ("com_send", 1, b"\x0c"), ("com_rest",)]
        self.check_table([(["display"] + args, fail, code, shown, calls) for args, fail, code, shown, calls in [
            (["2", "12.50", "COM3", "2400"], "", 0, None, sent + [("com_rest",)]),
            (["5", "12.50", "COM12", "9600"], "", 0, None, clear),
            (["2", "1", "COM", "2400"], "", 0, (CAPTION, "COM端口写法不对"), []),
            (["2", "12.50", "COM3", "2400"], "com_init", 0,
             (CAPTION, "顾客显示屏COM3打开出错\n请检查顾客显示屏接口设置是否正确"), sent[:1]),
            (["2", "12.50", "COM3", "2400"], "com_send", 0, (CAPTION, "顾客显示屏发送失败"), sent),
            (["2", "1", "COMX", "2400"], "", 1, unhandled("X"), []),
            (["2", "1", "COM3", "fast"], "", 1, unhandled("fast"), []),
        ]])

    # --- dispatcher -----------------------------------------------------------------------

    def test_dispatch_messages(self):
        self.check_table([(args, "", 0, (CAPTION, text), []) for args, text in [
            ([], "调用参数不能为空"),
            (["PRINT", "a", "b", "c", "d"], "您的调用命令是:PRINT" + WRONG),
            (["printx", "a", "b", "c", "d", "e"], "您的调用命令是:PRINTX" + WRONG),
            (["hello"], "您的调用命令是:HELLO" + WRONG),
            (["update", "now"], "您的调用命令是:UPDATE" + WRONG),
            (["display", "5", "1", "COM3"], "您的调用命令是:DISPLAY" + WRONG),
        ]])

    # --- binding --------------------------------------------------------------------------

    def test_missing_library_stops_every_command(self):
        os.unlink(os.path.join(self.dir, self.lib("winprint")))
        self.put("tovipos.exe.txt", b"new client")
        self.put(self.CLIENT, b"old client")
        missing = (None, "could not load: " + self.lib("winprint"))
        self.check_table([(args, "", 1, missing, []) for args in (["update"], ["opencash", "USB"], [])])
        self.assertEqual(read(os.path.join(self.dir, self.CLIENT)), b"old client", "nothing was moved")
        self.assertTrue(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))

    def test_missing_function_goes_to_standard_error_only(self):
        # A printing library where the serial library should be: com_init is nowhere.
        shutil.copy2(os.path.join(self.FAKES, self.lib("winprint")), os.path.join(self.dir, self.lib("api_com")))
        rc, shown, calls = self.support("opencash", "USB", box=False)
        self.assertEqual((rc, calls), (1, []))
        self.assertIn("could not import: com_init", self.stderr)
        # Without a desktop the native program's messages are its standard error, too.
        self.assertEqual(shown, (None, "could not import: com_init") if self.STDERR_SHOWS_MESSAGES else None)

    def test_own_folder_is_searched_first(self):
        # Started from another folder, the program still finds the libraries beside itself.
        other = os.path.join(self.dir, "other")
        os.mkdir(other)
        self.assertEqual(self.support("opencash", "USB", cwd=other, box=False), (0, None, [("winPrint", RESET + PULSE)]))

    def test_plain_and_decorated_serial_libraries(self):
        for variant in ("plain", "decorated"):
            with self.subTest(variant=variant):
                shutil.copy2(os.path.join(self.FAKES, variant, self.lib("api_com")), self.dir)
                self.assertEqual(self.support("display", "5", "0", "COM3", "2400", box=False),
                                 (0, None, [("com_init", 3, 2400), ("com_send", 1, b"\x0c"), ("com_rest",)]))

    # --- update ---------------------------------------------------------------------------

    def standin(self):
        return os.path.join(self.FAKES, "standin", self.CLIENT)

    def prepare_update(self):
        shutil.copyfile(self.standin(), os.path.join(self.dir, "tovipos.exe.txt"))  # no execute bit, as downloaded
        self.put(self.CLIENT, b"old client")

    def wait_for_marker(self, folder, timeout=15):
        """The stand-in client's start lines in folder; [] if it did not start within timeout."""
        marker = os.path.join(folder, "standin_started.txt")
        deadline = time.time() + timeout
        while time.time() < deadline and not os.path.exists(marker):
            time.sleep(0.05)
        if not os.path.exists(marker):
            return []
        time.sleep(0.5)  # a second start would show as a second line
        return read(marker).decode("utf-8").splitlines()

    def assertSwapped(self):
        self.assertFalse(os.path.exists(os.path.join(self.dir, "tovipos.exe.txt")))
        self.assertEqual(read(os.path.join(self.dir, self.CLIENT)), read(self.standin()))

    def assertNotSwapped(self):
        self.assertEqual(read(os.path.join(self.dir, self.CLIENT)), b"old client")
        self.assertEqual(self.wait_for_marker(self.dir, timeout=1), [])

    def test_update_swaps_and_starts_the_client(self):
        self.prepare_update()
        self.assertEqual(self.support("update", box=False), (0, None, []))
        self.assertSwapped()
        lines = self.wait_for_marker(self.dir)
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], "^%s$" % self.started(os.path.join(self.dir, self.CLIENT)))

    def test_update_without_new_client(self):
        self.put(self.CLIENT, b"old client")
        rc, shown, calls = self.support("UPDATE")
        self.assertEqual((rc, calls), (0, []))
        # The paths stand in the text as quoted strings: a backslash is doubled.
        paths = (re.escape(self.host_path(os.path.join(self.dir, name)).replace("\\", "\\\\"))
                 for name in ("tovipos.exe.txt", self.CLIENT))
        self.assertEqual(shown[0], CAPTION)
        self.assertRegex(shown[1], r'^%s\r?\nAdditional info: \("%s", "%s"\)$' % ((self.NOT_FOUND,) + tuple(paths)))
        self.assertNotSwapped()
