"""tovipos on Linux with the real WebKitGTK engine, under an X display (a private Xvfb and openbox
when DISPLAY is unset). Each test builds a till folder: the client, the engine, the support program,
the device libraries with a virtual printer, config.ini, cacert.pem, and a small local page whose
script calls the bridge. The update server is our HTTPS test server on 127.0.0.1.

Boxes: the client's own are GTK dialogs, each also one line on its standard error; they stay up
until dismissed (or the client is ended). The support program's come from zenity/xmessage: PATH
holds only stand-ins for those that record their text and return at once.
"""

import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_updater_server import UpdateServer, Route, make_pki, manifest_bytes  # noqa: E402
from virtual_display import (VirtualDisplay, dark_share, pixel, screenshot, visible_windows, wait_for,  # noqa: E402
                             window_geometry)

BIN = os.environ.get("TOVI_BIN", "")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NPM = os.environ.get("TOVI_NPM_DIR") or os.path.join(ROOT, "build", "npm")
# The encoder's browser build, as a page loads it; raw-receipt.js builds the demo's receipt with it.
ENCODER = os.path.join("node_modules", "@point-of-sale", "receipt-printer-encoder", "dist", "receipt-printer-encoder.umd.js")
RAW_RECEIPT_JS = os.path.join(ROOT, "demo", "page", "raw-receipt.js")
# The same file under Node: the browser build in this context, with the ImageData it expects of a browser.
NODE_BUILD = """
const fs = require('fs'), vm = require('vm');
globalThis.ImageData = require(process.argv[2] + '/node_modules/@canvas/image-data');
vm.runInThisContext(fs.readFileSync(process.argv[2] + '/' + process.argv[3], 'utf8'));
const receipt = require(process.argv[4]);
process.stdout.write(Buffer.from(receipt.build(ReceiptPrinterEncoder, JSON.parse(process.argv[5]))).toString('hex'));
"""
RESET = bytes([0x1B, 0x40])
PULSE = bytes([0x1B, 0x70, 0x30, 0x3C, 0x78])
CUT = bytes([0x1D, 0x56, 0x42, 0x00])
FILES = ["tovipos", "libtovi_webengine.so", "tovipos_print", "libwinprint.so", "libapi_com.so"]
BOX_CAPTION = "系统提示"
DIALOG_STANDIN = "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$TOVI_DIALOG_LOG\"\nexit 0\n"

_displays = []
PKI = None


def setUpModule():
    global PKI
    for f in FILES:
        if not os.path.exists(os.path.join(BIN, f)):
            raise unittest.SkipTest("build %s first (TOVI_BIN=%r)" % (f, BIN))
    if not shutil.which("xdotool"):
        raise unittest.SkipTest("xdotool is not installed")
    if not os.environ.get("DISPLAY"):
        display = VirtualDisplay()
        try:
            display.start()
        except RuntimeError as e:
            raise unittest.SkipTest(str(e))
        _displays.append(display)
    PKI = make_pki(tempfile.mkdtemp(prefix="tovi-client-pki-"))


def tearDownModule():
    for d in _displays:
        d.stop()
    if PKI:
        shutil.rmtree(PKI, True)


def page(title, script, body=""):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title></head>"
            "<body style='margin:0'>%s<script>%s</script></body></html>" % (title, body, script))


