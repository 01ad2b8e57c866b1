"""The Linux device libraries libwinprint.so and libapi_com.so, driven through ctypes: the bytes
that reach files, devices, CUPS (a stand-in lp), network printers (a loopback listener) and a
serial line (a socat pty pair), the virtual printer folder and its pictures, the port names
refused, the line speed set, and the result codes. The pictures' codes are read back with zbarimg."""

import ctypes
import os
import struct
import shutil
import socket
import subprocess
import tempfile
import termios
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from network_printer import Printer, ipv6_loopback  # noqa: E402
from status_cases import StatusCases  # noqa: E402
from testfiles import read  # noqa: E402

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
        lib.winPrintBytes.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.winWriteFile.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        return lib, folder

    def test_write_file_exact_bytes_and_replaces(self):
        out = os.path.join(self.dir, "out.bin")
        lib, _ = self.lib("[ports]\nFILE=%s\n" % out)
        self.assertEqual(lib.winWriteFile(b"FILE", RECEIPT, len(RECEIPT)), OK)
        self.assertEqual(read(out), RECEIPT)
        self.assertEqual(lib.winWriteFile(b"file", b"\x00AB", 3), OK)
        self.assertEqual(read(out), b"\x00AB")

    def test_write_file_results(self):
        lib, _ = self.lib("[ports]\nRECEIPT=%s\nGONE=/dev/usb/tovi-no-such-printer\nNULL=/dev/null\nFULL=/dev/full\n"
                          "FOLDER=%s\nNOWHERE=%s\n" % (os.path.join(self.dir, "mapped.bin"), self.dir,
                                                      os.path.join(self.dir, "no", "x.bin")))
        cases = [
            ("missing device", b"GONE", NO_PRINTER),
            ("device that takes everything", b"NULL", OK),
            ("device that is full", b"FULL", SHORT_WRITE),
            ("a folder", b"FOLDER", CANNOT_OPEN),
            ("file in a missing folder", b"NOWHERE", CANNOT_OPEN),
            ("mapped name", b"RECEIPT", OK),
        ]
        for name, port, code in cases:
            with self.subTest(name):
                self.assertEqual(lib.winWriteFile(port, b"\x1b@", 2), code)
        self.assertEqual(read(os.path.join(self.dir, "mapped.bin")), b"\x1b@")
        self.assertEqual(lib.winWriteFile(b"NULL", b"x", -1), BAD_ARGUMENT)
        self.assertEqual(lib.winWriteFile(None, b"x", 1), BAD_ARGUMENT)

    def test_names_that_are_no_port_create_nothing(self):
        # What a page could pass as "interface": relative, absolute, parent and device paths.
        work = os.path.join(self.dir, "work")
        os.makedirs(work)
        with open(os.path.join(work, "config.ini"), "wb") as f:
            f.write(b"[base]\nversion=1\n")
        lib, folder = self.lib("[ports]\nRECEIPT=%s\n" % os.path.join(self.dir, "mapped.bin"))
        before = sorted(os.listdir(self.dir)), sorted(os.listdir(work)), sorted(os.listdir(folder))
        # The rule's full table is the unit test's; here, that a refused name touches nothing.
        names = [b"config.ini", b"../escaped.bin", os.path.join(self.dir, "absolute.bin").encode(), b"/dev/null", b""]
        old_cwd = os.getcwd()
        os.chdir(work)
        self.addCleanup(os.chdir, old_cwd)
        for name in names:
            with self.subTest(name=name):
                self.assertEqual(lib.winWriteFile(name, b"\x1b@junk", 6), NO_PRINTER)
        self.assertEqual((sorted(os.listdir(self.dir)), sorted(os.listdir(work)), sorted(os.listdir(folder))), before)
        self.assertEqual(read(os.path.join(work, "config.ini")), b"[base]\nversion=1\n")

    def test_network_printer(self):
        printer = Printer(self)
        kitchen = Printer(self)
        lib, _ = self.lib("[printer]\naddress=%s\n[ports]\nKITCHEN=tcp://%s\n" % (printer.address, kitchen.address))
        self.assertEqual(lib.winPrint(RECEIPT), OK)
        self.assertEqual(lib.winPrint(b"\x1b@second\n"), OK)
        drawer = RECEIPT[:7]
        self.assertEqual(lib.winWriteFile(b"kitchen", drawer, len(drawer)), OK)
        big = bytes(range(256)) * 8192  # 2 MiB with NUL bytes: more than any socket buffer takes at once
        self.assertEqual(lib.winWriteFile(b"KITCHEN", big, len(big)), OK)
        # One connection per job, each closed after its bytes.
        self.assertEqual(printer.wait_jobs(2), [RECEIPT, b"\x1b@second\n"])
        self.assertEqual(kitchen.wait_jobs(2), [drawer, big])

    @unittest.skipUnless(ipv6_loopback(), "no IPv6 loopback")
    def test_network_printer_on_ipv6(self):
        printer = Printer(self, socket.AF_INET6)
        lib, _ = self.lib("[printer]\naddress=%s\n" % printer.address)
        self.assertEqual(lib.winPrint(RECEIPT), OK)
        self.assertEqual(printer.wait_jobs(1), [RECEIPT])

    def test_network_printer_failures(self):
        refusing = Printer(self, listening=False)
        stuck = Printer(self, reading=False)
        off = Printer(self, answering=False)
        big = b"\x1b@" + b"A" * (8 << 20)  # beyond what both socket buffers hold
        cases = [
            ("refused connection", refusing.address, "", b"\x1b@", CANNOT_OPEN),
            ("printer that does not answer", off.address, "", b"\x1b@", CANNOT_OPEN),
            ("printer that stops reading", stuck.address, "write_timeout=300\n", big, SHORT_WRITE),
            ("port out of range", "127.0.0.1:99999", "", b"\x1b@", NO_PRINTER),
            ("bare IPv6 address", "::1", "", b"\x1b@", NO_PRINTER),
        ]
        for name, address, extra, job, code in cases:
            with self.subTest(name):
                lib, _ = self.lib("[printer]\n%saddress=%s\n[ports]\nNET=tcp://%s\n" % (extra, address, address))
                self.assertEqual(lib.winPrint(job), code)
                self.assertEqual(lib.winWriteFile(b"NET", job, len(job)), code)

    def test_folder_wins_over_address(self):
        printer = Printer(self)
        lib, folder = self.lib("[printer]\naddress=%s\nfolder=jobs\npaper=58\n" % printer.address)
        self.assertEqual(lib.winPrint(b"\x1b@"), OK)
        raw = bytes(range(256))
        self.assertEqual(lib.winPrintBytes(raw, len(raw)), OK)
        jobs = os.path.join(folder, "jobs")
        self.assertEqual(read(os.path.join(jobs, "job-000001.bin")), b"\x1b@")
        self.assertEqual(read(os.path.join(jobs, "job-000002.bin")), raw)
        self.assertEqual(printer.jobs, [])
        # Beside each job its picture, on 58 mm paper: 384 dots, the paper's edges and the strip of marks.
        picture = read(os.path.join(jobs, "job-000002.png"))
        self.assertEqual(struct.unpack(">II", picture[16:24])[0], 384 + 2 * 40 + 200)
        self.assertEqual(lib.winPrintBytes(None, 1), BAD_ARGUMENT)
        self.assertEqual(lib.winPrintBytes(raw, -1), BAD_ARGUMENT)

