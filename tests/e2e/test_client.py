"""The client tovipos under Wine, with our scripted test engine as node.dll, the OpenSSL DLLs built
from Debian's sources, a local HTTPS update server, the real support program and the recording
device libraries.

The test engine runs a script named by the start page address (config.ini url) and appends every
call it gets, and "probe" lines describing the client's windows, to the file in TOVI_ENGINE_LOG.
"""
import base64
import json
import os
import re
import subprocess
import sys
import time
import unittest

from wineenv import WineTestCase, winpath

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "integration"))
from test_updater_server import Route, UpdateServer, make_pki, manifest_bytes, sha1_upper  # noqa: E402

ARCH = os.environ.get("TOVI_ARCH", "x86_64")
TILL_ID = "00112233445566778899aabbccddeeff"
WIN64 = not ARCH.startswith("i")
PRESET = "win64" if WIN64 else "win32"
SOURCE = os.environ.get("TOVI_SOURCE", os.path.join(HERE, "..", ".."))
VERSION = "2026.12.1"

# A script line: until the main window and its view are shown.
REVEALED = "waitprobe view visible=1"
# A message box without caption text shows the system's default caption.
SYSTEM_CAPTION = "Error"
RECEIPT_TEXT = "中文小票\n合计 12.50"


def openssl_folder():
    folder = os.environ.get("TOVI_OPENSSL_DIR")
    if folder and os.path.isdir(folder):
        return folder
    out = subprocess.run(["sh", os.path.join(SOURCE, "scripts", "openssl-windows.sh"), PRESET],
                         check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=1800)
    return out.stdout.decode().strip().splitlines()[-1]


def hexof(data):
    return data.hex() if data else "-"


def parse_fields(text):
    """'a=1 b=x,y text=rest of line' -> dict; text= takes the rest of the line."""
    fields = {}
    m = re.search(r"(?:^| )text=(.*)$", text)
    if m:
        fields["text"] = m.group(1)
        text = text[:m.start()]
    for part in text.split():
        if "=" in part:
            k, v = part.split("=", 1)
            fields[k] = v
    return fields


class Run:
    """One client run: exit status, standard error, the engine's log and the fakes' log."""

    def __init__(self, result, folder, engine_log, fake_log):
        self.rc = result.rc
        self.stderr = result.stderr.decode("utf-8", "replace")
        self.folder = folder
        self.log = self._read(engine_log)
        self.fake = self._read(fake_log)

    @staticmethod
    def _read(path):
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace").splitlines()

    def probe(self, label):
        """{'main': fields, 'splash': fields, 'view': fields, 'screen': (w, h), 'labels': [texts]}"""
        out = {"labels": []}
        prefix = "probe " + label + " "
        for line in self.log:
            if not line.startswith(prefix):
                continue
            rest = line[len(prefix):]
            kind, _, body = rest.partition(" ")
            if kind == "frame":
                f = parse_fields(body)
                topmost = int(f["exstyle"], 16) & 0x8
                out["splash" if topmost else "main"] = f
            elif kind == "view":
                out["view"] = parse_fields(body)
            elif kind == "label":
                out["labels"].append(parse_fields(body)["text"])
            elif kind.startswith("screen="):
                w, h = kind[len("screen="):].split(",")
                out["screen"] = (int(w), int(h))
        return out


class ClientTestCase(WineTestCase):
    """The client's tests: the OpenSSL DLLs (cls.ssl) and a test CA (cls.pki) for the update server."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.ssl = openssl_folder()
        cls.pki = make_pki(cls.wine.tmpdir("pki"))

    def log_texts(self, d):
        """The event texts of the client's tovipos.log, each line checked for its local timestamp."""
        with open(os.path.join(d, "tovipos.log"), "rb") as f:
            lines = f.read().decode("utf-8").splitlines()
        stamp = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d ")
        for line in lines:
            self.assertRegex(line, stamp)
        return [line[26:] for line in lines]


