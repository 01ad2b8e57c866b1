"""The printer-status cases, run natively (tests/integration) and under Wine (tests/e2e): the real
support program and winprint library against the fake ESC/POS printer over TCP and a pty, and the
virtual printer's states. A run supplies run_support(args) -> (stdout, stderr) of the program run
with TOVIPOS_REPORT=page in self.dir (beside both libraries and the devices.ini a case writes), and
serial(device) -> (devices.ini [ports] lines, printer name) reaching a pty as a port."""

import os

from escpos_printer import EscposPrinter
from testfiles import write


def facts(known, source):
    """A status line's words from seven of 1, 0, - (connected ... error) and the source."""
    names = ("connected", "online", "paperLow", "paperOut", "coverOpen", "drawerOpen", "error")
    return " ".join("%s=%s" % pair for pair in zip(names, known)) + " source=" + source


NOTHING = facts("1------", "none")


class StatusCases:
    def status(self, settings, *args):
        """(code, message, status facts or None) of one run."""
        write(os.path.join(self.dir, "devices.ini"), settings.encode())
        out, err = self.run_support(list(args))
        lines = out.decode("utf-8").splitlines()
        self.assertTrue(lines and lines[-1].startswith("tovipos-outcome "), (out, err))
        code, _, message = lines[-1][len("tovipos-outcome "):].partition(" ")
        status = lines[-2][len("tovipos-status "):] if len(lines) > 1 else None
        return code, message.replace("\\n", "\n"), status

    def test_status_of_each_state_and_answer(self):
        cases = [
            ("well", "answer", facts("1100000", "escpos")), ("paper-low", "answer", facts("1110000", "escpos")),
            ("paper-out", "answer", facts("1011000", "escpos")), ("cover-open", "answer", facts("1011100", "escpos")),
            ("offline", "answer", facts("1000000", "escpos")), ("drawer-high", "answer", facts("1100010", "escpos")),
            ("error", "answer", facts("1000001", "escpos")), ("paper-low", "split", facts("1110000", "escpos")),
            # As no printer answers: nothing known. "drip" answers a second late: the reading gave up before.
            ("well", "silent", NOTHING), ("well", "garbage", NOTHING), ("well", "flood", NOTHING),
            ("well", "drip", NOTHING), ("paper-out", "close", facts("10---0-", "escpos")),
        ]
        for link in ("tcp", "pty"):
            for state, mode, expected in [c for c in cases if link == "tcp" or c[1] != "close"]:  # a pty stays up
                with self.subTest(link=link, state=state, mode=mode):
                    printer = EscposPrinter(self, state, mode, pty=link == "pty")
                    ports, name = self.serial(printer.device) if link == "pty" else (
                        "[ports]\nNET = tcp://%s\n" % printer.address, "NET")
                    code, _, status = self.status("[printer]\ndrawer_open = high\n" + ports, "status", name)
                    self.assertEqual((code, status), ("OK", expected))
        for name in ("config.ini", "REFUSING"):  # no port; a printer that refuses the connection
            self.assertEqual(self.status("[ports]\nREFUSING = tcp://127.0.0.1:1\n", "status", name),
                             ("NO_PRINTER", "读取打印机状态出错", facts("0------", "none")))

    def test_check_status_before_and_after_a_job(self):
        write(os.path.join(self.dir, "job.txt"), b"A")
        receipt, drawer = ["print", "job.txt", "USB", "F", "F", "0"], ["opencash", "USB"]
        cases = [
            ("cover-open", "answer", "true", drawer, "COVER_OPEN", "打开钱箱出错\n打印机上盖打开", facts("1011100", "escpos")),
            ("paper-out", "answer", "true", receipt, "PAPER_OUT", "打印小票出错\n打印机缺纸", facts("1011000", "escpos")),
            ("offline", "answer", "true", receipt, "OFFLINE", "打印小票出错\n打印机离线", facts("1000000", "escpos")),
            # Printed, and the status after the job comes with it.
            ("paper-low", "answer", "true", receipt, "OK", "", facts("1110000", "escpos")),
            ("well", "silent", "true", receipt, "OK", "", NOTHING),
            ("offline", "answer", "false", receipt, "OK", "", None),
        ]
        for state, mode, check, args, code, message, status in cases:
            with self.subTest(state=state, mode=mode, check=check):
                printer = EscposPrinter(self, state, mode)
                settings = "[printer]\naddress = %s\ncheck_status = %s\ndrawer_open = high\n" % (printer.address, check)
                self.assertEqual(self.status(settings, *args), (code, message, status))
                self.assertEqual(printer.wait_jobs(1 if code == "OK" else 0), [b"\x1b@A\n"] if code == "OK" else [])
                self.assertEqual(printer.requests > 0, check == "true")

    def test_virtual_printer_states(self):
        cases = [("", facts("1100000", "virtual"), "OK"), ("paper-low drawer-open", facts("1110010", "virtual"), "OK"),
                 ("offline", facts("1000000", "virtual"), "OFFLINE"),
                 ("paper-out", facts("1011000", "virtual"), "PAPER_OUT"),
                 ("offline paper-out cover-open", facts("1011100", "virtual"), "COVER_OPEN")]
        folder = os.path.join(self.dir, "vp")
        for state, expected, job in cases:
            with self.subTest(state=state):
                settings = "[printer]\nfolder = vp\nstatus = %s\n" % state
                self.assertEqual(self.status(settings, "status", "usb"), ("OK", "", expected))
                before = os.listdir(folder) if os.path.isdir(folder) else []
                self.assertEqual(self.status(settings, "opencash", "usb")[0], job)
                self.assertEqual(len(os.listdir(folder)) > len(before), job == "OK")
