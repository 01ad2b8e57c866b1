"""Our own winprint.dll and api_com.dll under Wine, through the real tovipos_print.exe: the bytes
on a serial line (COM3 mapped to a socat pty pair) and the line speed, the open-failure box of a
port without a device, winWriteFile into a file named in [ports], page names that are no port,
winPrint without a printer, network printers (a loopback listener), and the road of a receipt
into the virtual printer folder."""

import os
import socket
import struct
import subprocess
import sys
import termios
import time
import unittest

from wineenv import WineTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from network_printer import Printer, ipv6_loopback  # noqa: E402
from status_cases import StatusCases  # noqa: E402
from testfiles import read, write  # noqa: E402

CAPTION = "系统提示"
RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])


def find_file(folder, name):
    """The file of that name in folder, letter case ignored (Windows names are case-blind)."""
    for entry in os.listdir(folder):
        if entry.lower() == name.lower():
            return os.path.join(folder, entry)
    return None


def pe_tables(path):
    """(exported names, imported DLL names in lower case) of a PE file."""
    data = read(path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    table = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, start, raw_size, raw in table:
            if start <= rva < start + max(size, raw_size):
                return rva - start + raw
        raise ValueError("rva %#x outside the sections" % rva)

    def cstr(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("ascii")

    exports = []
    export_rva = struct.unpack_from("<I", data, dirs)[0]
    if export_rva:
        count, names = struct.unpack_from("<II", data, offset(export_rva) + 24)[0], struct.unpack_from("<I", data, offset(export_rva) + 32)[0]
        exports = [cstr(struct.unpack_from("<I", data, offset(names) + 4 * i)[0]) for i in range(count)]
    imports = []
    o = offset(struct.unpack_from("<I", data, dirs + 8)[0])
    while True:
        name_rva = struct.unpack_from("<I", data, o + 12)[0]
        if name_rva == 0:
            break
        imports.append(cstr(name_rva).lower())
        o += 20
    return sorted(exports), sorted(imports)


class DevicesTest(StatusCases, WineTestCase):
    def setUp(self):
        self.dir = self.folder_with("devices", "tovipos_print.exe", "winprint.dll", "api_com.dll")
        self.exe = os.path.join(self.dir, "tovipos_print.exe")

    def put(self, name, data):
        write(os.path.join(self.dir, name), data)

    def support(self, *args):
        """Runs the program; returns (exit code, (caption, text) of its box or None, stderr)."""
        running = self.wine.spawn(self.exe, list(args), cwd=self.dir)
        shown = self.wine.box_while(running)
        result = running.wait(60)
        return result.rc, shown, result.stderr

    def run_support(self, args):
        result = self.wine.run(self.exe, args, cwd=self.dir, env={"TOVIPOS_REPORT": "page"})
        return result.stdout, result.stderr

    def serial(self, device):
        self.wine.dosdevice("com5", device)
        # Runs before the pty closes: a hangup on a pty the wineserver still holds makes it dump
        # every object it has on the error output of whatever program started it.
        self.addCleanup(self.wine.kill_server)
        return "", "COM5"

    def test_exports_and_imports(self):
        i686 = os.environ.get("TOVI_ARCH", "x86_64").lower() in ("i686", "i386", "x86")
        serial = ["com_init", "com_rest", "com_send"]
        if i686:  # the names a library of the other toolchain carries, too
            serial += ["_com_init@8", "_com_rest@0", "_com_send@8"]
        # Static runtime: system DLLs only (no libstdc++, libgcc or winpthread beside them).
        cases = [("winprint.dll", ["winPrint", "winPrintBytes", "winPrinterStatus", "winWriteFile"],
                  ["kernel32.dll", "msvcrt.dll", "winspool.drv", "ws2_32.dll"]),
                 ("api_com.dll", sorted(serial), ["kernel32.dll", "msvcrt.dll"])]
        for name, exports, imports in cases:
            with self.subTest(name):
                self.assertEqual(pe_tables(os.path.join(self.bin, name)), (exports, imports))

    # --- serial ---------------------------------------------------------------------------

    def serial_pair(self):
        """COM3 of the prefix -> one end of a pty pair; returns (the Wine end, a reader fd)."""
        wine_end = os.path.join(self.dir, "wine_end")
        test_end = os.path.join(self.dir, "test_end")
        socat = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + wine_end, "pty,raw,echo=0,link=" + test_end],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not (os.path.exists(wine_end) and os.path.exists(test_end)):
            self.assertLess(time.time(), deadline, "socat made no ptys")
            time.sleep(0.02)
        reader = os.open(test_end, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        # Holding the Wine end open keeps its line settings readable after the program ends.
        holder = os.open(wine_end, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)

        def stop():
            # The wineserver first: a hangup on a pty it still holds floods its error output.
            self.wine.kill_server()
            os.close(reader)
            os.close(holder)
            socat.terminate()
            socat.wait()
        self.addCleanup(stop)
        self.wine.dosdevice("com3", wine_end)
        return holder, reader

    @staticmethod
    def drain(fd, timeout=3.0):
        data = b""
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                chunk = os.read(fd, 4096)
            except BlockingIOError:
                chunk = b""
            if chunk:
                data += chunk
                deadline = min(deadline, time.time() + 0.3)  # a little longer for stragglers
            else:
                time.sleep(0.02)
        return data

    def test_display_puts_exact_bytes_on_the_line(self):
        holder, reader = self.serial_pair()
        cases = [
            (["2", "12.50", "COM3", "9600"], bytes.fromhex("1B 73 32 1B 51 41") + b"12.50\r", termios.B9600),
            (["5", "0", "COM3", "9600"], b"\x0c", termios.B9600),
            (["4", "3.00", "COM3", "2400"], b"\x1bs4\x1bQA3.00\r", termios.B2400),
        ]
        for args, line, speed in cases:
            with self.subTest(args=args):
                rc, box, err = self.support("display", *args)
                self.assertEqual((rc, box), (0, None), err)
                self.assertEqual(self.drain(reader), line)
                self.assertEqual(termios.tcgetattr(holder)[5], speed)

    def test_port_without_device_shows_the_open_failure(self):
        self.wine.dosdevice("com4", os.path.join(self.dir, "no-such-device"))
        rc, box, err = self.support("display", "2", "12.50", "COM4", "9600")
        self.assertEqual((rc, box), (0, (CAPTION, "顾客显示屏COM4打开出错\n请检查顾客显示屏接口设置是否正确")))
        self.assertIn(b"api_com: cannot open COM4", err)

    # --- printing -------------------------------------------------------------------------

    def test_write_file_gets_the_exact_bytes(self):
        # [ports] targets are relative to the current folder, as the support program's job file.
        self.put("devices.ini", b"[ports]\nOUT = out.bin\nDRAWER = drawer.bin\n")
        self.put("job.txt", "合计 12.50\r\n".encode("gb2312"))
        rc, box, err = self.support("print", "job.txt", "out", "TRUE", "TRUE", "2")
        self.assertEqual((rc, box), (0, None), err)
        out = find_file(self.dir, "out.bin")
        self.assertIsNotNone(out)
        self.assertEqual(read(out), RESET + PULSE + "合计 12.50\n\n".encode("gb2312") + b"\n\n" + CUT)
        rc, box, err = self.support("opencash", "drawer")
        self.assertEqual((rc, box), (0, None), err)
        self.assertEqual(read(find_file(self.dir, "drawer.bin")), RESET + PULSE)

    def test_write_failures_show_the_box(self):
        # A page's "interface" that names a file is no port: refused before anything is opened, so
        # config.ini stays as it is and nothing new appears. A listed target that cannot be
        # opened fails as before.
        self.put("devices.ini", b"[ports]\nNOWHERE = no\\such\\out.bin\n")
        config = b"[base]\nurl=https://pos.example/\nversion=7\n"
        self.put("config.ini", config)
        self.put("job.txt", b"\n[base]\nupdateUrl=http://evil.example/\n")
        before = sorted(os.listdir(self.dir))
        cases = [
            (["print", "job.txt", "config.ini"], "打印小票出错", b"winprint: winWriteFile: \"CONFIG.INI\" is no port"),
            (["opencash", "..\\cacert.pem"], "打开钱箱出错", b"is no port"),
            (["print", "job.txt", ".\\tovipos.exe"], "打印小票出错", b"is no port"),
            (["print", "job.txt", "NOWHERE"], "打印小票出错", b"winprint: cannot open"),
        ]
        for args, text, why in cases:
            with self.subTest(args=args):
                args = args + ["F", "F", "0"] if args[0] == "print" else args
                rc, box, err = self.support(*args)
                self.assertEqual((rc, box), (0, (CAPTION, text)))
                self.assertIn(why, err)
        self.assertEqual(read(os.path.join(self.dir, "config.ini")), config)
        self.assertEqual(sorted(os.listdir(self.dir)), before)
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(self.dir), "cacert.pem")))

    def test_no_printer_installed(self):
        # Without devices.ini winPrint takes the system's default printer; the prefix has none.
        self.put("job.txt", b"A")
        rc, box, err = self.support("print", "job.txt", "USB", "F", "T", "0")
        self.assertEqual((rc, box), (0, (CAPTION, "打印小票出错")))
        self.assertIn(b"winprint: ", err)
        rc, box, err = self.support("opencash", "usb")
        self.assertEqual((rc, box), (0, (CAPTION, "打开钱箱出错")))
        rc, box, err = self.support("status", "usb")
        self.assertEqual((rc, box), (0, (CAPTION, "读取打印机状态出错")))

    def test_receipt_reaches_the_virtual_printer(self):
        # The folder wins over a network printer (nothing listens on port 1: it would fail).
        self.put("devices.ini", b"[printer]\nfolder = virtual_printer\naddress = 127.0.0.1:1\n")
        lines = ["商品    数量   金额", "矿泉水     2   3.00", "合计 12.50"]
        self.put("PrintOut1.txt", "\r\n".join(lines).encode("gb2312") + b"\r\n")
        rc, box, err = self.support("print", "PrintOut1.txt", "USB", "TRUE", "TRUE", "3")
        self.assertEqual((rc, box), (0, None), err)
        rc, box, err = self.support("opencash", "USB")
        self.assertEqual((rc, box), (0, None), err)
        vp = os.path.join(self.dir, "virtual_printer")
        text = "".join(line + "\n" for line in lines) + "\n"
        self.assertEqual(read(os.path.join(vp, "job-000001.bin")),
                         RESET + PULSE + text.encode("gb2312") + b"\n" * 3 + CUT)
        self.assertEqual(read(os.path.join(vp, "job-000001.txt")).decode("utf-8"),
                         "[INIT][DRAWER pin 2 120/240 ms]" + text + "\n" * 3 + "[CUT PARTIAL]")
        self.assertEqual(read(os.path.join(vp, "job-000002.bin")), RESET + PULSE)
        self.assertEqual(sorted(os.listdir(vp)),
                         ["job-000001.bin", "job-000001.txt", "job-000002.bin", "job-000002.txt"])


    def test_network_printers(self):
        # The second printer on ::1 where the machine has it: a bracketed address through [ports].
        printer = Printer(self)
        kitchen = Printer(self, socket.AF_INET6 if ipv6_loopback() else socket.AF_INET)
        self.put("devices.ini", ("[printer]\naddress = %s\n[ports]\nKITCHEN = tcp://%s\n"
                                 % (printer.address, kitchen.address)).encode())
        lines = ["商品    数量   金额", "合计 12.50"]
        self.put("PrintOut1.txt", "\r\n".join(lines).encode("gb2312"))
        rc, box, err = self.support("print", "PrintOut1.txt", "USB", "TRUE", "TRUE", "3")
        self.assertEqual((rc, box), (0, None), err)
        rc, box, err = self.support("opencash", "kitchen")
        self.assertEqual((rc, box), (0, None), err)
        text = "".join(line + "\n" for line in lines).encode("gb2312")
        self.assertEqual(printer.wait_jobs(1), [RESET + PULSE + text + b"\n" * 3 + CUT])
        self.assertEqual(kitchen.wait_jobs(1), [RESET + PULSE])

    def test_network_printer_failures_show_the_box(self):
        refusing, stuck = Printer(self, listening=False), Printer(self, reading=False)
        self.put("big.txt", b"A" * (16 << 20))  # beyond what both socket buffers hold
        cases = [
            ("refused connection", refusing.address, "opencash", "打开钱箱出错", b"cannot connect to printer"),
            ("printer that stops reading", stuck.address, "print", "打印小票出错", b"bytes: it stopped taking bytes"),
        ]
        for name, address, command, text, why in cases:
            with self.subTest(name):
                self.put("devices.ini", ("[printer]\naddress = %s\nwrite_timeout = 300\n" % address).encode())
                args = ["print", "big.txt", "USB", "F", "F", "0"] if command == "print" else ["opencash", "USB"]
                rc, box, err = self.support(*args)
                self.assertEqual((rc, box), (0, (CAPTION, text)))
                self.assertIn(why, err)


if __name__ == "__main__":
    unittest.main()
