#!/usr/bin/env python3
"""Start-up times and resident memory of the Linux client, against the engine alone.

Each run builds a fresh till folder (the integration test's Till: binaries, cacert.pem, devices.ini,
config.ini, a small file:// page, and an HTTPS update server whose list.txt has the installed
version, so the check installs nothing), starts tovipos and records:

  splash   spawn -> the update window is mapped
  reveal   spawn -> the main window (named by the page's <title>) is mapped
  memory   after the page has settled: VmRSS and Pss of the shell process and of each process
           below it (WebKitWebProcess, WebKitNetworkProcess), found through /proc ppid links

then the same for bench/bare_webview (a GtkWindow and a WebKitWebView loading the same page,
shown at load-finished), and prints what the shell adds to the engine alone.

Windows are seen through the X protocol itself: the bench selects SubstructureNotify on the root
window and stamps each MapNotify the moment it arrives, then reads the window's _NET_WM_PID and
name. That costs nothing while waiting and is exact to the event, unlike polling xdotool (each poll
is a process start and a full window tree walk, and the result is late by up to one interval).

Prints figures only; nothing here passes or fails.

  python3 bench/client_bench.py [--bin <build>/bin] [--runs 5] [--settle 2]
"""

import argparse
import os
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "integration"))
import test_client_linux as client_test  # noqa: E402
from test_updater_server import make_pki  # noqa: E402
from virtual_display import VirtualDisplay  # noqa: E402

MIB = 1024 * 1024


# --- a minimal X11 protocol client: map events and two window properties --------------------------

