#!/usr/bin/env python3
"""The time from a support program's end to the tovipos-result event in the page, and a printer
status request's time from its call to its event, on the Linux client with the WebKitGTK engine.

A till folder as the integration tests build it, with a stand-in support program: a shell script
that tells an OK outcome, writes its wall-clock time and ends. The page sends one request after
another, each once the result of the one before has arrived, and keeps the wall-clock time of
each event (performance.timeOrigin + performance.now(), a microsecond clock on the same time
base). Each sample is event minus end. The aim: under 10 ms at the median.

Then the status requests: a second till, with the real support program and device library, whose
port BENCH is a fake ESC/POS printer on a loopback TCP port (tests/helpers/escpos_printer.py)
that answers every DLE EOT at once. The page calls toviDeviceStatus for BENCH, one request after
another, and times each from its call to its event; beside it, the same support program started
bare (no client: spawned here, "status BENCH", the outcome asked for as the client asks), timed
from its start to its end. The aim: the client's median within 5 ms of the bare start's.

Prints figures only; nothing here passes or fails.

  python3 bench/results_bench.py [--bin <build>/bin] [--requests 50]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "integration"))
import test_client_linux as client_test  # noqa: E402
from client_bench import Cleanups  # noqa: E402
from test_updater_server import make_pki  # noqa: E402
from virtual_display import VirtualDisplay, wait_for  # noqa: E402
sys.path.insert(0, os.path.join(REPO, "tests", "helpers"))
from escpos_printer import EscposPrinter  # noqa: E402

# Its end is the last thing it does: the time is written, then the shell exits.
STANDIN = "#!/bin/sh\nprintf 'tovipos-outcome OK \\n'\n/bin/date +%s.%N >> ends.txt\n"


def page_script(count):
    return ("var times = [], n = 0; function next() { toviPrint(JSON.stringify({interface: 'USB', opencash: 'F',"
            " cut: 'F', blankrow: '0', data: 'x', id: 'b' + n})); }"
            "addEventListener('tovipos-result', function () { times.push(performance.timeOrigin + performance.now());"
            " if (++n < %d) next(); else document.title = 'tovi-bench-done ' + JSON.stringify(times); });"
            "setTimeout(next, 500);" % count)


# Each sample: the call to the event, on the page's own clock.
def status_script(count):
    return ("var times = [], n = 0, start = 0; function next() { start = performance.now();"
            " toviDeviceStatus(JSON.stringify({interface: 'BENCH', id: 's' + n})); }"
            "addEventListener('tovipos-result', function (e) { times.push(Math.round((performance.now() - start) * 100) / 100);"
            " if (e.detail.status.source != 'escpos') document.title = 'tovi-bench-done ' + JSON.stringify(e.detail);"
            " else if (++n < %d) next(); else document.title = 'tovi-bench-done ' + JSON.stringify(times); });"
            "setTimeout(next, 500);" % count)


def figures(samples):
    samples = sorted(samples)
    return "median %.2f ms, 90th percentile %.2f ms, min %.2f ms, max %.2f ms" % (
        statistics.median(samples), samples[int(len(samples) * 0.9) - 1], samples[0], samples[-1])


def page_figures(till, timeout=120):
    windows = wait_for(lambda: client_test.visible_windows("tovi-bench-done"), timeout)
    if not windows:
        sys.exit("results_bench: the page did not finish; " + till.log())
    name = subprocess.run(["xdotool", "getwindowname", windows[0]], capture_output=True, text=True).stdout
    return json.loads(name.split(" ", 1)[1])


def status_requests(cleanups, count):
    printer = EscposPrinter(cleanups)
    till = client_test.Till(cleanups, client_test.page("tovi-bench", status_script(count)),
                            extra_ini="[ports]\nBENCH = tcp://%s\n" % printer.address)
    bare = []
    env = dict(os.environ, TOVIPOS_REPORT="page")

    def bare_runs(n):
        for _ in range(n):
            start = time.perf_counter()
            out = subprocess.run([till.path("tovipos_print"), "status", "BENCH"], cwd=till.dir, env=env,
                                 capture_output=True, text=True).stdout
            bare.append((time.perf_counter() - start) * 1000)
            if "source=escpos" not in out:
                sys.exit("results_bench: the fake printer did not answer the bare support program: " + out)
    # Half before and half after the client's run: a shared machine's load drifts.
    bare_runs(count // 2)
    till.run()
    times = page_figures(till)
    till.stop()
    bare_runs(count - count // 2)
    if not isinstance(times, list):
        sys.exit("results_bench: a status request was not answered by the printer: %s" % times)
    print("toviDeviceStatus, its call -> tovipos-result in the page, fake TCP printer, %d requests:" % len(times))
    print("  " + figures(times))
    print("the support program started bare, status BENCH, start -> end, %d runs:" % len(bare))
    print("  " + figures(bare))
    print("difference of the medians: %.2f ms (aim: within 5 ms)" % (
        statistics.median(times) - statistics.median(bare)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", default=os.environ.get("TOVI_BIN") or os.path.join(REPO, "build", "native", "bin"))
    ap.add_argument("--requests", type=int, default=50)
    args = ap.parse_args()
    client_test.BIN = os.path.abspath(args.bin)
    display = None
    pki = tempfile.mkdtemp(prefix="tovi-bench-pki-")
    cleanups = Cleanups()
    try:
        if not os.environ.get("DISPLAY"):
            display = VirtualDisplay()
            display.start()
        client_test.PKI = make_pki(pki)
        till = client_test.Till(cleanups, client_test.page("tovi-bench", page_script(args.requests)))
        with open(till.path("tovipos_print"), "w") as f:
            f.write(STANDIN)
        till.run()
        events = page_figures(till)
        till.stop()
        with open(till.path("ends.txt")) as f:
            ends = [float(line) * 1000 for line in f.read().split()]
        samples = [e - s for e, s in zip(events, ends)]
        print("support program's end -> tovipos-result in the page, %d requests:" % len(samples))
        print("  " + figures(samples))
        print("aim: under 10 ms at the median")
        status_requests(cleanups, args.requests)
    finally:
        cleanups.run()
        if display:
            display.stop()
        shutil.rmtree(pki, True)


if __name__ == "__main__":
    main()
