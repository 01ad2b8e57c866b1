#!/usr/bin/env python3
"""The demo till on Linux, from built programs.

Puts together a till folder (the client, its web engine, the support program, the device libraries
with a virtual printer and a pty-backed customer display, config.ini, cacert.pem, the demo page), a
demo CA and a local HTTPS update server on 127.0.0.1 whose update folder the publishing tool made
from a newer release of the page, and starts the client in it.

With a desktop (DISPLAY set) a person watches the splash show the update, then presses the page's
buttons and closes the window. Without one (or with --auto) the client runs on a private Xvfb, the
page presses its own buttons, screenshots are taken, and everything ends within a bounded time.
Either way the end is a summary of where the receipts, the display bytes and the screenshots are.
Exit status 0 when the driven run produced everything it should (always 0 for a watched run that
ended normally).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The local HTTPS server and the private display of the tests serve the demo as well.
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))
from test_updater_server import Route, UpdateServer, make_pki  # noqa: E402
from virtual_display import VirtualDisplay, screenshot, visible_windows, wait_for  # noqa: E402

FILES = ["tovipos", "libtovi_webengine.so", "tovipos_print", "libwinprint.so", "libapi_com.so"]
PAGE_TITLE = "演示收银台"
NEW_VERSION = "demo-2"
# Receipt with drawer pulse, picture receipt, drawer alone, settlement report.
EXPECTED_JOBS = 4
# The encoder's browser build in the npm folder (scripts/npm-deps.sh), and where the page loads it.
ENCODER = os.path.join("node_modules", "@point-of-sale", "receipt-printer-encoder", "dist",
                       "receipt-printer-encoder.umd.js")
PAGE_ENCODER = os.path.join("vendor", "receipt-printer-encoder.umd.js")


def page_with_encoder(dest, npm):
    """The demo page in dest, with the encoder from the npm folder and tovipos.js beside it."""
    shutil.copytree(os.path.join(HERE, "page"), dest)
    shutil.copy(os.path.join(HERE, "..", "client", "page", "tovipos.js"), dest)
    os.makedirs(os.path.join(dest, "vendor"))
    shutil.copy(os.path.join(npm, ENCODER), os.path.join(dest, PAGE_ENCODER))


def log(text):
    print("demo: " + text, flush=True)


class CustomerDisplay:
    """A pty pair from socat: the client's COM1 is one end, this reader keeps what arrives at the other."""

    def __init__(self, folder, sink):
        self.a, self.b = os.path.join(folder, "com1"), os.path.join(folder, "display-side")
        self.sink = sink
        self.proc = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + self.a, "pty,raw,echo=0,link=" + self.b],
                                     stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.a) and os.path.exists(self.b), 10):
            raise RuntimeError("socat made no pty pair")
        self.fd = os.open(self.b, os.O_RDONLY | os.O_NONBLOCK)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def port(self):
        return os.path.realpath(self.a)

    def _read(self):
        with open(self.sink, "ab") as out:
            while not self.stopping.wait(0.05):
                try:
                    data = os.read(self.fd, 4096)
                except BlockingIOError:
                    continue
                except OSError:
                    return
                out.write(data)
                out.flush()

    def received(self):
        with open(self.sink, "rb") as f:
            return f.read()

    def stop(self):
        self.stopping.set()
        self.thread.join(5)
        os.close(self.fd)
        self.proc.terminate()
        self.proc.wait(5)