class XConnection:
    """Just enough of the X11 core protocol, little-endian, over the display's UNIX socket."""

    MAP_NOTIFY = 19
    PROPERTY_NOTIFY = 28
    PROPERTY_CHANGE_MASK = 0x400000
    SUBSTRUCTURE_NOTIFY_MASK = 0x80000
    CW_EVENT_MASK = 0x800

    def __init__(self, display):
        host, _, rest = display.partition(":")
        number = rest.split(".", 1)[0]
        if host not in ("", "unix", "localhost") or not number.isdigit():
            raise RuntimeError("only a local display is supported, not %r" % display)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        path = "/tmp/.X11-unix/X" + number
        try:
            self.sock.connect(path)
        except OSError:
            self.sock.connect("\0" + path)  # the abstract namespace socket of the same server
        self.buf = b""
        self.seq = 0
        self.events = []
        name, data = _xauth_cookie(number)
        self.sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, len(name), len(data)) + _pad(name) + _pad(data))
        head = self._read(8)
        extra = self._read(struct.unpack_from("<H", head, 6)[0] * 4)
        if head[0] != 1:
            raise RuntimeError("X server refused the connection: %r" % extra[:head[1]])
        vendor_len, = struct.unpack_from("<H", extra, 16)
        formats = extra[21]
        self.root, = struct.unpack_from("<I", extra, 32 + _padded(vendor_len) + 8 * formats)
        self.atoms = {}

    def _read(self, n, timeout=None):
        """n bytes, or None when nothing complete arrived within timeout."""
        end = None if timeout is None else time.monotonic() + timeout
        while len(self.buf) < n:
            left = None if end is None else max(0.0, end - time.monotonic())
            if not select.select([self.sock], [], [], left)[0]:
                return None
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the X server closed the connection")
            self.buf += chunk
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def _message(self, timeout=None):
        msg = self._read(32, timeout)
        if msg is not None and msg[0] == 1:
            msg += self._read(struct.unpack_from("<I", msg, 4)[0] * 4)
        return msg

    def _request(self, data):
        self.sock.sendall(data)
        self.seq = (self.seq + 1) & 0xFFFF
        return self.seq

    def _reply(self, seq):
        """The reply to request seq (None on an X error); events met meanwhile are queued, stamped."""
        while True:
            msg = self._message()
            kind = msg[0] & 0x7F
            if kind in (0, 1) and struct.unpack_from("<H", msg, 2)[0] == seq:
                return msg if kind == 1 else None
            if kind >= 2:
                self.events.append((time.monotonic(), msg))

    def select_substructure(self):
        self._request(struct.pack("<BxHIII", 2, 4, self.root, self.CW_EVENT_MASK, self.SUBSTRUCTURE_NOTIFY_MASK))
        self.sync()

    def sync(self):
        self._reply(self._request(struct.pack("<BxH", 43, 1)))  # GetInputFocus: a round trip

    def atom(self, name):
        if name not in self.atoms:
            raw = name.encode()
            r = self._reply(self._request(struct.pack("<BBHHxx", 16, 0, 2 + _padded(len(raw)) // 4, len(raw))
                                          + _pad(raw)))
            self.atoms[name] = struct.unpack_from("<I", r, 8)[0] if r else 0
        return self.atoms[name]

    def prop(self, window, name):
        """The property's bytes, or None when the window has none (or is gone)."""
        r = self._reply(self._request(struct.pack("<BBHIIIII", 20, 0, 6, window, self.atom(name), 0, 0, 4096)))
        if not r or r[1] == 0:
            return None
        length = struct.unpack_from("<I", r, 16)[0] * (r[1] // 8)
        return r[32:32 + length]

    def children(self, window):
        r = self._reply(self._request(struct.pack("<BxHI", 15, 2, window)))
        if not r:
            return []
        n = struct.unpack_from("<H", r, 16)[0]
        return list(struct.unpack_from("<%dI" % n, r, 32))

    def next_event(self, timeout):
        """(time, event) of the next event, stamped on arrival, or None when none came in time."""
        if self.events:
            return self.events.pop(0)
        msg = self._message(timeout)
        return None if msg is None else (time.monotonic(), msg)

    def watch_properties(self, window):
        self._request(struct.pack("<BxHIII", 2, 4, window, self.CW_EVENT_MASK, self.PROPERTY_CHANGE_MASK))
        self.sync()

    def name(self, window):
        raw = self.prop(window, "_NET_WM_NAME") or self.prop(window, "WM_NAME") or b""
        return raw.decode("utf-8", "replace")

    def describe(self, window, depth=3):
        """(window, pid) of the client window at or below window: a window manager maps its frame."""
        pid = self.prop(window, "_NET_WM_PID")
        if pid and len(pid) >= 4:
            return window, struct.unpack_from("<I", pid)[0]
        if depth > 0:
            for child in self.children(window):
                found = self.describe(child, depth - 1)
                if found:
                    return found
        return None

    def close(self):
        self.sock.close()


def _padded(n):
    return (n + 3) & ~3


def _pad(b):
    return b + b"\0" * (_padded(len(b)) - len(b))


def _xauth_cookie(number):
    """The MIT-MAGIC-COOKIE-1 for this display from the Xauthority file; empty when there is none
    (a private Xvfb started here needs none)."""
    path = os.environ.get("XAUTHORITY") or os.path.expanduser("~/.Xauthority")
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return b"", b""
    host = socket.gethostname().encode()
    pos = 0
    try:
        while pos < len(data):
            family, = struct.unpack_from(">H", data, pos)
            pos += 2
            fields = []
            for _ in range(4):
                n, = struct.unpack_from(">H", data, pos)
                fields.append(data[pos + 2:pos + 2 + n])
                pos += 2 + n
            addr, num, name, cookie = fields
            if family == 256 and addr == host and num in (b"", number.encode()) and name == b"MIT-MAGIC-COOKIE-1":
                return name, cookie
    except struct.error:
        pass
    return b"", b""


# --- processes and memory -------------------------------------------------------------------------

def descendants(pid):
    """Every process below pid, by the ppid links in /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # comm (field 2) may hold spaces and parentheses: the fields after it follow the last ')'.
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    out, todo = [], list(children.get(pid, []))
    while todo:
        p = todo.pop(0)
        out.append(p)
        todo.extend(children.get(p, []))
    return out


def process_name(pid):
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid))
    except OSError:
        try:
            with open("/proc/%d/comm" % pid) as f:
                return f.read().strip()
        except OSError:
            return "?"


def memory(pid):
    """(rss, pss) in bytes; pss is None where smaps_rollup is not readable."""
    rss = pss = None
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1]) * 1024
    except OSError:
        return None, None
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    pss = int(line.split()[1]) * 1024
    except OSError:
        pass
    return rss, pss


def rss_by_mapping(pid):
    """{mapping: resident bytes} of one process from /proc/<pid>/smaps: files by base name,
    anonymous memory as [anon] (or the kernel's own label, [heap], [stack])."""
    out, key = {}, None
    try:
        with open("/proc/%d/smaps" % pid) as f:
            for line in f:
                head = line.split(None, 5)
                if len(head) >= 5 and "-" in head[0] and not head[0].endswith(":"):
                    path = head[5].strip() if len(head) == 6 else ""
                    key = os.path.basename(path) if path.startswith("/") else (path or "[anon]")
                elif line.startswith("Rss:") and key is not None:
                    out[key] = out.get(key, 0) + int(line.split()[1]) * 1024
    except OSError:
        pass
    return out


def snapshot(pid):
    """[(name, pid, rss, pss)] of pid first, then its descendants."""
    rows = []
    for p in [pid] + descendants(pid):
        rss, pss = memory(p)
        if rss is not None:
            rows.append((process_name(p), p, rss, pss))
    return rows


def end_tree(pid, proc_kill):
    """Kills pid (through proc_kill) and what was below it, by id, and waits until all are gone."""
    below = descendants(pid)
    proc_kill()
    for p in below:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
    end = time.monotonic() + 10
    while time.monotonic() < end and any(os.path.exists("/proc/%d" % p) for p in below):
        time.sleep(0.05)


# --- one run --------------------------------------------------------------------------------------

class Cleanups:
    """What Till expects of a test case: somewhere to register its clean-ups."""

    def __init__(self):
        self.items = []

    def addCleanup(self, fn, *args):
        self.items.append((fn, args))

    def run(self):
        while self.items:
            fn, args = self.items.pop()
            try:
                fn(*args)
            except Exception as e:  # a failed clean-up must not hide the figures
                print("  (clean-up: %s)" % e, file=sys.stderr)


def bench_page(title):
    body = ("<h1>%s</h1><p>Receipt 0001 &middot; 12.50</p>"
            "<ul><li>Item one 5.00</li><li>Item two 7.50</li></ul>" % title)
    return client_test.page(title, "document.body.dataset.ready = '1';", body)


def wait_for_windows(x, proc, title, timeout, verbose):
    """(first map, reveal) as monotonic stamps for proc's windows, None where it never came. The
    reveal is the moment a window of proc is both mapped and named title: the client names its
    window a moment after mapping it, so a name change on a mapped window counts too."""
    first = reveal = None
    watched = set()  # mapped client windows of proc, not yet named title
    end = time.monotonic() + timeout
    while reveal is None and time.monotonic() < end:
        # In slices, so that a program that ended is noticed at once.
        got = x.next_event(min(0.5, max(0.0, end - time.monotonic())))
        if got is None:
            if proc.poll() is not None:
                break
            continue
        stamp, msg = got
        kind = msg[0] & 0x7F
        if kind == x.MAP_NOTIFY:
            who = x.describe(struct.unpack_from("<I", msg, 8)[0])
            if not who or who[1] != proc.pid:
                continue
            window = who[0]
            if first is None:
                first = stamp
            x.watch_properties(window)  # before reading the name: a rename now is not missed
            name = x.name(window)
        elif kind == x.PROPERTY_NOTIFY and struct.unpack_from("<I", msg, 4)[0] in watched:
            window = struct.unpack_from("<I", msg, 4)[0]
            name = x.name(window)
        else:
            continue
        if verbose:
            print("  %s %#x at %.3f: %r" % ("map" if kind == x.MAP_NOTIFY else "property", window, stamp, name),
                  file=sys.stderr)
        if title in name:
            reveal = stamp
        else:
            watched.add(window)
    return first, reveal


def run_client(x, index, settle, timeout, verbose):
    title = "tovi-bench-%d-%d" % (os.getpid(), index)
    cleanups = Cleanups()
    try:
        till = client_test.Till(cleanups, bench_page(title))
        x.sync()
        x.events.clear()
        start = time.monotonic()
        proc = till.run()
        splash, reveal = wait_for_windows(x, proc, title, timeout, verbose)
        if proc.poll() is not None:
            err = proc.stderr.read().decode("utf-8", "replace").strip()
            raise RuntimeError("tovipos ended with status %s: %s" % (proc.returncode, err[-500:]))
        if reveal is None:
            raise RuntimeError("the main window was not shown within %g s" % timeout)
        time.sleep(settle)
        rows, maps = snapshot(proc.pid), rss_by_mapping(proc.pid)
        end_tree(proc.pid, till.stop)
        return {"splash": None if splash is None else splash - start, "reveal": reveal - start, "rows": rows,
                "maps": maps}
    finally:
        cleanups.run()


def run_bare(x, bare, bridge, index, settle, timeout, verbose):
    title = "tovi-bare-%d-%d-%d" % (os.getpid(), bridge, index)
    folder = tempfile.mkdtemp(prefix="tovi-bare-")
    try:
        with open(os.path.join(folder, "page.html"), "w", encoding="utf-8") as f:
            f.write(bench_page(title))
        x.sync()
        x.events.clear()
        start = time.monotonic()
        proc = subprocess.Popen([bare] + (["--bridge"] if bridge else []) + ["file://%s/page.html" % folder],
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            _, shown = wait_for_windows(x, proc, title, timeout, verbose)
            if shown is None:
                raise RuntimeError("bare_webview showed no window within %g s (status %s)" % (timeout, proc.poll()))
            time.sleep(settle)
            rows, maps = snapshot(proc.pid), rss_by_mapping(proc.pid)
        finally:
            end_tree(proc.pid, lambda: (proc.kill(), proc.wait(10)))
        return {"reveal": shown - start, "rows": rows, "maps": maps}
    finally:
        shutil.rmtree(folder, True)


# --- figures --------------------------------------------------------------------------------------

def mib(n):
    return "%7.1f" % (n / MIB) if n is not None else "      -"


def by_name(rows):
    """{name: (rss, pss)}, summed over processes of the same name; the first row is the shell."""
    out = {}
    for name, _, rss, pss in rows:
        r, p = out.get(name, (0, 0))
        out[name] = (r + rss, None if pss is None or p is None else p + pss)
    return out


def totals(rows):
    rss = sum(r[2] for r in rows)
    pss = None if any(r[3] is None for r in rows) else sum(r[3] for r in rows)
    return rss, pss


def print_run(label, i, result):
    times = "splash %6.0f ms  " % (result["splash"] * 1000) if result.get("splash") is not None else ""
    rss, pss = totals(result["rows"])
    print("%s run %d: %sshown %6.0f ms   total RSS %s MiB  PSS %s MiB" %
          (label, i + 1, times, result["reveal"] * 1000, mib(rss), mib(pss)))
    for name, pid, r, p in result["rows"]:
        print("    %-22s pid %-7d RSS %s MiB  PSS %s MiB" % (name, pid, mib(r), mib(p)))


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def summarise(label, results):
    shell_name = results[0]["rows"][0][0]
    names = []
    for res in results:
        for name in by_name(res["rows"]):
            if name not in names:
                names.append(name)
    print("%s, medians over %d runs:" % (label, len(results)))
    if any(r.get("splash") is not None for r in results):
        print("    spawn -> splash mapped     %7.0f ms" % (median([r.get("splash") for r in results]) * 1000))
    print("    spawn -> window mapped     %7.0f ms" % (median([r["reveal"] for r in results]) * 1000))
    med = {}
    for name in names:
        rss = median([by_name(r["rows"]).get(name, (None, None))[0] for r in results])
        pss = median([by_name(r["rows"]).get(name, (None, None))[1] for r in results])
        med[name] = (rss, pss)
        print("    %-26s RSS %s MiB  PSS %s MiB" % (name + (" (shell)" if name == shell_name else ""),
                                                    mib(rss), mib(pss)))
    total = (median([totals(r["rows"])[0] for r in results]), median([totals(r["rows"])[1] for r in results]))
    print("    %-26s RSS %s MiB  PSS %s MiB" % ("all processes", mib(total[0]), mib(total[1])))
    return med[shell_name], total


def print_breakdown(client_runs, bare_runs, count=10):
    """Where the shell process's extra resident memory sits: the mappings that differ most."""
    keys = set()
    for r in client_runs + bare_runs:
        keys.update(r["maps"])
    diffs = []
    for k in keys:
        a = median([r["maps"].get(k, 0) for r in client_runs])
        b = median([r["maps"].get(k, 0) for r in bare_runs])
        diffs.append((a - b, k, a, b))
    diffs.sort(key=lambda d: -abs(d[0]))
    print("shell process, RSS by mapping (medians), largest differences:")
    print("    %-34s %9s %9s %9s" % ("mapping", "tovipos", "bare", "added"))
    for d, k, a, b in diffs[:count]:
        print("    %-34s %s %s %s MiB" % (k[:34], mib(a), mib(b), mib(d)))


def print_added(shell, total, base_shell, base_total, baseline):
    def pss(a, b):
        return "-" if a is None or b is None else "%.1f" % ((a - b) / MIB)
    print("shell adds %.1f MiB RSS (%s MiB PSS) to %s (shell process)"
          % ((shell[0] - base_shell[0]) / MIB, pss(shell[1], base_shell[1]), baseline))
    print("shell adds %.1f MiB RSS (%s MiB PSS) to %s (all processes)"
          % ((total[0] - base_total[0]) / MIB, pss(total[1], base_total[1]), baseline))


def main():
    default_bin = os.environ.get("TOVI_BIN") or os.path.join(REPO, "build", "native", "bin")
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", default=default_bin, help="the native build's bin folder (default %(default)s)")
    ap.add_argument("--bare", help="bare_webview (default: <bin>/../bench/bare_webview)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--settle", type=float, default=2.0, help="seconds between the reveal and the memory reading")
    ap.add_argument("--timeout", type=float, default=30.0, help="seconds to wait for a window")
    ap.add_argument("--wm", action="store_true", help="run openbox on the private Xvfb")
    ap.add_argument("--verbose", action="store_true", help="print each map and rename seen, on stderr")
    args = ap.parse_args()

    bin_dir = os.path.abspath(args.bin)
    missing = [f for f in client_test.FILES if not os.path.exists(os.path.join(bin_dir, f))]
    if missing:
        sys.exit("client_bench: %s not in %s (build them, or give --bin)" % (", ".join(missing), bin_dir))
    bare = args.bare or os.path.join(os.path.dirname(bin_dir), "bench", "bare_webview")
    if not os.path.exists(bare):
        print("client_bench: no %s: the engine-alone baseline is left out" % bare, file=sys.stderr)
        bare = None
    client_test.BIN = bin_dir
    # A terminated bench still ends its client, servers and Xvfb, and removes its folders.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    display = None
    pki = tempfile.mkdtemp(prefix="tovi-bench-pki-")
    try:
        if not os.environ.get("DISPLAY"):
            display = VirtualDisplay(window_manager=args.wm)
            display.start()
        client_test.PKI = make_pki(pki)
        x = XConnection(os.environ["DISPLAY"])
        x.select_substructure()
        print("tovipos from %s, display %s, %d runs, memory read %.1f s after the window is mapped"
              % (bin_dir, os.environ["DISPLAY"], args.runs, args.settle))

        client_runs, bare_runs, bridge_runs = [], [], []
        for i in range(args.runs):
            # Alternated, so that a drift of the machine's load touches all alike.
            res = run_client(x, i, args.settle, args.timeout, args.verbose)
            client_runs.append(res)
            print_run("tovipos       ", i, res)
            if bare:
                for bridge, runs, label in ((False, bare_runs, "bare_webview  "), (True, bridge_runs, "bare --bridge ")):
                    res = run_bare(x, bare, bridge, i, args.settle, args.timeout, args.verbose)
                    runs.append(res)
                    print_run(label, i, res)
        print()
        shell, total = summarise("tovipos", client_runs)
        if bare_runs:
            base = summarise("bare_webview (the engine alone)", bare_runs)
            bridged = summarise("bare_webview --bridge (the engine and one script message)", bridge_runs)
            print()
            print_added(shell, total, *base, "the engine alone")
            print_added(shell, total, *bridged, "the engine with a script-message bridge")
            print("aim: under 10 MiB")
            print()
            print_breakdown(client_runs, bare_runs)
        x.close()
    finally:
        if display:
            display.stop()
        shutil.rmtree(pki, True)


if __name__ == "__main__":
    main()