class Till:
    """A till folder with an update server; run() starts the client in it."""

    def __init__(self, test, html, version="1", list_route=None, extra_ini="", url=None, base_ini=""):
        self.dir = tempfile.mkdtemp(prefix="tovi-client-")
        test.addCleanup(shutil.rmtree, self.dir, True)
        for f in FILES:
            shutil.copy(os.path.join(BIN, f), self.dir)
        shutil.copy(os.path.join(PKI, "ca.pem"), os.path.join(self.dir, "cacert.pem"))
        self.tools = os.path.join(self.dir, "tools")
        os.makedirs(self.tools)
        for name in ("zenity", "xmessage"):
            p = os.path.join(self.tools, name)
            with open(p, "w") as f:
                f.write(DIALOG_STANDIN)
            os.chmod(p, 0o755)
        self.dialog_log = os.path.join(self.dir, "dialogs.log")
        with open(os.path.join(self.dir, "devices.ini"), "w") as f:
            f.write("[printer]\nfolder = virtual_printer\n" + extra_ini)
        with open(os.path.join(self.dir, "page.html"), "w", encoding="utf-8") as f:
            f.write(html)
        srv = os.path.join(self.dir, "srv")
        os.makedirs(os.path.join(srv, "update"))
        # The same version as config.ini: the check completes without installing anything.
        with open(os.path.join(srv, "update", "list.txt"), "wb") as f:
            f.write(manifest_bytes(version, []))
        self.server = UpdateServer(srv, PKI)
        if list_route:
            self.server.routes["/update/list.txt"] = list_route
        self.server.__enter__()
        test.addCleanup(self.server.__exit__)
        with open(os.path.join(self.dir, "config.ini"), "w") as f:
            f.write("[base]\nurl = %s\nupdateUrl = %s\nversion = %s\n%s"
                    % (url or "file://%s/page.html" % self.dir, self.server.url("/update/"), version, base_ini))
        self.proc = None
        test.addCleanup(self.stop)

    def run(self):
        env = dict(os.environ, PATH=self.tools, TOVI_DIALOG_LOG=self.dialog_log)
        # The client's output goes to a file, so that a failing case can show it.
        with open(self.path("client.log"), "wb") as log:
            self.proc = subprocess.Popen([os.path.join(self.dir, "tovipos")], cwd=self.dir, env=env,
                                         stdout=log, stderr=subprocess.STDOUT)
        return self.proc

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def log(self):
        """What the client printed so far, for failure messages."""
        try:
            with open(self.path("client.log"), "rb") as f:
                return "client output:\n" + f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return "client not started"

    def box_lines(self):
        """The client's boxes so far, as the lines it wrote for them."""
        try:
            with open(self.path("client.log"), "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []
        return [line for line in lines if line.startswith(BOX_CAPTION + ": ")]

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def jobs(self):
        folder = self.path("virtual_printer")
        if not os.path.isdir(folder):
            return []
        return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".bin"))

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()


def call(fn, obj):
    return "%s(JSON.stringify(%s));" % (fn, obj)


RECEIPT = "{data: '中文 12.50\\nB\\n', interface: 'USB', opencash: 'TRUE', cut: 'TRUE', blankrow: '3'}"