@unittest.skipUnless(BIN, "TOVI_BIN not set")
class StatusTest(StatusCases, unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tovi_status_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        for name in ("tovipos_print", "libwinprint.so", "libapi_com.so"):
            shutil.copy2(os.path.join(BIN, name), self.dir)

    def run_support(self, args):
        env = dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, TOVIPOS_REPORT="page")
        r = subprocess.run([os.path.join(self.dir, "tovipos_print")] + args, cwd=self.dir, env=env,
                           capture_output=True, timeout=60)
        return r.stdout, r.stderr

    def serial(self, device):
        return "[ports]\nPTY = %s\n" % device, "PTY"


def qr(data, module=6, level=0x31):
    """GS ( k: model 2, module size, error level (0x30 L to 0x33 H), store the data, print."""
    n = len(data) + 3
    return (b"\x1d(k\x04\x001A2\x00" + b"\x1d(k\x03\x001C" + bytes([module]) + b"\x1d(k\x03\x001E" + bytes([level])
            + b"\x1d(k" + struct.pack("<H", n) + b"1P0" + data + b"\x1d(k\x03\x001Q0")


def barcode(m, data):
    """GS k m: data ended by NUL (m up to 6) or counted (m from 65), 60 dots high, modules 2 dots."""
    return b"\x1dh\x3c\x1dw\x02\x1dk" + bytes([m]) + (bytes([len(data)]) + data if m >= 65 else data + b"\0") + b"\n"


