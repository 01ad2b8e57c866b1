"""A local HTTPS update server for the updater's tests, with fault injection.

Bound to 127.0.0.1 only. Serves the files of a folder (URL paths decoded as UTF-8), and any path can
be given a scripted answer instead: a status, a redirect, a chunked or close-delimited body, a body
cut off or stalled after some bytes, a slow trickle. Certificates come from the openssl program:
make_pki() writes a test CA, a server certificate for localhost and 127.0.0.1, a second CA and a
certificate for another host name.

Holds no tests itself; test_updater.py and the Wine end-to-end tests use it.
"""

import hashlib
import http.server
import json
import os
import socketserver
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.parse


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_pki(folder):
    """Writes ca.pem (trusted), ca2.pem (another CA), server.pem/.key (localhost, 127.0.0.1, by ca),
    wrongname.pem/.key (wrong.example, by ca), expired.pem/.key (as server, expired) into folder."""
    os.makedirs(folder, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for ca in ("ca", "ca2"):
        _openssl("req", "-x509", *ec, "-keyout", ca + ".key", "-out", ca + ".pem", "-days", "3",
                 "-subj", "/CN=tovipos test " + ca, cwd=folder)
    for name, san, days in (("server", "DNS:localhost,IP:127.0.0.1", "3"), ("wrongname", "DNS:wrong.example", "3"),
                            ("expired", "DNS:localhost,IP:127.0.0.1", "-1")):
        with open(os.path.join(folder, name + ".ext"), "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n" % san)
        _openssl("req", *ec, "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name, cwd=folder)
        _openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-out", name + ".pem", "-days", days, "-extfile", name + ".ext", cwd=folder)
    return folder


def sha1_upper(data):
    return hashlib.sha1(data).hexdigest().upper()


def manifest_bytes(version, entries, serial=None, rollout=None):
    """list.txt for [(path, sha1)] (or dicts as they are); paths become raw GB2312 bytes in the JSON.
    serial, rollout: added as "serial" and "rollout" unless None."""
    items = []
    for e in entries:
        if isinstance(e, dict):
            items.append(e)
        else:
            items.append({"sha1": e[1], "path": e[0]})
    doc = {"version": version, "list": items}
    if serial is not None:
        doc["serial"] = serial
    if rollout is not None:
        doc["rollout"] = rollout
    # Non-ASCII characters stay characters in the JSON text (no \u escapes) and the whole text is
    # encoded as GB2312: the paths arrive as raw GB2312 bytes inside the JSON strings.
    return json.dumps(doc, ensure_ascii=False).encode("gb2312")


def make_key(path):
    """A new Ed25519 private key (PEM) at path, made by the openssl program; returns its public key
    as 64 hex digits."""
    _openssl("genpkey", "-algorithm", "ed25519", "-out", os.path.basename(path), cwd=os.path.dirname(path))
    return public_key_hex(path)


def public_key_hex(path):
    der = subprocess.run(["openssl", "pkey", "-in", path, "-pubout", "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return der[-32:].hex()


def sign_hex(key, data):
    """The Ed25519 signature of data under the PEM private key file key, as 128 hex digits."""
    # -rawin reads a file of known size, not a pipe.
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        p = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", f.name], check=True,
                           capture_output=True)
    return p.stdout.hex()


class Route:
    """A scripted answer. kind: status | redirect | chunked | close | drop | stall | slow."""

    def __init__(self, kind, body=b"", status=200, reason="OK", location="", after=0, piece=1024, interval=0.1,
                 headers=None, times=None):
        self.kind, self.body, self.status, self.reason = kind, body, status, reason
        self.location, self.after, self.piece, self.interval = location, after, piece, interval
        self.headers = headers or {}
        self.times = times  # answers this many requests, then the path is served as a file again


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        srv = self.server.owner
        path = urllib.parse.unquote(self.path.split("?", 1)[0], encoding="utf-8", errors="surrogateescape")
        srv.requests.append((path, dict(self.headers.items())))
        route = srv.routes.get(path)
        if route is not None and route.times is not None:
            if route.times <= 0:
                route = None
            else:
                route.times -= 1
        if route is None:
            local = os.path.join(srv.root, path.lstrip("/"))
            if srv.root and os.path.isfile(local):
                with open(local, "rb") as f:
                    route = Route("status", f.read())
            else:
                route = Route("status", b"not here", 404, "Not Found")
        try:
            self._answer(route, srv)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass
        self.close_connection = True

    def _head(self, status, reason, headers):
        self.send_response(status, reason)
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Connection", "close")
        self.end_headers()

    def _answer(self, r, srv):
        h = dict(r.headers)
        if r.kind == "status":
            h["Content-Length"] = str(len(r.body))
            self._head(r.status, r.reason, h)
            self.wfile.write(r.body)
        elif r.kind == "redirect":
            h["Location"] = r.location
            h["Content-Length"] = "0"
            self._head(r.status, r.reason, h)
        elif r.kind == "chunked":
            h["Transfer-Encoding"] = "chunked"
            self._head(r.status, r.reason, h)
            for i in range(0, len(r.body), r.piece):
                part = r.body[i:i + r.piece]
                self.wfile.write(b"%x;ext=1\r\n" % len(part) + part + b"\r\n")
            self.wfile.write(b"0\r\nX-Trailer: yes\r\n\r\n")
        elif r.kind == "close":
            self._head(r.status, r.reason, h)
            self.wfile.write(r.body)
        elif r.kind in ("drop", "stall"):
            h["Content-Length"] = str(len(r.body))
            self._head(r.status, r.reason, h)
            self.wfile.write(r.body[:r.after])
            self.wfile.flush()
            if r.kind == "stall":
                srv.stop_event.wait(60)
        elif r.kind == "slow":
            h["Content-Length"] = str(len(r.body))
            self._head(r.status, r.reason, h)
            for i in range(0, len(r.body), r.piece):
                self.wfile.write(r.body[i:i + r.piece])
                self.wfile.flush()
                if srv.stop_event.wait(r.interval):
                    return
        self.wfile.flush()


class _TlsServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, owner, context):
        self.owner = owner
        self.context = context
        super().__init__(("127.0.0.1", 0), _Handler)

    def get_request(self):
        sock, addr = self.socket.accept()
        if self.context is None:
            return sock, addr
        # The handshake happens in the handler's thread, so a client that stalls blocks nobody else.
        return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), addr

    def handle_error(self, request, client_address):
        pass


class UpdateServer:
    """HTTPS (or plain HTTP with tls=False) on 127.0.0.1 at an ephemeral port."""

    def __init__(self, root, pki, cert="server", tls=True, max_tls12=False):
        self.root = root
        self.routes = {}
        self.requests = []
        self.stop_event = threading.Event()
        context = None
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(pki, cert + ".pem"), os.path.join(pki, cert + ".key"))
            if max_tls12:
                context.maximum_version = ssl.TLSVersion.TLSv1_2
        self.pki = pki
        self.scheme = "https" if tls else "http"
        self.httpd = _TlsServer(self, context)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)

    def use_cert(self, cert):  # for the connections after this
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(self.pki, cert + ".pem"), os.path.join(self.pki, cert + ".key"))
        self.httpd.context = context

    def url(self, path="/", host="127.0.0.1"):
        return "%s://%s:%d%s" % (self.scheme, host, self.port, path)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop_event.set()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(5)

    def paths(self):
        return [p for p, _ in self.requests]
