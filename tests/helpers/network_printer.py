"""A network receipt printer on a loopback port, for the tests of the printing library natively
and under Wine (Wine's sockets are the host's)."""

import socket
import threading
import time


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class Printer:
    """A network printer on a loopback port: takes one connection after another and keeps the
    bytes of each until the sender closes. reading=False: listens but never accepts or reads,
    with a small receive buffer (a printer that stopped taking bytes). listening=False: the port
    is bound but refuses connections. answering=False: its queue of connections is full, so new
    ones get no answer at all (a printer that is off)."""

    def __init__(self, test, family=socket.AF_INET, reading=True, listening=True, answering=True):
        self.host = "127.0.0.1" if family == socket.AF_INET else "::1"
        self.sock = socket.socket(family, socket.SOCK_STREAM)
        test.addCleanup(self.sock.close)
        if not reading:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.sock.bind((self.host, 0))
        self.port = self.sock.getsockname()[1]
        self.jobs = []
        if listening:
            self.sock.listen(0 if not answering else 4)
        if not answering:
            # Linux keeps backlog + 1 connections waiting; further SYNs are dropped unanswered.
            for _ in range(2):
                c = socket.socket(family, socket.SOCK_STREAM)
                test.addCleanup(c.close)
                c.setblocking(False)
                c.connect_ex((self.host, self.port))
            time.sleep(0.2)
            reading = False
        if reading and listening:
            threading.Thread(target=self._serve, daemon=True).start()

    @property
    def address(self):
        return ("[%s]:%d" if ":" in self.host else "%s:%d") % (self.host, self.port)

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                data = b""
                while chunk := conn.recv(65536):
                    data += chunk
                self.jobs.append(data)

    def wait_jobs(self, n, timeout=10.0):
        deadline = time.time() + timeout
        while len(self.jobs) < n and time.time() < deadline:
            time.sleep(0.02)
        return self.jobs