def set_ini_value(path, key, value):
    """Rewrites one `key = value` line of config.ini and keeps the rest of the text as it is."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text, n = re.subn(r"(?m)^%s\s*=.*$" % re.escape(key), lambda m: '%s = "%s"' % (key, value), text)
    if n != 1:
        raise RuntimeError("config.ini has no single %s entry" % key)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def build_till(args, out):
    till = os.path.join(out, "till")
    os.makedirs(till)
    for name in FILES:
        src = os.path.join(args.bin, name)
        if not os.path.exists(src):
            raise RuntimeError("%s is missing: build the native preset first (cmake --preset native && "
                               "cmake --build --preset native)" % src)
        shutil.copy(src, till)
    r = subprocess.run(["bash", os.path.join(ROOT, "scripts", "npm-deps.sh"), args.npm], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("the page's npm packages could not be installed: " + r.stderr.strip())
    page_with_encoder(os.path.join(till, "page"), args.npm)
    shutil.copy(os.path.join(HERE, "config.ini"), till)

    pki = make_pki(os.path.join(out, "pki"))
    shutil.copy(os.path.join(pki, "ca.pem"), os.path.join(till, "cacert.pem"))

    # The newer release: the same page, marked with its version, published into the update folder.
    release = os.path.join(out, "release-" + NEW_VERSION)
    page_with_encoder(os.path.join(release, "page"), args.npm)
    html = os.path.join(release, "page", "pos.html")
    with open(html, encoding="utf-8") as f:
        text = f.read()
    with open(html, "w", encoding="utf-8") as f:
        f.write(text.replace("页面版本 1", "页面版本 " + NEW_VERSION))
    update = os.path.join(out, "server", "update")
    r = subprocess.run([os.path.join(args.bin, "publish"), release, NEW_VERSION, update],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("publish failed: " + r.stderr.strip())
    return till, pki, update


def start_server(out, pki, update, trickle):
    server = UpdateServer(os.path.join(out, "server"), pki)
    # Each file arrives over about a second, so that the splash shows the progress to a watcher.
    for folder, _, names in os.walk(update):
        for name in names:
            if name == "list.txt":
                continue
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                body = f.read()
            url = "/" + os.path.relpath(path, os.path.dirname(update)).replace(os.sep, "/")
            server.routes[url] = Route("slow", body=body, piece=max(1, len(body) // 10), interval=trickle / 10)
    server.__enter__()
    return server


def start_client(till, out, name):
    logfile = open(os.path.join(out, name + ".log"), "wb")
    proc = subprocess.Popen([os.path.join(till, "tovipos")], cwd=till, stdout=logfile, stderr=subprocess.STDOUT)
    logfile.close()
    return proc


def end_client(proc, timeout):
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(10)
        return None


def jobs(till):
    folder = os.path.join(till, "virtual_printer")
    if not os.path.isdir(folder):
        return []
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".bin"))


def colours(image):
    """How many colours a picture has (a blank capture has one)."""
    r = subprocess.run(["convert", image, "-format", "%k", "info:"], capture_output=True, text=True)
    return int(r.stdout) if r.returncode == 0 and r.stdout.strip().isdigit() else 0


def driven_run(till, out, server, display, config):
    """The page presses its own buttons; returns a list of what went wrong (empty: all there)."""
    problems = []
    set_ini_value(config, "url", "file://%s/page/pos.html?demo=auto&close=6000" % till)
    proc = start_client(till, out, "tovipos-1")
    # The splash is on screen while the update downloads.
    if wait_for(lambda: any(p.startswith("/update/page/") for p in server.paths()), 30, 0.05):
        # On a busy machine the splash may not be painted yet: taken again until it shows.
        shot = os.path.join(out, "1-splash.png")
        wait_for(lambda: screenshot(shot) and colours(shot) > 20, 5, 0.3)
    else:
        problems.append("the client never asked the update server for a file")
    if not wait_for(lambda: visible_windows(PAGE_TITLE), 60):
        problems.append("the main window was never shown")
    elif not wait_for(lambda: len(jobs(till)) >= EXPECTED_JOBS and b"" != display.received(), 60):
        problems.append("only %d print jobs and %d display bytes arrived" % (len(jobs(till)), len(display.received())))
    else:
        time.sleep(1.5)  # the full-screen press comes last; let it paint
        screenshot(os.path.join(out, "2-page.png"))
    status = end_client(proc, 30)
    if status != 0:
        problems.append("the first run ended with status %r (see tovipos-1.log)" % status)

    # A second start: nothing to download now, and the page shown is the updated one.
    set_ini_value(config, "url", "file://%s/page/pos.html?demo=close&close=3000" % till)
    proc = start_client(till, out, "tovipos-2")
    if wait_for(lambda: visible_windows(PAGE_TITLE), 60):
        time.sleep(1.5)
        screenshot(os.path.join(out, "3-after-update.png"))
    else:
        problems.append("the second start never showed the main window")
    status = end_client(proc, 30)
    if status != 0:
        problems.append("the second run ended with status %r (see tovipos-2.log)" % status)
    set_ini_value(config, "url", "file://%s/page/pos.html" % till)
    return problems


def watched_run(till, out, config):
    set_ini_value(config, "url", "file://%s/page/pos.html" % till)
    log("the client starts now: the splash shows the update, then the page. Press the goods and the "
        "buttons (打印小票 prints a receipt); the ✕ button closes the client and ends the demo.")
    status = start_client(till, out, "tovipos-1").wait()
    return [] if status == 0 else ["the client ended with status %d (see tovipos-1.log)" % status]


def summary(till, out, display):
    log("done. Everything is under " + out)
    with open(os.path.join(till, "config.ini"), encoding="utf-8") as f:
        version = re.search(r"(?m)^version\s*=\s*(.*)$", f.read())
    log("config.ini of the till now says version = %s" % (version.group(1).strip() if version else "?"))
    for job in jobs(till):
        with open(job, "rb") as f:
            size = len(f.read())
        with open(job[:-4] + ".txt", encoding="utf-8", errors="replace") as f:
            transcript = f.read().rstrip("\n")
        picture = job[:-4] + ".png"
        log("printer job %s (%d bytes of ESC/POS); its picture %s; its transcript %s.txt:\n%s"
            % (job, size, picture if os.path.exists(picture) else "(none)", job[:-4], transcript))
    for name in ("PrintOut1.txt", "RiJie.txt", "PrintRaw1.bin"):
        path = os.path.join(till, name)
        if os.path.exists(path):
            log("job file the client wrote for the support program (%s): %s"
                % ("the page's bytes" if name.endswith(".bin") else "GB2312", path))
    received = display.received()
    log("customer display received %d bytes into %s: %s" % (len(received), display.sink, received.hex(" ")))
    for shot in sorted(n for n in os.listdir(out) if n.endswith(".png")):
        log("screenshot " + os.path.join(out, shot))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default=os.environ.get("TOVI_BIN", os.path.join(ROOT, "build", "native", "bin")),
                        help="folder of the built native programs")
    parser.add_argument("--out", help="folder for the demo (default: a new one under /tmp)")
    parser.add_argument("--auto", action="store_true", help="let the page press its own buttons even on a desktop")
    parser.add_argument("--trickle", type=float, default=1.0, help="seconds each update file takes to arrive")
    parser.add_argument("--npm", default=os.environ.get("TOVI_NPM_DIR", os.path.join(ROOT, "build", "npm")),
                        help="folder for the page's npm packages (scripts/npm-deps.sh installs them there)")
    args = parser.parse_args()
    args.npm = os.path.abspath(args.npm)

    for tool in ("socat", "xdotool", "import", "openssl", "npm"):
        if not shutil.which(tool):
            log("%s is not installed (bash scripts/install-deps.sh installs it)" % tool)
            return 2
    out = os.path.abspath(args.out) if args.out else tempfile.mkdtemp(prefix="tovipos-demo-")
    os.makedirs(out, exist_ok=True)
    virtual = None
    auto = args.auto or not os.environ.get("DISPLAY")
    if not os.environ.get("DISPLAY"):
        virtual = VirtualDisplay()
        log("no desktop here: the client runs on a private Xvfb display " + virtual.start() +
            " and the page presses its own buttons")
    display = server = None
    try:
        till, pki, update = build_till(args, out)
        display = CustomerDisplay(out, os.path.join(out, "customer-display.bin"))
        with open(os.path.join(till, "devices.ini"), "w") as f:
            f.write("; The demo's devices: receipts into a folder, the customer display on a pty.\n"
                    "[printer]\nfolder = virtual_printer\n[serial]\nport1 = %s\n" % display.port())
        server = start_server(out, pki, update, args.trickle)
        config = os.path.join(till, "config.ini")
        set_ini_value(config, "updateUrl", server.url("/update/"))
        set_ini_value(config, "version", "1")
        log("till folder %s; update server %s (release %s)" % (till, server.url("/update/"), NEW_VERSION))
        problems = driven_run(till, out, server, display, config) if auto else watched_run(till, out, config)
        summary(till, out, display)
    except RuntimeError as e:
        log("stopped: %s" % e)
        return 1
    finally:
        if server:
            server.__exit__()
        if display:
            display.stop()
        if virtual:
            virtual.stop()
    for p in problems:
        log("problem: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
