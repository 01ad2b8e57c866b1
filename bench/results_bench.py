#!/usr/bin/env python3
"""The time from a support program's end to the tovipos-result event in the page, on the Linux
client with the WebKitGTK engine.

A till folder as the integration tests build it, with a stand-in support program: a shell script
that tells an OK outcome, writes its wall-clock time and ends. The page sends one request after
another, each once the result of the one before has arrived, and keeps the wall-clock time of
each event (performance.timeOrigin + performance.now(), a microsecond clock on the same time
base). Each sample is event minus end. The aim: under 10 ms at the median.

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

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "integration"))
import test_client_linux as client_test  # noqa: E402
from client_bench import Cleanups  # noqa: E402
from test_updater_server import make_pki  # noqa: E402
from virtual_display import VirtualDisplay, wait_for  # noqa: E402

# Its end is the last thing it does: the time is written, then the shell exits.
STANDIN = "#!/bin/sh\nprintf 'tovipos-outcome OK \\n'\n/bin/date +%s.%N >> ends.txt\n"


def page_script(count):
    return ("var times = [], n = 0; function next() { toviPrint(JSON.stringify({interface: 'USB', opencash: 'F',"
            " cut: 'F', blankrow: '0', data: 'x', id: 'b' + n})); }"
            "addEventListener('tovipos-result', function () { times.push(performance.timeOrigin + performance.now());"
            " if (++n < %d) next(); else document.title = 'tovi-bench-done ' + JSON.stringify(times); });"
            "setTimeout(next, 500);" % count)


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
        windows = wait_for(lambda: client_test.visible_windows("tovi-bench-done"), 120)
        if not windows:
            sys.exit("results_bench: the page did not finish; " + till.log())
        name = subprocess.run(["xdotool", "getwindowname", windows[0]], capture_output=True, text=True).stdout
        events = json.loads(name.split(" ", 1)[1])
        with open(till.path("ends.txt")) as f:
            ends = [float(line) * 1000 for line in f.read().split()]
        samples = sorted(e - s for e, s in zip(events, ends))
        print("support program's end -> tovipos-result in the page, %d requests:" % len(samples))
        print("  median %.2f ms, 90th percentile %.2f ms, min %.2f ms, max %.2f ms" % (
            statistics.median(samples), samples[int(len(samples) * 0.9) - 1], samples[0], samples[-1]))
        print("aim: under 10 ms at the median")
    finally:
        cleanups.run()
        if display:
            display.stop()
        shutil.rmtree(pki, True)


if __name__ == "__main__":
    main()