class ClientTest(unittest.TestCase):
    def test_receipt_reaches_the_printer(self):
        till = Till(self, page("tovi-receipt", call("toviPrint", RECEIPT)))
        till.run()
        self.assertTrue(wait_for(lambda: till.jobs(), 30), "no print job; " + till.log())
        self.assertEqual(till.read("PrintOut1.txt"), "中文 12.50\nB\n".encode("gb2312"))
        time.sleep(0.5)
        with open(till.jobs()[0], "rb") as f:
            self.assertEqual(f.read(), RESET + PULSE + "中文 12.50\nB\n\n".encode("gb2312") + b"\n" * 3 + CUT)

    def test_a_raw_receipt_from_the_npm_encoder_prints_exactly_and_its_picture_reads_back(self):
        r = subprocess.run(["bash", os.path.join(ROOT, "scripts", "npm-deps.sh"), NPM], capture_output=True, timeout=600)
        self.assertEqual(r.returncode, 0, "npm packages: " + r.stderr.decode("utf-8", "replace"))
        if not shutil.which("zbarimg"):
            self.skipTest("zbarimg is not installed")
        receipt = {"shop": "演示门店", "time": "2026-12-08 14:03:05", "total": "23.10", "number": "TOVI-000123",
                   "url": "https://pos.example.com/e-invoice?no=TOVI-000123",
                   "items": [{"name": "矿泉水", "count": 2, "amount": "4.00"}, {"name": "牛奶", "count": 1, "amount": "5.50"}]}
        script = ("var bytes = toviRawReceipt.build(ReceiptPrinterEncoder, %s);"
                  "toviPrintRaw(JSON.stringify({interface: 'USB', data: toviRawReceipt.base64(bytes)}));"
                  % json.dumps(receipt, ensure_ascii=False))
        html = page("tovi-raw", script).replace("<title>", "<script src='encoder.js'></script>"
                                                "<script src='raw-receipt.js'></script><title>")
        till = Till(self, html)
        shutil.copy(os.path.join(NPM, ENCODER), till.path("encoder.js"))
        shutil.copy(RAW_RECEIPT_JS, till.dir)
        # A script file: under "node -e" the browser build would see Node's module object and hide in it.
        with open(till.path("build.js"), "w") as f:
            f.write(NODE_BUILD)
        expected = subprocess.run(["node", till.path("build.js"), NPM, ENCODER, RAW_RECEIPT_JS, json.dumps(receipt)],
                                  capture_output=True, check=True, timeout=60).stdout.decode()
        till.run()
        picture = till.path("virtual_printer", "job-000001.png")
        self.assertTrue(wait_for(lambda: os.path.exists(picture), 30), "no picture; " + till.log())
        time.sleep(0.5)
        self.assertEqual(till.read("virtual_printer", "job-000001.bin").hex(), expected)
        self.assertEqual(till.read("PrintRaw1.bin").hex(), expected)
        codes = subprocess.run(["zbarimg", "-q", picture], capture_output=True).stdout.decode().splitlines()
        self.assertEqual(sorted(codes), ["CODE-128:TOVI-000123", "QR-Code:" + receipt["url"]])

    def test_settlement_drawer_and_display(self):
        if not shutil.which("socat"):
            self.skipTest("socat is not installed")
        tmp = tempfile.mkdtemp(prefix="tovi-pty-")
        self.addCleanup(shutil.rmtree, tmp, True)
        a, b = os.path.join(tmp, "a"), os.path.join(tmp, "b")
        socat = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b],
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (socat.terminate(), socat.wait(5)))
        self.assertTrue(wait_for(lambda: os.path.exists(a) and os.path.exists(b), 10))
        reader = os.open(b, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        script = (call("toviRijie", "{data: '日结 100.00\\n', interface: 'USB', opencash: 'FALSE', cut: 'TRUE', "
                       "blankrow: '0'}")
                  + "setTimeout(function(){" + call("toviOpencash", "{interface: 'USB'}") + "}, 700);"
                  + "setTimeout(function(){" + call("toviDisplay", "{interface: 'COM1', display_type: '2', "
                                                    "ysje: '12.50', baudrate: '9600'}") + "}, 1400);")
        till = Till(self, page("tovi-devices", script), extra_ini="[serial]\nport1 = %s\n" % os.path.realpath(a))
        till.run()
        self.assertTrue(wait_for(lambda: len(till.jobs()) >= 2, 30), "jobs: %r" % till.jobs())
        self.assertEqual(till.read("RiJie.txt"), "日结 100.00\n".encode("gb2312"))
        with open(till.jobs()[0], "rb") as f:
            self.assertEqual(f.read(), RESET + "日结 100.00\n\n".encode("gb2312") + CUT)
        with open(till.jobs()[1], "rb") as f:
            self.assertEqual(f.read(), RESET + PULSE)
        got = bytearray()

        def display_sent():
            try:
                got.extend(os.read(reader, 4096))
            except BlockingIOError:
                pass
            return b"12.50" in got
        self.assertTrue(wait_for(display_sent, 20), "display bytes: %r" % bytes(got))

    def test_chinese_title_and_close_ends_with_status_0(self):
        till = Till(self, page("收银台 tovi-title", "setTimeout(function(){toviWinClose('');}, 3000);"))
        proc = till.run()
        windows = wait_for(lambda: visible_windows("tovi-title"), 30)
        self.assertTrue(windows, "the main window was never shown; " + till.log())
        r = subprocess.run(["xprop", "-id", windows[0], "_NET_WM_NAME"], capture_output=True)
        self.assertIn("收银台 tovi-title".encode("utf-8"), r.stdout)
        proc.wait(timeout=30)
        self.assertEqual(proc.returncode, 0, till.log())

    def test_malformed_requests_leave_the_client_running(self):
        script = ("toviPrint('not json'); toviPrint(JSON.stringify({interface: 'USB'}));"
                  "setTimeout(function(){" + call("toviPrint", RECEIPT) + "}, 1500);")
        till = Till(self, page("tovi-malformed", script))
        proc = till.run()
        self.assertTrue(wait_for(lambda: till.jobs(), 30), "the valid request after the bad ones did nothing")
        self.assertIsNone(proc.poll())
        self.assertEqual(len(till.jobs()), 1)
        self.assertGreaterEqual(len(till.box_lines()), 2, till.log())

    def test_reveal_waits_for_the_page(self):
        # The page itself trickles in over about 5 s from a plain HTTP server; the update check is
        # quick.
        html = page("tovi-slowpage", "").encode("utf-8")
        html = html.replace(b"<body", b"<!--" + b" " * 2000 + b"--><body")
        slow = UpdateServer(tempfile.mkdtemp(prefix="tovi-slowpage-"), PKI, tls=False)
        slow.routes["/page.html"] = Route("slow", body=html, piece=max(1, len(html) // 25), interval=0.2,
                                          headers={"Content-Type": "text/html; charset=utf-8"})
        slow.__enter__()
        self.addCleanup(slow.__exit__)
        till = Till(self, "", url=slow.url("/page.html"))
        till.run()
        time.sleep(2.5)
        self.assertEqual(visible_windows("tovi-slowpage"), [], "revealed before the page was loaded")
        self.assertTrue(wait_for(lambda: visible_windows("tovi-slowpage"), 30), "never revealed; " + till.log())

    def test_only_trusted_origins_reach_the_till(self):
        # HTTP servers A (127.0.0.1: the start's redirect; localhost: listed), B (localhost: the start).
        a, b = (UpdateServer(tempfile.mkdtemp(prefix="tovi-origin-"), PKI, tls=False).__enter__() for _ in range(2))
        self.addCleanup(a.__exit__)
        self.addCleanup(b.__exit__)
        A, B, listed = a.url(""), b.url(""), a.url("", host="localhost")

        def serve(srv, path, script, body=""):
            printing = ("function q(w) { return JSON.stringify({data: w, interface: 'USB', opencash: 'FALSE', "
                        "cut: 'FALSE', blankrow: '0'}); } function p(w) { toviPrint(q(w)); }")
            srv.routes[path] = Route("status", page(path, printing + script, body).encode("utf-8"),
                                     headers={"Content-Type": "text/html; charset=utf-8"})
        b.routes["/start"] = Route("redirect", status=302, reason="Found", location=A + "/pos.html")
        serve(a, "/pos.html", "p('top'); addEventListener('message', function (e) { if (e.data === 'done') "
              "setTimeout(function () { location = '%s/nav.html'; }, 500); });" % B,
              "<iframe src='/same.html'></iframe><iframe src='%s/cross.html'></iframe><iframe src='%s/listed.html'>"
              "</iframe><iframe sandbox='allow-scripts' srcdoc=\"<script>toviPrint('x')</script>\"></iframe>"
              "<iframe src=\"data:text/html,<script>toviPrint('x')</script>\"></iframe>" % (B, listed))
        serve(a, "/same.html", "p('same');", "<iframe src='%s/nested.html'></iframe>" % B)
        serve(a, "/listed.html", "p('listed');")
        serve(b, "/cross.html", "p('cross');")
        # Depth 2: a frame of its own making, a new window of a trusted page, the roads beneath the
        # functions named with a trusted origin, after redefining its own.
        serve(b, "/nested.html", "p('nested'); var f = document.createElement('iframe'); document.body.appendChild(f);"
              "f.contentWindow.toviPrint('made'); window.open('%s/popup.html');"
              "Object.defineProperty(window, 'origin', {value: '%s'}); var c = {kind: 'call', fn: 'toviPrint', "
              "args: [q('forged')], origin: '%s'}; document.dispatchEvent(new CustomEvent('toviCall', {detail: "
              "JSON.stringify(c)})); if (window.webkit) window.webkit.messageHandlers.toviNative.postMessage(c);"
              "top.postMessage('done', '*');" % (A, A, A))
        serve(b, "/nav.html", "p('navigated'); setTimeout(function () { location = '%s/done.html'; }, 300);" % A)
        serve(a, "/popup.html", "p('popup');")
        serve(a, "/done.html", "p('done');")
        till = Till(self, "", url=b.url("/start", host="localhost"), base_ini="trustedOrigins = %s\n" % listed.upper())
        till.run()

        def printed():
            return sorted(till.read(j)[2:].strip().decode() for j in till.jobs())
        # Calls are answered in the order of the page's calls: once "done" printed, all were.
        self.assertTrue(wait_for(lambda: "done" in printed(), 60), "%r; %s" % (printed(), till.log()))
        self.assertEqual(printed(), ["done", "listed", "same", "top"])
        self.assertEqual(till.box_lines(), [])
        log = till.read("tovipos.log").decode("utf-8")
        self.assertIn("the page's functions also answer %s, reached by the start address" % A, log)
        # The first refusal (the others may fall within its second).
        self.assertRegex(log, r"refused toviPrint from (null|%s): not a trusted origin" % re.escape(B))
        self.assertIn("a new window was not opened: %s/popup.html" % A, till.log())

    def show_coloured_page(self, title, colour, script=""):
        """Runs the client on a page that is one colour edge to edge; (till, window ids)."""
        if not shutil.which("import") or not shutil.which("convert"):
            self.skipTest("imagemagick is not installed")
        block = ("<div id='b' style='position:fixed;left:0;top:0;width:100%%;height:100%%;background:%s'></div>"
                 % colour)
        till = Till(self, page(title, script, block))
        till.run()
        windows = wait_for(lambda: visible_windows(title), 30)
        self.assertTrue(windows, till.log())
        return till, windows

    def test_screenshot_shows_the_page(self):
        till, windows = self.show_coloured_page("tovi-shot", "#12c456")
        time.sleep(1.5)  # a frame or two to paint
        shot = till.path("shot.png")
        self.assertTrue(screenshot(shot))
        x, y, width, height = window_geometry(windows[0])
        self.assertEqual(pixel(shot, x + width // 2, y + height // 2), (0x12, 0xC4, 0x56),
                         "centre pixel of the window is not the page")

    def box_on_screen(self, till, shot, name=BOX_CAPTION):
        """Checks that the one box of that window name is drawn (text and a button: dark pixels on
        a light box); returns its window id and geometry."""
        boxes = wait_for(lambda: visible_windows(name), 20)
        self.assertEqual(len(boxes), 1, "boxes: %r; %s" % (boxes, till.log()))
        time.sleep(1)  # drawn
        self.assertTrue(screenshot(shot))
        geometry = window_geometry(boxes[0])
        x, y, width, height = geometry
        # Mostly light with some dark text: a blank box is all light, an unpainted one all black.
        # (Text in a missing font would show as empty squares; look at the screenshot then.)
        dark = dark_share(shot, x, y, width, height)
        self.assertTrue(0.01 < dark < 0.3, "dark share %.3f: the box is not drawn; see %s" % (dark, shot))
        return boxes[0], geometry

    def test_box_with_chinese_text_is_modal_and_dismissed_by_enter(self):
        # The first click sends a malformed request (a box) and turns the page blue a second later;
        # a later click prints a receipt.
        script = ("var clicks = 0; document.addEventListener('click', function() {"
                  " if (clicks++ == 0) { toviPrint('not json'); setTimeout(function() {"
                  " document.getElementById('b').style.background = '#1234c4'; }, 1000); }"
                  " else { " + call("toviPrint", RECEIPT) + " } });")
        till, windows = self.show_coloured_page("tovi-box", "#12c456", script)
        x, y, width, height = window_geometry(windows[0])
        time.sleep(1)
        click = ["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"]
        subprocess.run(click, check=True)
        self.box_on_screen(till, till.path("box.png"))
        self.assertEqual(len(till.box_lines()), 1, till.log())
        self.assertIn("设备请求无效，未执行：", till.box_lines()[0])
        # The main loop ran on: the page's change, a second after the box came up, is on screen.
        self.assertEqual(pixel(till.path("box.png"), x + 6, y + 6), (0x12, 0x34, 0xC4),
                         "the main window did not repaint while the box was up")
        self.assertEqual(till.jobs(), [])
        subprocess.run(["xdotool", "key", "Return"], check=True)
        self.assertTrue(wait_for(lambda: not visible_windows(BOX_CAPTION), 10), "Enter did not dismiss the box")
        self.assertIsNone(till.proc.poll())
        # The main window takes clicks again, and the client still serves the page. (The pointer
        # moves first: a press with no motion since the box went is at times lost in the view.)
        subprocess.run(["xdotool", "mousemove", str(x + width // 3), str(y + height // 3), "click", "1"], check=True)
        self.assertTrue(wait_for(lambda: till.jobs(), 30), "no print job after the box; " + till.log())
        self.assertEqual(len(till.box_lines()), 1)

    def test_support_program_box_is_dismissed_from_the_keyboard(self):
        if not shutil.which("import") or not shutil.which("convert"):
            self.skipTest("imagemagick is not installed")
        # The program on PATH is the only one the support program can find; xmessage is its last
        # resort (it names its window after itself).
        cases = [("zenity", BOX_CAPTION, "Return"), ("xmessage", "xmessage", "Return"),
                 ("xmessage", "xmessage", "Escape")]
        for program, window, key in cases:
            with self.subTest(program=program, key=key):
                if not shutil.which(program):
                    self.skipTest(program + " is not installed")
                till = Till(self, page("tovi-support-box", ""))
                tools = till.path("only-" + program)
                os.makedirs(tools)
                os.symlink(shutil.which(program), os.path.join(tools, program))
                proc = subprocess.Popen([till.path("tovipos_print"), "hello"], cwd=till.dir,
                                        env=dict(os.environ, PATH=tools), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
                self.addCleanup(lambda p=proc: p.poll() is None and (p.kill(), p.communicate(timeout=10)))
                self.box_on_screen(till, till.path("support-box.png"), window)
                self.assertIsNone(proc.poll(), "the program ended before its box was dismissed")
                subprocess.run(["xdotool", "key", key], check=True)
                _, err = proc.communicate(timeout=15)
                self.assertEqual(proc.returncode, 0)
                self.assertIn("调用参数不正确", err.decode("utf-8"))

    def test_screenfull_covers_the_screen_with_window_and_view(self):
        till, windows = self.show_coloured_page("tovi-full", "#c41256",
                                                "setTimeout(function(){toviScreenfull('');}, 800);")
        screen = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, text=True).stdout.split()
        width, height = int(screen[0]), int(screen[1])
        self.assertTrue(wait_for(lambda: window_geometry(windows[0]) == (0, 0, width, height), 15),
                        "window at %r" % (window_geometry(windows[0]),))
        time.sleep(1.5)  # the view's resize runs from the main loop, then a frame paints
        shot = till.path("full.png")
        self.assertTrue(screenshot(shot))
        # The page's colour reaches the far corner only if the view grew with the window.
        for x, y in ((width - 3, height - 3), (2, 2)):
            self.assertEqual(pixel(shot, x, y), (0xC4, 0x12, 0x56), "pixel at %d,%d is not the page" % (x, y))


# The page's side of results: every tovipos-result event, and where the page is, in its title.
RESULTS_JS = ("var got = []; function show() { document.title = 'tovi-results ' + JSON.stringify("
              "{at: location.search + location.hash, got: got}); } show();"
              "var FACTS = ['connected', 'online', 'paperLow', 'paperOut', 'coverOpen', 'drawerOpen', 'error', 'source'];"
              "addEventListener('tovipos-result', function (e) { var d = e.detail; got.push([d.id, d.function, "
              "d.outcome, d.code, d.late, d.message.slice(0, 6), d.status && FACTS.map(function (k) { "
              "return d.status[k]; })]); show(); });"
              "function req(fn, o) { window[fn](typeof o === 'string' ? o : JSON.stringify(o)); }"
              "var R = {interface: 'USB', opencash: 'FALSE', cut: 'FALSE', blankrow: '0', data: 'x'};"
              "function job(more) { return Object.assign({}, R, more); }")


def page_results(till, done, timeout=30):
    """The page's {at, got} once done(it) holds (else the last one read)."""
    last = [None]

    def read():
        for w in visible_windows("tovi-results"):
            name = subprocess.run(["xdotool", "getwindowname", w], capture_output=True, text=True).stdout.strip()
            if " " not in name:
                continue  # the page's own title, before its script has run
            last[0] = json.loads(name.split(" ", 1)[1])
            if done(last[0]):
                return last[0]
    return wait_for(read, timeout) or last[0]


class ResultsTest(unittest.TestCase):
    def serve(self, routes):
        srv = UpdateServer(tempfile.mkdtemp(prefix="tovi-results-"), PKI, tls=False).__enter__()
        self.addCleanup(srv.__exit__)
        self.add(srv, routes)
        return srv

    @staticmethod
    def add(srv, routes):
        for path, html in routes.items():
            srv.routes[path] = Route("status", html.encode("utf-8"), headers={"Content-Type": "text/html; charset=utf-8"})

    def test_every_request_gets_one_result_in_call_order(self):
        srv = self.serve({"/frame.html": page("f", "toviPrint(JSON.stringify({id: 'frame', interface: 'USB', "
                                                    "opencash: 'F', cut: 'F', blankrow: '0', data: 'x'}));")})
        raw = base64.b64encode(b"\x1b@raw\n").decode()
        script = RESULTS_JS + (
            "req('toviPrint', job({id: 'r1'})); req('toviPrint', job({id: 'r2', interface: 'LPT9', report: 'page'}));"
            "req('toviPrint', job({id: 'r3', interface: 'FULL'})); req('toviOpencash', {id: 'r4', interface: 'USB'});"
            "req('toviDisplay', {id: 'r5', interface: 'COM1', display_type: '2', ysje: '1.00', baudrate: '9600'});"
            "req('toviPrint', job({id: 'r6', blankrow: '999'})); req('toviPrint', 'not json');"
            "req('toviOpencash', {id: 'bad id!', interface: 'USB'});"
            "req('toviRijie', job({id: 'r7', expireMs: 86400000})); req('toviPrintRaw', {id: 'r8', interface: 'USB', "
            "data: '%s'}); req('toviPrint', job({id: 'r9', expireMs: 1}));"
            "req('toviOpencash', {id: 'r10', interface: 'USB', expireMs: 0, report: 'page'});" % raw)
        till = Till(self, page("tovi-results", script, "<iframe src='%s'></iframe>" % srv.url("/frame.html")),
                    extra_ini="[ports]\nFULL = /dev/full\n[serial]\nport1 = /nonexistent/tty\n")
        till.run()
        got = page_results(till, lambda r: len(r["got"]) >= 12)["got"]
        self.assertEqual([tuple(r[:5]) for r in got], [
            ("r1", "toviPrint", "ok", None, False), ("r2", "toviPrint", "failed", "NO_PRINTER", False),
            ("r3", "toviPrint", "failed", "WRITE_FAILED", False), ("r4", "toviOpencash", "ok", None, False),
            ("r5", "toviDisplay", "failed", "DISPLAY_FAILED", False), ("r6", "toviPrint", "failed", "WRONG_CALL", False),
            (None, "toviPrint", "refused", "BAD_REQUEST", False), (None, "toviOpencash", "refused", "BAD_REQUEST", False),
            ("r7", "toviRijie", "ok", None, False), ("r8", "toviPrintRaw", "ok", None, False),
            ("r9", "toviPrint", "expired", "EXPIRED", False), ("r10", "toviOpencash", "refused", "BAD_REQUEST", False)],
            till.log())
        self.assertEqual((got[1][5], got[0][5], got[10][5]), ("打印小票出错", "", ""))
        self.assertTrue(wait_for(lambda: "refused toviPrint from " + srv.url("") in till.read("tovipos.log").decode(), 20))
        time.sleep(1)
        self.assertEqual(len(page_results(till, lambda r: False, 0)["got"]), 12)  # none for the frame, none twice
        # r2 asked the page to report: only r3's print failure had a box; r10's refusal had none.
        with open(till.dialog_log, encoding="utf-8") as f:
            self.assertEqual(f.read().count("打印小票出错"), 1)
        self.assertEqual(sum("设备请求无效" in line for line in till.box_lines()), 2, till.log())
        self.assertIn("device request toviPrint: print PrintOut1.txt LPT9 FALSE FALSE 0, exit code 0; result failed "
                      "NO_PRINTER, id r2", till.read("tovipos.log").decode())

    def test_the_virtual_printers_states_reach_the_page(self):
        T, F, N = True, False, None
        low, shut = [T, T, T, F, F, T, F, "virtual"], [T, F, T, T, T, F, F, "virtual"]
        # devices.ini [printer] lines; the results of a status request, a receipt and a drawer pulse as
        # (outcome, code, status)
        cases = [("", [("ok", N, [T, T, F, F, F, F, F, "virtual"]), ("ok", N, N), ("ok", N, N)]),
                 ("status = paper-low drawer-open\ncheck_status = true\n", [("ok", N, low)] * 3),
                 ("status = cover-open paper-out\ncheck_status = true\n", [("ok", N, shut)] + [("failed", "COVER_OPEN", shut)] * 2),
                 ("status = offline\n", [("ok", N, [T, F, F, F, F, F, F, "virtual"])] + [("failed", "OFFLINE", N)] * 2)]
        # Last, a port that cannot be opened: not connected, nothing else known.
        script = RESULTS_JS + ("req('toviDeviceStatus', {id: 's1', interface: 'USB'}); req('toviPrint', job({id: 'p1'}));"
                               "req('toviOpencash', {id: 'd1', interface: 'usb', report: 'page'});"
                               "req('toviDeviceStatus', {id: 's2', interface: 'LPT9', report: 'page'});")
        for ini, results in cases:
            with self.subTest(ini=ini):
                till = Till(self, page("tovi-results", script), extra_ini=ini)
                till.run()
                got = page_results(till, lambda r: len(r["got"]) >= 4)["got"]
                self.assertEqual([(r[0], r[2], r[3], r[6]) for r in got], [
                    (i,) + r for i, r in zip(("s1", "p1", "d1"), results)] + [
                    ("s2", "failed", "NO_PRINTER", [F, N, N, N, N, N, N, "none"])], till.log())
                till.stop()

    def test_results_wait_through_a_reload_and_another_site_and_arrive_late(self):
        # The start page's site and another one, not trusted.
        home, other = self.serve({}), self.serve({})
        self.add(other, {"/away.html": page("away", (
            "var got = 0; addEventListener('tovipos-result', function () { got++; });"
            "setTimeout(function () { location = '%s?3' + location.search.replace('?', '&') + (got ? '#leak' : "
            "'#clean'); }, 3500);") % home.url("/page.html"))})
        self.add(home, {"/page.html": page("tovi-results", RESULTS_JS + (
            "var slow = job({interface: 'LPT9'}); if (!location.search) { req('toviPrint', Object.assign({id: 's1'}, "
            "slow)); location.replace('page.html?2'); } else if (location.search == '?2') "
            "addEventListener('tovipos-result', function (e) { req('toviPrint', Object.assign({id: 's2'}, slow));"
            " location = '%s?s1late=' + e.detail.late; });") % other.url("/away.html"))})
        till = Till(self, "", url=home.url("/page.html"))
        # The support program's box takes a while: the request still runs when the page moves on.
        with open(os.path.join(till.tools, "zenity"), "w") as f:
            f.write(DIALOG_STANDIN.replace("exit 0", "/bin/sleep 1.5; exit 0"))
        till.run()
        r = page_results(till, lambda r: r["at"].startswith("?3") and r["got"], 40)
        self.assertEqual(r["at"], "?3&s1late=true#clean", till.log())
        self.assertEqual([(x[0], x[3], x[4]) for x in r["got"]], [("s2", "NO_PRINTER", True)])


if __name__ == "__main__":
    unittest.main()
