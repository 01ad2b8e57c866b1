"""A receipt printer that answers DLE EOT status requests, over TCP on a loopback port or over a
pty, natively and under Wine: in a state (its replies to DLE EOT 1, 2, 3, 4), or answering as no
printer should. Bytes that are no status request are the jobs it printed."""

import os
import re
import socket
import threading
import time
import tty

from network_printer import Printer

STATES = {  # "cover-open": opened to change an empty roll
    "well": b"\x12\x12\x12\x12", "paper-low": b"\x12\x12\x12\x1e", "paper-out": b"\x1a\x32\x12\x72",
    "cover-open": b"\x1a\x36\x12\x72", "offline": b"\x1a\x12\x12\x12", "drawer-high": b"\x16\x12\x12\x12",
    "error": b"\x1a\x52\x3a\x12",
}
REQUEST = re.compile(rb"\x10\x04([\x01-\x04])")


class EscposPrinter:
    """mode: "answer"; "silent"; "garbage" (bytes of no reply's form); "split" (those, then the
    reply in a write of its own); "flood" (bytes without end, reply-like ones among them); "drip"
    (the reply a second late); "close" (answers the first request, then hangs up)."""

    def __init__(self, test, state="well", mode="answer", pty=False):
        self.replies, self.mode = STATES[state], mode
        self.jobs, self.requests = [], 0
        if pty:
            master, slave = os.openpty()
            tty.setraw(slave)
            test.addCleanup(os.close, master)
            test.addCleanup(os.close, slave)  # held, so the line stays up between openings
            self.device = os.ttyname(slave)
            threading.Thread(target=self._serve, args=(lambda n: os.read(master, n),
                                                       lambda b: os.write(master, b), True), daemon=True).start()
        else:
            self.sock = socket.socket()
            test.addCleanup(self.sock.close)
            self.sock.bind(("127.0.0.1", 0))
            self.sock.listen(4)
            self.address = "127.0.0.1:%d" % self.sock.getsockname()[1]
            threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn.recv, conn.sendall, False, conn), daemon=True).start()

    def _serve(self, read, write, pty, conn=None):
        data, job = b"", b""
        try:
            while chunk := read(4096):
                data += chunk
                while m := REQUEST.search(data):
                    job, data = job + data[:m.start()], data[m.end():]
                    self.requests += 1
                    self._answer(write, self.replies[m.group(1)[0] - 1])
                keep = 2 if data.endswith(b"\x10\x04") else 1 if data.endswith(b"\x10") else 0  # a request's start
                job, data = job + data[:len(data) - keep], data[len(data) - keep:]
                if pty and job:
                    self.jobs = [job]
        except OSError:
            pass
        if conn:
            conn.close()
            if job + data:
                self.jobs.append(job + data)

    def _answer(self, write, reply):
        if self.mode == "close" and self.requests > 1:
            raise OSError("hung up")
        while self.mode == "flood":
            write(b"\xff" * 4096 + b"\x12\x16")
        if self.mode in ("split", "garbage"):
            write(b"\xff\x00\x41\xaa\x13")
        time.sleep({"split": 0.05, "drip": 1.0}.get(self.mode, 0))
        if self.mode in ("answer", "split", "drip", "close"):
            write(bytes([reply]))

    wait_jobs = Printer.wait_jobs