PREVIEW = os.path.join(BIN, "receipt-preview")


@unittest.skipUnless(os.path.exists(PREVIEW) and shutil.which("zbarimg"), "receipt-preview or zbarimg missing")
class ReceiptPictureTest(unittest.TestCase):
    """receipt-preview draws a job as the virtual printer does; zbarimg reads the codes back."""

    def preview(self, job, *options):
        folder = tempfile.mkdtemp(prefix="tovi_picture_")
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "job.bin"), "wb") as f:
            f.write(job)
        out = os.path.join(folder, "job.png")
        r = subprocess.run([PREVIEW] + list(options) + [os.path.join(folder, "job.bin"), out], capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        codes = subprocess.run(["zbarimg", "-q", out], capture_output=True).stdout.decode("utf-8", "replace")
        return sorted(codes.splitlines()), r.stderr.decode("utf-8")

    def test_codes_read_back_exactly(self):
        # A 132-byte address: its length byte 0x87 is what a text job would have turned into "?".
        address = b"https://pos.example.com/e-invoice?no=TOVI-000123&shop=42&till=7&sum=23.10&" + b"x" * 58
        self.assertEqual(len(address), 132)
        cases = [
            ("QR, level M, module 6", qr(address), ["QR-Code:" + address.decode()], ()),
            ("QR, level H, module 3, centred", b"\x1ba\x01" + qr(b"TOVI", 3, 0x33), ["QR-Code:TOVI"], ()),
            ("EAN-13, the check digit added", barcode(2, b"690123456789"), ["EAN-13:6901234567892"], ()),
            ("EAN-13 counted", barcode(67, b"6901234567892"), ["EAN-13:6901234567892"], ()),
            ("CODE128, code set B", barcode(73, b"{BTOVI-0001"), ["CODE-128:TOVI-0001"], ()),
            ("CODE128, code set C", barcode(73, b"{C" + bytes([12, 34, 56])), ["CODE-128:123456"], ()),
            ("CODE39", barcode(4, b"ABC123"), ["CODE-39:ABC123"], ()),
            ("58 mm, all three", qr(b"58") + barcode(73, b"{B58") + barcode(69, b"58"),
             ["CODE-128:58", "CODE-39:58", "QR-Code:58"], ("--paper", "58")),
        ]
        for name, job, codes, options in cases:
            with self.subTest(name):
                self.assertEqual(self.preview(b"\x1b@" + job + b"\x1dVB\x00", *options)[0], codes)

    def test_commands_not_drawn_are_named(self):
        codes, err = self.preview(b"\x1b{\x01A\n\x1d(L\x02\x0000")
        self.assertEqual(err, "not drawn, at byte 0: [SKIPPED UPSIDE DOWN ON]\n"
                              "not drawn, at byte 5: [SKIPPED 1D 28 4C 02 00 30 30]\n")


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
