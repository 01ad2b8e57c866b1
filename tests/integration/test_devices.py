"""The Linux device libraries libwinprint.so and libapi_com.so, driven through ctypes: the bytes
that reach files, devices, CUPS (a stand-in lp) and a serial line (a socat pty pair), the
virtual printer folder, the line speed set, and the result codes."""

import ctypes
import os
import shutil
import subprocess
import tempfile
import termios
import time
import unittest

BIN = os.environ.get("TOVI_BIN", "")
OK, NO_PRINTER, CANNOT_OPEN, SHORT_WRITE, BAD_ARGUMENT = 0, 1, 2, 3, 4

RECEIPT = bytes([0x1B, 0x40, 0x1B, 0x70, 0x30, 0x3C, 0x78]) + "合计 12.50".encode("gb2312") + \
    b"\n\n\n" + bytes([0x1D, 0x56, 0x42, 0x00])


def library_copy(folder, name, settings=None):
    """A copy of the library in its own folder (its devices.ini sits beside it)."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    shutil.copy(os.path.join(BIN, name), path)
    if settings is not None:
        with open(os.path.join(folder, "devices.ini"), "w", encoding="utf-8") as f:
            f.write(settings)
    return ctypes.CDLL(path)


def read(path):
    with open(path, "rb") as f:
        return f.read()


@unittest.skipUnless(BIN, "TOVI_BIN not set")
class WinPrintTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tovi_winprint_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.lib_dir = os.path.join(self.dir, "lib")
        self.count = 0

    def lib(self, settings=None):
        # A fresh folder per settings: ctypes keeps a loaded library by path.
        self.count += 1
        folder = os.path.join(self.dir, "lib%d" % self.count)
        lib = library_copy(folder, "libwinprint.so", settings)
        lib.winPrint.argtypes = [ctypes.c_char_p]
        lib.winWriteFile.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        return lib, folder

    def test_write_file_exact_bytes_and_replaces(self):
        lib, _ = self.lib()
        out = os.path.join(self.dir, "out.bin")
        self.assertEqual(lib.winWriteFile(out.encode(), RECEIPT, len(RECEIPT)), OK)
        self.assertEqual(read(out), RECEIPT)
        self.assertEqual(lib.winWriteFile(out.encode(), b"\x00AB", 3), OK)
        self.assertEqual(read(out), b"\x00AB")

    def test_write_file_results(self):
        lib, _ = self.lib("[ports]\nRECEIPT=%s\n" % os.path.join(self.dir, "mapped.bin"))
        cases = [
            ("missing device", b"/dev/usb/tovi-no-such-printer", NO_PRINTER),
            ("device that takes everything", b"/dev/null", OK),
            ("device that is full", b"/dev/full", SHORT_WRITE),
            ("a folder", self.dir.encode(), CANNOT_OPEN),
            ("file in a missing folder", os.path.join(self.dir, "no", "x.bin").encode(), CANNOT_OPEN),
            ("empty port name", b"", NO_PRINTER),
            ("mapped name", b"RECEIPT", OK),
        ]
        for name, port, code in cases:
            with self.subTest(name):
                self.assertEqual(lib.winWriteFile(port, b"\x1b@", 2), code)
        self.assertEqual(read(os.path.join(self.dir, "mapped.bin")), b"\x1b@")
        self.assertEqual(lib.winWriteFile(b"/dev/null", b"x", -1), BAD_ARGUMENT)
        self.assertEqual(lib.winWriteFile(None, b"x", 1), BAD_ARGUMENT)

    def test_default_is_the_virtual_printer_beside_the_library(self):
        lib, folder = self.lib()  # no devices.ini
        self.assertEqual(lib.winPrint(RECEIPT), OK)
        self.assertEqual(lib.winPrint(b"\x1b@second\n"), OK)
        vp = os.path.join(folder, "virtual_printer")
        self.assertEqual(read(os.path.join(vp, "job-000001.bin")), RECEIPT)  # cut byte included
        self.assertEqual(read(os.path.join(vp, "job-000002.bin")), b"\x1b@second\n")
        self.assertEqual(read(os.path.join(vp, "job-000001.txt")).decode("utf-8"),
                         "[INIT][DRAWER pin 2 120/240 ms]合计 12.50\n\n\n[CUT PARTIAL]")

    def test_folder_setting_relative_to_the_library_and_no_overwrite(self):
        lib, folder = self.lib("[printer]\nfolder=jobs\n")
        vp = os.path.join(folder, "jobs")
        os.makedirs(vp)
        with open(os.path.join(vp, "job-000004.bin"), "wb") as f:
            f.write(b"kept")
        self.assertEqual(lib.winPrint(b"A\x1bE\x00B"), OK)
        self.assertEqual(read(os.path.join(vp, "job-000004.bin")), b"kept")
        self.assertEqual(read(os.path.join(vp, "job-000005.bin")), b"A\x1bE\x00B")
        self.assertEqual(sorted(os.listdir(vp)), ["job-000004.bin", "job-000005.bin", "job-000005.txt"])

    def test_print_to_devices(self):
        target = os.path.join(self.dir, "printer.bin")
        cases = [
            ("file as device", target, OK),
            ("missing device", "/dev/usb/tovi-no-such-printer", NO_PRINTER),
            ("full device", "/dev/full", SHORT_WRITE),
        ]
        for name, device, code in cases:
            with self.subTest(name):
                lib, _ = self.lib("[printer]\ndevice=%s\n" % device)
                self.assertEqual(lib.winPrint(RECEIPT), code)
        self.assertEqual(read(target), RECEIPT)

    def test_cups_queue_gets_the_raw_job(self):
        tools = os.path.join(self.dir, "tools")
        os.makedirs(tools)
        record = os.path.join(self.dir, "lp")
        with open(os.path.join(tools, "lp"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" > %s.args\ncat > %s.data\n'
                    'case "$2" in refuse) exit 1;; esac\necho "request id is q-1"\n' % (record, record))
        os.chmod(os.path.join(tools, "lp"), 0o755)
        old_path = os.environ.get("PATH", "")
        os.environ["PATH"] = tools + os.pathsep + old_path
        self.addCleanup(os.environ.__setitem__, "PATH", old_path)
        lib, _ = self.lib("[printer]\ndevice=receipt_raw\n")
        self.assertEqual(lib.winPrint(RECEIPT), OK)
        self.assertEqual(read(record + ".data"), RECEIPT)
        self.assertEqual(read(record + ".args").decode().split("\n"), ["-d", "receipt_raw", "-o", "raw", "--", ""])
        lib, _ = self.lib("[printer]\ndevice=refuse\n")
        self.assertEqual(lib.winPrint(b"\x1b@"), CANNOT_OPEN)
        os.environ["PATH"] = os.path.join(self.dir, "nothing-here")
        lib, _ = self.lib("[printer]\ndevice=receipt_raw\n")
        self.assertEqual(lib.winPrint(b"\x1b@"), NO_PRINTER)


def socat_pair(folder):
    """Two linked ptys: bytes written to `a` come out of `b`."""
    a, b = os.path.join(folder, "lib_end"), os.path.join(folder, "test_end")
    proc = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while not (os.path.exists(a) and os.path.exists(b)):
        if time.time() > deadline or proc.poll() is not None:
            proc.kill()
            raise RuntimeError("socat did not create its ptys")
        time.sleep(0.02)
    return proc, a, b


def read_exactly(fd, n, timeout=5.0):
    data = b""
    deadline = time.time() + timeout
    while len(data) < n and time.time() < deadline:
        try:
            chunk = os.read(fd, n - len(data))
        except BlockingIOError:
            chunk = b""
        if chunk:
            data += chunk
        else:
            time.sleep(0.01)
    return data


@unittest.skipUnless(BIN and shutil.which("socat"), "TOVI_BIN not set or socat missing")
class ApiComTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tovi_apicom_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.socat, self.a, self.b = socat_pair(self.dir)
        self.addCleanup(self.socat.wait)
        self.addCleanup(self.socat.terminate)
        self.reader = os.open(self.b, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        self.addCleanup(os.close, self.reader)
        self.lib = library_copy(os.path.join(self.dir, "lib"), "libapi_com.so",
                                "[serial]\nport3=%s\nport4=%s\n" % (self.a, os.path.join(self.dir, "none")))
        self.lib.com_send.argtypes = [ctypes.c_char_p, ctypes.c_int]
        self.addCleanup(self.lib.com_rest)

    def line_speed(self):
        # The speed the library's side of the pair runs at, read while the library holds it open.
        fd = os.open(self.a, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            attrs = termios.tcgetattr(fd)
        finally:
            os.close(fd)
        return attrs[5], attrs[2] & termios.CSIZE, attrs[2] & (termios.PARENB | termios.CSTOPB)

    def test_display_messages_arrive_exactly_at_the_speed_asked(self):
        cases = [
            (9600, termios.B9600, bytes([0x1B, 0x73, 0x32, 0x1B, 0x51, 0x41]) + b"12.50\r"),
            (2400, termios.B2400, b"\x0c"),
            (115200, termios.B115200, b"\x00\xff" * 300),
        ]
        for baud, speed, message in cases:
            with self.subTest(baud=baud):
                self.assertEqual(self.lib.com_init(3, baud) & 0xFF, 1)
                self.assertEqual(self.line_speed(), (speed, termios.CS8, 0))
                self.assertEqual(self.lib.com_send(message, len(message)) & 0xFF, 1)
                self.assertEqual(read_exactly(self.reader, len(message)), message)
                self.assertEqual(self.lib.com_rest(), 1)

    def test_failures(self):
        self.assertEqual(self.lib.com_send(b"x", 1) & 0xFF, 0)  # no port open
        self.assertEqual(self.lib.com_init(3, 12345) & 0xFF, 0)  # no such rate
        self.assertEqual(self.lib.com_init(4, 9600) & 0xFF, 0)  # no device behind port 4
        self.assertEqual(self.lib.com_init(0, 9600) & 0xFF, 0)
        self.assertEqual(self.lib.com_init(3, -9600) & 0xFF, 0)
        self.assertEqual(self.lib.com_send(b"x", 1) & 0xFF, 0)
        self.assertEqual(self.lib.com_rest(), 0)
        self.assertEqual(read_exactly(self.reader, 1, timeout=0.3), b"")

    def test_a_second_init_replaces_the_first_port(self):
        self.assertEqual(self.lib.com_init(3, 9600) & 0xFF, 1)
        self.assertEqual(self.lib.com_init(3, 4800) & 0xFF, 1)
        self.assertEqual(self.line_speed()[0], termios.B4800)
        self.assertEqual(self.lib.com_send(b"AB", 2) & 0xFF, 1)
        self.assertEqual(read_exactly(self.reader, 2), b"AB")


if __name__ == "__main__":
    unittest.main()