class ClientTest(ClientTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.site = cls.wine.tmpdir("site")
        with open(os.path.join(cls.site, "list.txt"), "wb") as f:
            f.write(manifest_bytes(VERSION, []))
        cls.server = UpdateServer(cls.site, cls.pki).__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)

    # --- folders and runs ---------------------------------------------------------------

    def client_folder(self, engine="testengine", ssl=True, config=True, devices=False, printer=False):
        d = self.wine.tmpdir("client")
        self.copy_to(d, "tovipos.exe")
        if engine:
            self.copy_to(d, os.path.join(engine, "node.dll"))
        if ssl:
            for name in os.listdir(self.ssl):
                if name.endswith(".dll"):
                    self.copy_to(d, os.path.join(self.ssl, name))
            self.copy_to(d, os.path.join(self.pki, "ca.pem"))
            os.rename(os.path.join(d, "ca.pem"), os.path.join(d, "cacert.pem"))
        if devices:
            self.copy_to(d, "tovipos_print.exe", os.path.join("fakes", "winprint.dll"),
                         os.path.join("fakes", "api_com.dll"))
        if printer:
            # Our real libraries, receipts kept in the virtual printer folder.
            self.copy_to(d, "tovipos_print.exe", "winprint.dll", "api_com.dll")
            with open(os.path.join(d, "devices.ini"), "w", encoding="utf-8", newline="\r\n") as f:
                f.write("[printer]\nfolder = virtual_printer\n")
        if config:
            self.write_config(d, "url=%s\n" % winpath(os.path.join(d, "page.txt")))
        return d

    def write_config(self, d, base_lines, update_path="/"):
        with open(os.path.join(d, "config.ini"), "w", encoding="utf-8", newline="\r\n") as f:
            # With a till identity already there, a start writes nothing into config.ini.
            f.write("; till settings\n[base]\n" + base_lines + "updateUrl=%s\nversion=%s\ntillId=%s\n"
                    % (self.server.url(update_path), VERSION, TILL_ID))

    def run_client(self, d, script=None, timeout=60, on_running=None):
        if script is not None:
            with open(os.path.join(d, "page.txt"), "w", encoding="utf-8") as f:
                f.write("\n".join(script) + "\n")
        engine_log = os.path.join(d, "engine.log")
        fake_log = os.path.join(d, "fake.log")
        running = self.wine.spawn(os.path.join(d, "tovipos.exe"), cwd=d,
                                  env={"TOVI_ENGINE_LOG": winpath(engine_log), "TOVI_FAKE_LOG": winpath(fake_log)})
        extra = on_running(running) if on_running else None
        result = running.wait(timeout)
        run = Run(result, d, engine_log, fake_log)
        run.extra = extra
        return run

    # --- start-up failures -------------------------------------------------------------

    def test_no_config_ini_reports_the_unhandled_error_and_shows_no_window(self):
        d = self.client_folder(config=False)
        run = self.run_client(d, on_running=lambda r: self.wine.message_box(timeout=30))
        self.assertEqual(run.extra, (SYSTEM_CAPTION, "Error: unhandled exception: cannot open: config.ini [IOError]\n"))
        self.assertEqual(run.rc, 1)
        self.assertNotIn("wkeShowWindow show=1", run.log)
        self.assertFalse(any(line.startswith("wkeLoadURL") for line in run.log))

    def test_missing_node_dll_is_a_box_and_status_1(self):
        d = self.client_folder(engine=None)
        run = self.run_client(d, on_running=lambda r: self.wine.message_box(timeout=30))
        self.assertEqual(run.extra, (SYSTEM_CAPTION, "could not load: node.dll"))
        self.assertEqual(run.rc, 1)

    def test_missing_engine_function_is_a_line_on_stderr_only(self):
        d = self.client_folder(engine="testengine_missing")
        run = self.run_client(d, on_running=self.wine.box_while)
        self.assertIsNone(run.extra)
        self.assertEqual(run.rc, 1)
        self.assertIn("could not import: jsToString", run.stderr.splitlines())
        self.assertEqual(run.log, [])  # no engine call was made

    def test_missing_openssl_is_a_box_naming_every_candidate(self):
        d = self.client_folder(ssl=False)
        run = self.run_client(d, on_running=lambda r: self.wine.message_box(timeout=30))
        names = "libcrypto-1_1|libeay32|libcrypto-1_1-x64|libcrypto-3|libcrypto-3-x64" if WIN64 else \
            "libcrypto-1_1|libeay32|libcrypto-3"
        self.assertEqual(run.extra, (SYSTEM_CAPTION, "could not load: (%s).dll" % names))
        self.assertEqual(run.rc, 1)
        self.assertEqual(run.log, [])  # node.dll is bound after OpenSSL

    # --- the reveal ---------------------------------------------------------------------

    def test_the_engine_gets_the_hidden_window_the_page_and_the_ten_functions(self):
        d = self.client_folder()
        run = self.run_client(d, ["call toviWinClose"])
        self.assertEqual(run.rc, 0)
        url = winpath(os.path.join(d, "page.txt"))
        for line in ("wkeInitialize", "wkeCreateWebWindow type=2 parent=wFrame x=0 y=0 w=500 h=325",
                     "wkeLoadURL url=" + url, "wkeShowWindow show=0"):
            self.assertIn(line, run.log)
        self.assertNotIn("wkeShowWindow show=1", run.log)
        self.assertEqual(sorted(line for line in run.log if line.startswith("wkeJsBindFunction")),
                         sorted("wkeJsBindFunction name=%s context=null args=1" % n for n in
                                ("toviWinMin", "toviWinMax", "toviWinClose", "toviScreenfull", "toviPrint",
                                 "toviRijie", "toviOpencash", "toviDisplay", "toviPrintRaw", "toviDeviceStatus")))
        # The view goes before the window, inside the call that closes it.
        end = [line for line in run.log if not line.startswith(("log", "probe"))][-3:]
        self.assertEqual(end, ["call toviWinClose arg=", "wkeDestroyWebWindow", "call toviWinClose -> 0"])

    def test_check_before_the_page_keeps_the_splash_until_the_page_is_ready(self):
        d = self.client_folder()
        run = self.run_client(d, ["waitlog update: up to date", "probe checked", "ready", "probe ready",
                                  "call toviWinClose"])
        self.assertEqual(run.rc, 0)
        checked = run.probe("checked")
        self.assertEqual(checked["main"]["visible"], "0")
        self.assertEqual(checked["splash"]["visible"], "1")
        self.assertEqual(checked["splash"]["rect"].split(",")[2:], ["440", "260"])
        self.assertEqual(checked["labels"], ["正在加载，请稍候……"])  # equal versions: never changed
        ready = run.probe("ready")
        self.assertEqual(ready["main"]["visible"], "1")
        self.assertNotIn("splash", ready)
        self.assertEqual(ready["view"]["visible"], "1")
        self.assertEqual(ready["view"]["focus"], "toviTestView")
        # Style: WS_POPUP | WS_BORDER | WS_SYSMENU | WS_CLIPCHILDREN, visible, no extended style.
        # WS_VISIBLE and WS_CLIPSIBLINGS (which the system gives every top-level window) aside.
        self.assertEqual(int(ready["main"]["style"], 16) & ~0x14000000, 0x80880000 | 0x02000000)
        self.assertEqual(int(ready["main"]["exstyle"], 16) & 0x8, 0)
        x, y, w, h = map(int, ready["main"]["rect"].split(","))
        sw, sh = ready["screen"]
        self.assertEqual((w, h), (500, 325))
        self.assertEqual((x, y), ((sw - 500) // 2, (sh - 325) // 2))

    def test_min_and_max_before_the_reveal_do_nothing_and_title_follows_the_page(self):
        d = self.client_folder()
        run = self.run_client(d, ["title 收银台 – 前台", "call toviWinMax", "call toviWinMin", "probe hidden",
                                  "ready", REVEALED, "probe shown", "call toviWinMax", "call toviWinMax",
                                  "probe max", "call toviWinClose"])
        self.assertEqual(run.rc, 0)
        hidden = run.probe("hidden")["main"]
        self.assertEqual((hidden["visible"], hidden["iconic"], hidden["zoomed"]), ("0", "0", "0"))
        self.assertEqual(hidden["text"], "收银台 – 前台")
        shown = run.probe("shown")["main"]
        self.assertEqual((shown["visible"], shown["iconic"], shown["zoomed"]), ("1", "0", "0"))
        mx = run.probe("max")
        self.assertEqual(mx["main"]["zoomed"], "1")
        self.assertEqual(mx["view"]["size"], "500,325")  # the view keeps its size
        self.assertIn("wkeGetTitle -> 收银台 – 前台", run.log)

    def test_screenfull_covers_the_screen_with_window_and_view(self):
        d = self.client_folder()
        run = self.run_client(d, ["ready", REVEALED, "call toviScreenfull", "call toviScreenfull", "probe full",
                                  "call toviWinClose"])
        self.assertEqual(run.rc, 0)
        full = run.probe("full")
        sw, sh = full["screen"]
        self.assertEqual(full["main"]["rect"], "0,0,%d,%d" % (sw, sh))
        self.assertEqual(full["view"]["size"], "%d,%d" % (sw, sh))
        self.assertIn("wkeResize w=%d h=%d" % (sw, sh), run.log)

    def test_close_from_the_page_ends_with_status_0(self):
        d = self.client_folder()
        run = self.run_client(d, ["ready", REVEALED, "call toviWinClose", "log not reached"])
        self.assertEqual(run.rc, 0)
        i = run.log.index("wkeDestroyWebWindow")
        self.assertEqual(run.log[i - 1], "call toviWinClose arg=")
        self.assertNotIn("log not reached", run.log)

    def test_close_before_the_reveal_ends_when_the_check_completes(self):
        d = self.client_folder()
        run = self.run_client(d, ["call toviWinClose"])
        self.assertEqual(run.rc, 0)
        self.assertNotIn("wkeShowWindow show=1", run.log)

    # --- the update stage ----------------------------------------------------------------

    def test_a_new_client_is_handed_to_the_support_program_which_restarts_it(self):
        # The same program with bytes appended: a different digest, and it still runs.
        with open(os.path.join(self.bin, "tovipos.exe"), "rb") as f:
            new_client = f.read() + b"\0new release\0"
        self.server.routes["/self/list.txt"] = Route(
            "status", manifest_bytes("self-1", [("tovipos.exe.txt", sha1_upper(new_client))]))
        self.server.routes["/self/tovipos.exe.txt"] = Route("status", new_client)
        self.addCleanup(self.server.routes.clear)
        d = self.client_folder(devices=True)
        self.write_config(d, "url=%s\n" % winpath(os.path.join(d, "page.txt")), update_path="/self/")
        run = self.run_client(d, ["ready", REVEALED, "call toviWinClose"], timeout=60)
        self.assertEqual(run.rc, 0)
        # The support program waits 1 s, moves the new file into place and starts the client again,
        # which finds the versions equal, shows its window and is closed by the page.
        deadline = time.time() + 40
        lines = []
        while time.time() < deadline:
            lines = Run._read(os.path.join(d, "engine.log"))
            if lines.count("call toviWinClose -> 0") >= 1:
                break
            time.sleep(0.3)
        first_run = lines[:lines.index("wkeInitialize", 1)] if lines.count("wkeInitialize") > 1 else lines
        self.assertNotIn("wkeShowWindow show=1", first_run)  # the first run never showed its window
        self.assertEqual(lines.count("wkeInitialize"), 2)
        self.assertIn("wkeShowWindow show=1", lines)
        self.assertIn("call toviWinClose -> 0", lines)
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.exe.txt")))
        with open(os.path.join(d, "tovipos.exe"), "rb") as f:
            self.assertEqual(f.read(), new_client)
        with open(os.path.join(d, "config.ini"), "rb") as f:
            self.assertIn(b"version=self-1", f.read())

    def test_a_failed_check_ends_the_client_with_the_report_and_no_main_window(self):
        d = self.client_folder()
        self.write_config(d, "url=%s\n" % winpath(os.path.join(d, "page.txt")), update_path="/nothing-here/")
        run = self.run_client(d, ["ready", "wait 20000", "log not reached"],
                              on_running=lambda r: self.wine.message_box(timeout=30))
        self.assertEqual(run.extra[0], SYSTEM_CAPTION)
        self.assertTrue(run.extra[1].startswith("Error: unhandled exception: 404 Not Found ["), run.extra)
        self.assertEqual(run.rc, 1)
        self.assertNotIn("wkeShowWindow show=1", run.log)
        self.assertNotIn("log not reached", run.log)
        texts = self.log_texts(d)
        self.assertTrue(any(t.startswith("update failed: 404 Not Found [") for t in texts), texts)
        self.assertEqual(texts[-1], "exit, status 1")

    # --- device requests ----------------------------------------------------------------

    # Closing the window lets the device queue work off what the page asked for before the client
    # ends: what the support programs did is all there once it has.

    def device_run(self, calls, device):
        """The run and its folder; run.extra: the fakes' log lines that start with `device`."""
        d = self.client_folder(devices=True)
        run = self.run_client(d, ["ready"] + calls + ["call toviWinClose"])
        run.extra = [line for line in run.fake if line.startswith(device)]
        return run, d

    def test_the_road_of_a_receipt(self):
        request = json.dumps({"interface": "USB", "opencash": "TRUE", "cut": "TRUE", "blankrow": "3",
                              "data": RECEIPT_TEXT}, ensure_ascii=False)
        run, d = self.device_run(["call toviPrint " + request], "winPrint")
        self.assertEqual(run.rc, 0)
        with open(os.path.join(d, "PrintOut1.txt"), "rb") as f:
            self.assertEqual(f.read(), RECEIPT_TEXT.encode("gb2312"))
        self.assertFalse(os.path.exists(os.path.join(d, "RiJie.txt")))
        body = b"".join(line.encode("gb2312") + b"\n" for line in RECEIPT_TEXT.split("\n"))
        expected = b"\x1b\x40" + b"\x1b\x70\x30\x3c\x78" + body + b"\n" * 3 + b"\x1d\x56\x42\x00"
        self.assertEqual(run.extra, ["winPrint " + hexof(expected)])
        self.assertIn("device request toviPrint: print PrintOut1.txt USB TRUE TRUE 3, exit code 0; result ok, id null",
                      self.log_texts(d))

    def test_settlement_report_goes_to_its_own_file(self):
        request = json.dumps({"interface": "USB", "opencash": "FALSE", "cut": "TRUE", "blankrow": "0",
                              "data": "日结\r\n现金 100"}, ensure_ascii=False)
        run, d = self.device_run(["call toviRijie " + request], "winPrint")
        with open(os.path.join(d, "RiJie.txt"), "rb") as f:
            self.assertEqual(f.read(), "日结\r\n现金 100".encode("gb2312"))
        self.assertFalse(os.path.exists(os.path.join(d, "PrintOut1.txt")))
        expected = b"\x1b\x40" + "日结\n现金 100\n".encode("gb2312") + b"\x1d\x56\x42\x00"
        self.assertEqual(run.extra, ["winPrint " + hexof(expected)])

    def test_cash_drawer(self):
        run, d = self.device_run(['call toviOpencash {"interface":"USB","opencash":"FALSE"}'], "winPrint")
        self.assertEqual(run.extra, ["winPrint " + hexof(b"\x1b\x40\x1b\x70\x30\x3c\x78")])
        self.assertFalse(os.path.exists(os.path.join(d, "PrintOut1.txt")))

    def test_customer_display(self):
        request = '{"interface":"COM3","display_type":"2","ysje":"12.50","baudrate":"9600"}'
        run, d = self.device_run(["call toviDisplay " + request], "com_send")
        self.assertEqual(run.extra, ["com_send 12 " + hexof(b"\x1b\x73" + b"2" + b"\x1b\x51\x41" + b"12.50\r")])
        self.assertIn("com_init 3 9600", run.fake)

    def test_a_malformed_request_is_refused_and_the_next_one_is_served(self):
        d = self.client_folder(devices=True)
        script = ["ready", REVEALED, "call toviPrint hello",
                  'call toviPrint {"interface":"USB","opencash":"TRUE","cut":"TRUE","blankrow":"3"}',
                  'call toviOpencash {"interface":"USB"}', "call toviWinClose"]
        run = self.run_client(d, script, on_running=lambda r: [self.wine.message_box(timeout=30),
                                                               self.wine.message_box(timeout=30)])
        boxes, prints = run.extra, [line for line in run.fake if line.startswith("winPrint")]
        self.assertEqual(boxes, [
            ("系统提示", "设备请求无效，未执行：request is not a JSON object [ValueError]"),
            ("系统提示", "设备请求无效，未执行：missing key: data [KeyError]")])
        self.assertEqual(run.rc, 0)
        self.assertFalse(os.path.exists(os.path.join(d, "PrintOut1.txt")))
        self.assertEqual(prints, ["winPrint " + hexof(b"\x1b\x40\x1b\x70\x30\x3c\x78")])
        self.assertIn("call toviPrint -> 0", run.log)


    def test_each_request_gets_its_result_through_the_engines_script(self):
        def req(rid, **more):
            return "call toviPrint " + json.dumps(dict(json.loads(self.receipt_request("x")), id=rid, report="page",
                                                       **more))
        script = ["ready", REVEALED, req("a1"), 'call toviDeviceStatus {"interface":"usb","id":"s1"}',
                  req("a2", interface="LPT9"), req("a3", blankrow="999"),
                  "call toviPrint hello", "waitlog FALSE FALSE 999, exit code", "wait 1000", "call toviWinClose"]
        refusal = ("系统提示", "设备请求无效，未执行：request is not a JSON object [ValueError]")
        # The virtual printer's state, read through winprint.dll, as the page gets it.
        low = {"connected": True, "online": True, "paperLow": True, "paperOut": False, "coverOpen": False,
               "drawerOpen": False, "error": False, "source": "virtual"}
        # engine, the page's results, the boxes: without the export "report" is ignored, boxes as today
        cases = [("testengine", [("a1", "ok", None, None), ("s1", "ok", None, low), ("a2", "failed", "NO_PRINTER", None),
                                 ("a3", "failed", "WRONG_CALL", None), (None, "refused", "BAD_REQUEST", None)],
                  [refusal]),
                 ("testengine_noorigin", [], [("系统提示", "打印小票出错"), ("系统提示", "您的调用命令是:PRINT\n调用参数不正确"),
                                              refusal])]
        for engine, results, boxes in cases:
            with self.subTest(engine=engine):
                d = self.client_folder(engine=engine, printer=True)
                with open(os.path.join(d, "devices.ini"), "a", encoding="utf-8", newline="\r\n") as f:
                    f.write("status = paper-low\n")
                run = self.run_client(d, script, on_running=lambda r, n=len(boxes): sorted(
                    self.wine.message_box(timeout=30) for _ in range(n)))
                details = [json.loads(line[line.index("{detail: ") + 9:-4]) for line in run.log if
                           line.startswith("script ")]
                self.assertEqual([(r["id"], r["outcome"], r["code"], r["status"]) for r in details], results)
                self.assertEqual(run.extra, sorted(boxes))
                self.assertEqual(self.printed_jobs(d), [self.receipt_bytes("x")])

    # --- the origins the page's functions answer -----------------------------------------

    def test_calls_from_untrusted_origins_are_refused_without_a_box(self):
        drawer = 'call toviOpencash {"interface":"USB"}'
        ignored = ('config.ini [base] trustedOrigins: "https://bad.example/" ignored: an origin has no path, query '
                   'or fragment: write scheme://host[:port]')
        # engine, calls after "ready", the device call awaited and the only one made, lines of the log
        cases = [("testengine", ["origin http://evil.example", drawer, "call toviPrint hello", "origin null",
                                 "call toviWinClose", "origin https://pay.example",
                                 'call toviDisplay {"interface":"COM3","display_type":"2","ysje":"1","baudrate":"9600"}',
                                 "origin file://"], "com_send",
                  [ignored, "the page's functions answer file:// https://pay.example",
                   "refused toviOpencash from http://evil.example: not a trusted origin"]),
                 ("testengine_noorigin", ["origin http://evil.example", drawer], "winPrint",
                  ["the web engine cannot name the origin of a call: every frame of every site reaches the page's "
                   "functions"])]
        for engine, calls, device, lines in cases:
            with self.subTest(engine=engine):
                d = self.client_folder(engine=engine, devices=True)
                self.write_config(d, "url=%s\ntrustedOrigins = https://PAY.example:443 https://bad.example/\n"
                                  % winpath(os.path.join(d, "page.txt")))
                run = self.run_client(d, ["ready"] + calls + ["call toviWinClose"], on_running=self.wine.box_while)
                self.assertEqual((run.rc, run.extra), (0, None))
                self.assertEqual([f.split()[0] for f in run.fake if f.startswith(("winPrint", "com_send"))], [device])
                self.assertLessEqual(set(lines), set(self.log_texts(d)))
                self.assertIn(ignored, run.stderr.splitlines())

    # --- untrusted requests, one at a time, through our real winprint.dll -------------------

    def printed_jobs(self, d):
        """The bytes of the virtual printer's jobs in order, read once the client has ended (its
        queue waits for each support program, so every job file is complete)."""
        folder = os.path.join(d, "virtual_printer")
        names = sorted(n for n in os.listdir(folder) if n.endswith(".bin")) if os.path.isdir(folder) else []
        jobs = []
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                jobs.append(f.read())
        return jobs

    @staticmethod
    def receipt_request(text, interface="USB", blankrow="0"):
        return json.dumps({"interface": interface, "opencash": "FALSE", "cut": "FALSE", "blankrow": blankrow,
                           "data": text}, ensure_ascii=False)

    @staticmethod
    def receipt_bytes(text):
        return b"\x1b\x40" + b"".join(line.encode("gb2312") + b"\n" for line in text.split("\n"))

    def all_files(self, d):
        return sorted(os.path.relpath(os.path.join(root, name), d)
                      for root, _dirs, names in os.walk(d) for name in names)

    def test_a_path_for_interface_starts_nothing_and_leaves_config_ini_as_it_was(self):
        d = self.client_folder(printer=True)
        with open(os.path.join(d, "config.ini"), "rb") as f:
            config = f.read()
        attack = self.receipt_request("\n[base]\nupdateUrl=http://evil.example/\nversion=x\n", "config.ini")
        script = ["ready", "call toviPrint " + attack, 'call toviOpencash {"interface":"USB"}', "call toviWinClose"]
        with open(os.path.join(d, "page.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        before = self.all_files(d)

        run = self.run_client(d, on_running=lambda r: self.wine.message_box(timeout=30))
        box, jobs = run.extra, self.printed_jobs(d)
        self.assertEqual(box, ("系统提示", "设备请求无效，未执行：interface is not a device name: config.ini [ValueError]"))
        self.assertEqual(run.rc, 0)
        with open(os.path.join(d, "config.ini"), "rb") as f:
            self.assertEqual(f.read(), config)
        # Nothing created but the engine's and the client's logs and the next request's job in the
        # virtual printer.
        created = set(self.all_files(d)) - set(before)
        self.assertEqual({c for c in created if not c.startswith("virtual_printer")}, {"engine.log", "tovipos.log"})
        self.assertEqual(jobs, [b"\x1b\x40\x1b\x70\x30\x3c\x78"])

    def test_two_receipts_in_one_turn_print_each_exactly_once_in_order(self):
        d = self.client_folder(printer=True)
        first, second, report = "顾客联\n合计 12.50", "商户联\n合计 12.50\n签名", "日结\n现金 100"
        # One script turn: the second receipt arrives while the first is still on its way.
        script = ["ready", "call toviPrint " + self.receipt_request(first),
                  "call toviPrint " + self.receipt_request(second), 'call toviOpencash {"interface":"USB"}',
                  "call toviRijie " + self.receipt_request(report), "call toviWinClose"]
        run = self.run_client(d, script)
        self.assertEqual(run.rc, 0)
        self.assertEqual(self.printed_jobs(d), [self.receipt_bytes(first), self.receipt_bytes(second),
                                     b"\x1b\x40\x1b\x70\x30\x3c\x78", self.receipt_bytes(report)])
        self.assertEqual(len(os.listdir(os.path.join(d, "virtual_printer"))), 8)  # .bin and .txt of each

    @staticmethod
    def raw_request(data, interface="USB"):
        return json.dumps({"interface": interface, "data": base64.b64encode(data).decode()})

    def test_raw_jobs_reach_the_virtual_printer_and_a_port_byte_for_byte(self):
        d = self.client_folder(printer=True)
        with open(os.path.join(d, "devices.ini"), "a", encoding="utf-8", newline="\r\n") as f:
            f.write("[ports]\nRAWOUT = raw-out.bin\n")
        data = bytes(range(256)) * 4
        script = ["ready", "call toviPrintRaw " + self.raw_request(data),
                  "call toviPrintRaw " + self.raw_request(data, "rawout"), "call toviWinClose"]
        run = self.run_client(d, script)
        self.assertEqual(run.rc, 0)
        self.assertEqual(self.printed_jobs(d), [data])
        with open(os.path.join(d, "raw-out.bin"), "rb") as f:
            self.assertEqual(f.read(), data)
        # The Windows virtual printer keeps the bytes and the transcript, no picture.
        self.assertEqual(sorted(os.listdir(os.path.join(d, "virtual_printer"))), ["job-000001.bin", "job-000001.txt"])
        self.assertIn("device request toviPrintRaw: printraw PrintRaw1.bin rawout, exit code 0; result ok, id null", self.log_texts(d))

    def test_bad_base64_gets_a_box_and_raw_and_text_jobs_of_one_turn_print_in_order(self):
        d = self.client_folder(printer=True)
        raw = b"\x1b\x40\x1d\x28\x6b\x03\x00\x31\x43\x06\x00\xff\n"
        script = ["ready", 'call toviPrintRaw {"interface":"USB","data":"G0A"}',
                  "call toviPrint " + self.receipt_request("顾客联"), "call toviPrintRaw " + self.raw_request(raw),
                  "call toviRijie " + self.receipt_request("日结"), "call toviWinClose"]
        run = self.run_client(d, script, on_running=lambda r: self.wine.message_box(timeout=30))
        box, jobs = run.extra, self.printed_jobs(d)
        self.assertEqual(run.rc, 0)
        self.assertEqual(box, ("系统提示", "设备请求无效，未执行：data is not base64 [ValueError]"))
        self.assertEqual(jobs, [self.receipt_bytes("顾客联"), raw, self.receipt_bytes("日结")])
        self.assertEqual(len(os.listdir(os.path.join(d, "virtual_printer"))), 6)

    def test_a_deeply_nested_request_and_an_unwritable_job_file_get_a_box_and_the_next_request_is_served(self):
        d = self.client_folder(printer=True)
        # A folder where the receipt's job file would go: it cannot be written.
        os.mkdir(os.path.join(d, "PrintOut1.txt"))
        nested = '{"interface":"USB","x":' + "[" * 1000000
        # The second box comes from the queue, only while the window is there: the window is
        # closed once the test has read both.
        script = ["ready", "call toviPrint " + nested, "call toviPrint " + self.receipt_request("lost"),
                  "call toviRijie " + self.receipt_request("日结"), "waitfile boxes-read", "call toviWinClose"]

        def watch(_running):
            boxes = [self.wine.message_box(timeout=30), self.wine.message_box(timeout=30)]
            open(os.path.join(d, "boxes-read"), "w").close()
            return boxes

        run = self.run_client(d, script, on_running=watch)
        boxes, jobs = run.extra, self.printed_jobs(d)
        self.assertEqual(run.rc, 0)
        self.assertEqual(boxes[0], ("系统提示", "设备请求无效，未执行：request is not a JSON object [ValueError]"))
        self.assertEqual(boxes[1][0], "系统提示")
        self.assertTrue(boxes[1][1].startswith("设备请求无效，未执行：cannot write PrintOut1.txt: "), boxes[1][1])
        self.assertTrue(boxes[1][1].endswith(" [IOError]"), boxes[1][1])
        self.assertEqual(jobs, [self.receipt_bytes("日结")])


if __name__ == "__main__":
    unittest.main()
