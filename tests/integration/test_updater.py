"""The native updater (update_runner) against the local HTTPS update server.

Each test gets a fresh folder: app/ is the program folder (with cacert.pem from the test CA),
config.ini sits in the test folder (the runner's current folder), srv/update/ is what the server
publishes. The runner prints "progress <name>" per download and "completed self-update=<0|1>", or
the unhandled-error text on standard error with status 1.
"""

import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from test_updater_server import (Route, UpdateServer, make_key, make_pki, manifest_bytes, public_key_hex, sha1_upper,
                                 sign_hex)  # noqa: E402
from testfiles import read, write  # noqa: E402

RUNNER = os.environ.get("TOVI_UPDATE_RUNNER", "")
PKI = None


def setUpModule():
    global PKI
    PKI = make_pki(tempfile.mkdtemp(prefix="tovi-pki-"))


def tearDownModule():
    shutil.rmtree(PKI, True)


class UpdaterTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.exists(RUNNER), "build update_runner first (TOVI_UPDATE_RUNNER=%r)" % RUNNER)
        self.dir = tempfile.mkdtemp(prefix="tovi-updater-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.app = os.path.join(self.dir, "app")
        os.makedirs(self.app)
        shutil.copy(os.path.join(PKI, "ca.pem"), os.path.join(self.app, "cacert.pem"))
        self.srv = os.path.join(self.dir, "srv")
        self.upd = os.path.join(self.srv, "update")
        os.makedirs(self.upd)
        self.cfg = os.path.join(self.dir, "config.ini")

    # --- helpers -----------------------------------------------------------------------------

    def server(self, **kw):
        s = UpdateServer(self.srv, PKI, **kw)
        s.__enter__()
        self.addCleanup(s.__exit__)
        self.base = s.url("/update/")
        return s

    def config(self, version=None, url=None, extra=""):
        text = "; till settings\n[base]\nurl = https://pos.example/pos2.html#top\n"
        text += "updateUrl = %s\n" % (url or self.base)
        if version is not None:
            text += "version = %s\n" % version
        text += extra
        write(self.cfg, text)
        return text

    def publish(self, version, files, sha1=None, extra=()):
        """files: {manifest path (str, may be non-ASCII): content}; sha1 overrides per path."""
        entries = []
        for path, data in files.items():
            write(os.path.join(self.upd, path + ".txt"), data)
            entries.append((path + ".txt", (sha1 or {}).get(path, sha1_upper(data))))
        entries.extend(extra)
        write(os.path.join(self.upd, "list.txt"), manifest_bytes(version, entries))

    def run_check(self, idle_ms=5000, timeout=60, env=None, keys=None, start=False):
        args = [RUNNER, "--config", self.cfg, "--folder", self.app, "--idle-ms", str(idle_ms), "--start", "01"[start]]
        if keys:
            args += ["--keys", keys]
        e = dict(os.environ)
        e.update(env or {})
        p = subprocess.run(args, cwd=self.dir, capture_output=True, timeout=timeout, env=e)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def assertCompleted(self, result, self_update=0):
        rc, out, err = result
        self.assertEqual(rc, 0, err)
        self.assertTrue(out.endswith("completed self-update=%d\n" % self_update), out)
        return out

    def assertFailed(self, result, message, kind="IOError"):
        rc, out, err = result
        self.assertEqual(rc, 1, out + err)
        self.assertEqual(err, "Error: unhandled exception: %s [%s]\n" % (message, kind))
        self.assertNotIn("completed", out)

    def assertFailedWith(self, result, fragment):
        rc, out, err = result
        self.assertEqual(rc, 1, out + err)
        self.assertTrue(err.startswith("Error: unhandled exception: "), err)
        self.assertIn(fragment, err)
        self.assertNotIn("completed", out)

    def temp_files(self):
        found = []
        for root, _, names in os.walk(self.dir):
            found += [os.path.join(root, n) for n in names if n.endswith(".tovi-part")]
        return found

    # --- version comparison ------------------------------------------------------------------

    def test_equal_versions_touch_nothing(self):
        s = self.server()
        for local, remote in (("7", "7"), (None, ""), ("", "")):
            with self.subTest(local=local, remote=remote):
                s.requests.clear()
                self.publish(remote, {"missing.dll": b"x"})
                before = self.config(local)
                out = self.assertCompleted(self.run_check())
                self.assertNotIn("progress", out)
                self.assertEqual(read(self.cfg).decode(), before)
                self.assertFalse(os.path.exists(os.path.join(self.app, "missing.dll")))
                self.assertEqual(s.paths(), ["/update/list.txt"])

    def test_white_space_counts_in_version_only(self):
        self.server()
        self.publish(" 7", {})
        self.config("7")
        self.assertCompleted(self.run_check())
        self.assertIn('version=" 7"\n', read(self.cfg).decode())

    # --- first install, names, folders -----------------------------------------------------

    def test_first_install_with_folders_and_gb2312_names(self):
        s = self.server()
        files = {"a.dll": b"alpha" * 1000, "sub/deep/b.dat": b"", "字体/宋体.ttf": b"\x00\x01font", "x/../c.txt": b"c"}
        self.publish("2.0", {k: v for k, v in files.items() if not k.startswith("x/")})
        # a path with ".." that stays inside the program folder; its server file sits under x/..
        write(os.path.join(self.upd, "x", "placeholder"), b"")
        write(os.path.join(self.upd, "c.txt.txt"), b"c")
        entries = [("a.dll.txt", sha1_upper(files["a.dll"])), ("sub/deep/b.dat.txt", sha1_upper(b"")),
                   (" 字体/宋体.ttf.txt\t", " " + sha1_upper(files["字体/宋体.ttf"]) + "\n"),
                   ("x/../c.txt.txt", sha1_upper(b"c"))]
        write(os.path.join(self.upd, "list.txt"), manifest_bytes("2.0", entries))
        os.makedirs(os.path.join(self.app, "sub", "deep"))
        os.makedirs(os.path.join(self.app, "字体"))
        old = self.config(None)
        out = self.assertCompleted(self.run_check())
        self.assertEqual(out.splitlines()[:-1],
                         ["progress a.dll", "progress sub/deep/b.dat", "progress 字体/宋体.ttf", "progress x/../c.txt"])
        self.assertEqual(read(os.path.join(self.app, "a.dll")), files["a.dll"])
        self.assertEqual(read(os.path.join(self.app, "sub", "deep", "b.dat")), b"")
        self.assertEqual(read(os.path.join(self.app, "字体", "宋体.ttf")), files["字体/宋体.ttf"])
        self.assertEqual(read(os.path.join(self.app, "c.txt")), b"c")
        # config.ini: only version added, everything else byte for byte
        self.assertEqual(read(self.cfg).decode(), old + "version=2.0\n")
        # request line and headers as a server sees them
        paths = s.paths()
        self.assertIn("/update/字体/宋体.ttf.txt", paths)
        headers = s.requests[0][1]
        self.assertEqual(headers.get("User-Agent"), "tovipos/1.0.0.0")
        self.assertEqual(headers.get("Host"), "127.0.0.1:%d" % s.port)
        # second start: versions equal, nothing fetched
        s.requests.clear()
        self.assertCompleted(self.run_check())
        self.assertEqual(s.paths(), ["/update/list.txt"])

    def test_digest_rules(self):
        """Which files a walk downloads: case of the digest, empty digests, current files."""
        s = self.server()
        data = b"payload"
        cases = [
            # name, local content (None: missing), manifest sha1, downloaded?, final content
            ("current", data, sha1_upper(data), False, data),
            ("lower-case", b"old", sha1_upper(data).lower(), True, data),
            ("lower-case current", data, sha1_upper(data).lower(), False, data),
            ("stale", b"old", sha1_upper(data), True, data),
            ("missing", None, sha1_upper(data), True, data),
            ("empty sha1, missing", None, "", False, None),
            ("empty sha1, present", b"old", "", True, data),
        ]
        for name, local, sha, downloaded, final in cases:
            with self.subTest(name):
                target = os.path.join(self.app, "f.bin")
                if os.path.exists(target):
                    os.remove(target)
                if local is not None:
                    write(target, local)
                self.publish("v-" + name, {"f.bin": data}, sha1={"f.bin": sha})
                self.config("old")
                s.requests.clear()
                out = self.assertCompleted(self.run_check())
                self.assertEqual("progress f.bin" in out, downloaded, out)
                self.assertEqual("/update/f.bin.txt" in s.paths(), downloaded)
                self.assertEqual(read(target) if os.path.exists(target) else None, final)
                self.assertIn("version=v-%s\n" % name, read(self.cfg).decode())

    def test_empty_list_records_version(self):
        self.server()
        self.publish("3", {})
        self.config("2")
        self.assertCompleted(self.run_check())
        self.assertIn("version=3\n", read(self.cfg).decode())
        self.assertNotIn("version = 2", read(self.cfg).decode())

    def test_config_without_base_section_gets_one(self):
        s = self.server()
        self.publish("9", {})
        write(self.cfg, "[other]\nupdateUrl = nowhere\n")
        # No updateUrl in [base]: the default host is asked, which cannot resolve here; so give
        # the URL through [base] after all, but in a file whose other section must survive.
        write(self.cfg, "[other]\nkey = v # comment\n\n[base]\nupdateUrl = \"%s\"\n" % self.base)
        self.assertCompleted(self.run_check())
        text = read(self.cfg).decode()
        self.assertTrue(text.startswith("[other]\nkey = v # comment\n\n[base]\n"), text)
        self.assertIn("version", text)
        self.assertEqual(s.paths(), ["/update/list.txt"])

    def test_rolled_back_and_held_back_releases_are_not_installed(self):
        """A release this till rolled back, or one whose staged rollout has not reached it, ends the
        check as up to date: the same request, nothing written. A changed list or a larger share
        installs, keeping the file it replaces as the previous release."""
        s = self.server()
        till = "0123456789abcdef0123456789ABCDEF"
        bucket = int(hashlib.sha1((till.lower() + "\n2.0").encode()).hexdigest()[:16], 16) % 100
        entries = [("a.dll.txt", sha1_upper(b"new"))]
        write(os.path.join(self.upd, "a.dll.txt"), b"new")
        listed = sha1_upper(manifest_bytes("2.0", entries))
        for extra, rollout, installs in (("failedVersion = 2.0\nfailedList = %s\n" % listed, None, False),
                                         ("failedVersion = 2.0\nfailedList = %s\n" % ("0" * 40), None, True),
                                         ("tillId = %s\n" % till, bucket, False), ("tillId = %s\n" % till, bucket + 1, True),
                                         ("", 99, False)):
            with self.subTest(extra=extra, rollout=rollout):
                write(os.path.join(self.upd, "list.txt"), manifest_bytes("2.0", entries, rollout=rollout))
                write(os.path.join(self.app, "a.dll"), b"old")
                shutil.rmtree(os.path.join(self.app, "tovipos.previous"), True)
                before = self.config("1.0", extra=extra)
                s.requests.clear()
                out = self.assertCompleted(self.run_check())
                self.assertEqual(s.paths(), ["/update/list.txt"] + ["/update/a.dll.txt"] * installs)
                self.assertEqual(read(os.path.join(self.app, "a.dll")), b"new" if installs else b"old")
                if installs:
                    self.assertEqual(read(os.path.join(self.app, "tovipos.previous", "files", "a.dll")), b"old")
                else:
                    self.assertEqual(read(self.cfg).decode(), before)
                    self.assertRegex(out, "rolled back on this till|held back by its staged rollout")

    # --- self-update ---------------------------------------------------------------------------

    def test_self_update_stored_under_temporary_name(self):
        self.server()
        new = b"MZ new client"
        write(os.path.join(self.app, "tovipos.exe"), b"MZ old client")
        self.publish("5", {"tovipos.exe": new})
        self.config("4")
        out = self.assertCompleted(self.run_check(), self_update=1)
        self.assertIn("progress tovipos.exe\n", out)
        self.assertEqual(read(os.path.join(self.app, "tovipos.exe.txt")), new)
        self.assertEqual(read(os.path.join(self.app, "tovipos.exe")), b"MZ old client")
        self.assertIn("version=5\n", read(self.cfg).decode())

    def test_self_update_skipped_when_current(self):
        self.server()
        same = b"MZ client"
        write(os.path.join(self.app, "tovipos"), same)  # the client as this platform names it
        self.publish("5", {"tovipos.exe": same})
        self.config("4")
        self.assertCompleted(self.run_check(), self_update=0)
        self.assertFalse(os.path.exists(os.path.join(self.app, "tovipos.exe.txt")))

    def test_start_completes_an_unfinished_hand_off_first(self):
        s = self.server()
        self.publish("5", {})
        self.config("4")
        write(os.path.join(self.app, "tovipos"), b"old client")
        aside = os.path.join(self.app, "node.dll.0123ABCD.tovi-old")
        write(aside, b"replaced library")
        write(os.path.join(self.app, "keep.0123ABCD.tovi-part"), b"another run's download")
        for content, pending in ((b"new client", True), (b"old client", False)):
            with self.subTest(pending=pending):
                s.requests.clear()
                write(os.path.join(self.app, "tovipos.exe.txt"), content)
                rc, out, err = self.run_check(start=True)
                self.assertEqual(rc, 0, err)
                self.assertFalse(os.path.exists(aside))
                self.assertTrue(os.path.exists(os.path.join(self.app, "keep.0123ABCD.tovi-part")))
                if pending:
                    # nothing else happens before the hand-off: not even the manifest is asked for
                    self.assertEqual(out, "hand-off pending\n")
                    self.assertEqual(s.paths(), [])
                    self.assertEqual(read(os.path.join(self.app, "tovipos.exe.txt")), content)
                else:
                    # the running client's own bytes: stale, removed, and the start goes on
                    self.assertEqual(out, "completed self-update=0\n")
                    self.assertFalse(os.path.exists(os.path.join(self.app, "tovipos.exe.txt")))

    # --- refused manifests and paths -----------------------------------------------------------

    def test_bad_manifests(self):
        s = self.server()
        cases = [
            (b"{not json", "list.txt is not valid JSON", "ValueError", "1"),
            (b"[1, 2]", "list.txt is not a JSON object", "ValueError", "1"),
            (b'{"list": []}', 'list.txt has no "version"', "ValueError", "1"),
            (b'{"version": "1"}', 'list.txt has no "list"', "ValueError", "1"),  # even with equal versions
            (b'{"version": "2", "list": {}}', 'list.txt: "list" is not an array', "ValueError", "1"),
            (b'{"version": "2", "list": [{"sha1": "", "path": "a.txt"}, 3]}', "list.txt: entry 2 is not an object",
             "ValueError", "1"),
            (b'{"version": "2", "list": [{"path": "a.txt"}]}', 'list.txt: entry 1 has no "sha1"', "ValueError", "1"),
            (b'{"version": "2", "list": [{"sha1": ""}]}', 'list.txt: entry 1 has no "path"', "ValueError", "1"),
        ]
        for body, message, kind, local in cases:
            with self.subTest(message):
                s.routes["/update/list.txt"] = Route("status", body)
                before = self.config(local)
                self.assertFailedWith(self.run_check(), message + "")
                self.assertIn("[%s]" % kind, self.run_check()[2])
                self.assertEqual(read(self.cfg).decode(), before)

    def test_list_not_an_array_passes_with_equal_versions(self):
        s = self.server()
        s.routes["/update/list.txt"] = Route("status", b'{"version": "1", "list": 42, "extra": true}')
        self.config("1")
        self.assertCompleted(self.run_check())

    def test_refused_paths_change_nothing(self):
        s = self.server()
        leaves = "path leaves the program folder"
        cases = [(p, leaves) for p in ("../evil.dll.txt", "a/../../evil.dll.txt", "/etc/evil.txt", "\\evil.txt",
                                       "C:/evil.dll.txt", "c:evil.dll.txt", "abc", "sub/.txt", "x.dll.txt/..")]
        cases += [("evil.dll..txt", "path has a name ending in a dot or a blank"),
                  ("sub /evil.dll.txt", "path has a name ending in a dot or a blank"),
                  ("CON.txt", "path names a Windows device"), ("lib/com1.dll.txt", "path names a Windows device"),
                  ("tovipos.exe.txt.txt", "path names the hand-off file"),
                  ("evil.dll.0123ABCD.tovi-old.txt", "path has the form of a temporary file")]
        for path, reason in cases:
            with self.subTest(path):
                good = b"good"
                write(os.path.join(self.upd, "good.dll.txt"), good)
                write(os.path.join(self.upd, "list.txt"),
                      manifest_bytes("2", [("good.dll.txt", sha1_upper(good)), (path, "")]))
                before = self.config("1")
                s.requests.clear()
                self.assertFailed(self.run_check(), "list.txt: %s: %s" % (reason, path), "ValueError")
                # nothing written, nothing downloaded, not even the good entry before it
                self.assertFalse(os.path.exists(os.path.join(self.app, "good.dll")))
                self.assertFalse(os.path.exists(os.path.join(self.dir, "evil.dll")))
                self.assertEqual(s.paths(), ["/update/list.txt"])
                self.assertEqual(read(self.cfg).decode(), before)
                self.assertEqual(sorted(os.listdir(self.app)), ["cacert.pem"])

    def test_one_file_listed_twice(self):
        self.server()
        write(os.path.join(self.upd, "a.dll.txt"), b"a")
        same = [("a.dll.txt", sha1_upper(b"a")), ("A.DLL.txt", sha1_upper(b"a"))]
        write(os.path.join(self.upd, "list.txt"), manifest_bytes("2", same))
        self.config("1")
        out = self.assertCompleted(self.run_check())
        self.assertEqual(out.count("progress"), 1)
        write(os.path.join(self.upd, "list.txt"), manifest_bytes("3", same[:1] + [("./A.dll.txt", sha1_upper(b"b"))]))
        self.assertFailed(self.run_check(), "list.txt: path listed twice with different contents: ./A.dll.txt",
                          "ValueError")

    def test_new_folders_are_made_but_never_through_a_link(self):
        self.server()
        self.publish("2", {"first.dll": b"1", "new/deeper/x.dll": b"2"})
        self.config("1")
        self.assertCompleted(self.run_check())
        self.assertEqual(read(os.path.join(self.app, "new", "deeper", "x.dll")), b"2")
        # a folder of the program folder that links elsewhere is not written through
        outside = os.path.join(self.dir, "outside")
        os.makedirs(outside)
        os.symlink(outside, os.path.join(self.app, "linked"))
        write(os.path.join(self.app, "plain"), b"a file")
        for path, message in (("linked/x.dll", "folder is a link, not written through: " + os.path.join(self.app, "linked")),
                              ("plain/x.dll", "not a folder: " + os.path.join(self.app, "plain"))):
            with self.subTest(path):
                self.publish("3-" + path, {"first.dll": b"one", path: b"3"})
                before = self.config("2")
                self.assertFailed(self.run_check(), message)
                self.assertEqual(os.listdir(outside), [])
                self.assertEqual(read(os.path.join(self.app, "first.dll")), b"1")
                self.assertEqual(read(self.cfg).decode(), before)

    def test_target_that_is_a_folder_is_unable_to_open_file(self):
        self.server()
        self.publish("2", {"dir.dll": b"1"})
        os.makedirs(os.path.join(self.app, "dir.dll", "inside"))
        self.config("1")
        self.assertFailed(self.run_check(), "Unable to open file")
        self.assertTrue(os.path.isdir(os.path.join(self.app, "dir.dll", "inside")))
        self.assertEqual(self.temp_files(), [])

    # --- HTTP status, redirects, framing -------------------------------------------------------

    def test_error_statuses_leave_files_alone(self):
        s = self.server()
        for status, reason in ((404, "Not Found"), (500, "Internal Server Error"), (403, "Forbidden"),
                               (300, "Multiple Choices")):
            with self.subTest(status):
                write(os.path.join(self.app, "keep.dll"), b"old")
                write(os.path.join(self.app, "before.dll"), b"old")
                # a file fetched before the failure is not moved in either: all or nothing
                self.publish("2", {"before.dll": b"new", "new/x.dll": b"new", "keep.dll": b"new"})
                s.routes["/update/keep.dll.txt"] = Route("status", b"error page", status, reason)
                before = self.config("1")
                self.assertFailed(self.run_check(), "%d %s" % (status, reason))
                self.assertEqual(read(os.path.join(self.app, "keep.dll")), b"old")
                self.assertEqual(read(os.path.join(self.app, "before.dll")), b"old")
                self.assertFalse(os.path.exists(os.path.join(self.app, "new", "x.dll")))
                self.assertEqual(read(self.cfg).decode(), before)
                self.assertEqual(self.temp_files(), [])

    def test_manifest_status_is_reported(self):
        s = self.server()
        s.routes["/update/list.txt"] = Route("status", b"", 503, "Service Unavailable")
        self.config("1")
        self.assertFailed(self.run_check(), "503 Service Unavailable")

    def test_redirects(self):
        s = self.server()
        data = b"redirected content"
        plain = UpdateServer(self.srv, PKI, tls=False)
        plain.__enter__()
        self.addCleanup(plain.__exit__)
        chain = {
            "relative": [("/update/f.bin.txt", "r1/../hop"), ("/update/hop", "/final")],
            "absolute": [("/update/f.bin.txt", s.url("/final", host="localhost"))],
            "five": [("/update/f.bin.txt", "/h1"), ("/h1", "/h2"), ("/h2", "/h3"), ("/h3", "/h4"), ("/h4", "/final")],
            "six": [("/update/f.bin.txt", "/h1"), ("/h1", "/h2"), ("/h2", "/h3"), ("/h3", "/h4"), ("/h4", "/h5"),
                    ("/h5", "/final")],
            "to http": [("/update/f.bin.txt", plain.url("/final"))],
        }
        expect = {"relative": None, "absolute": None, "five": None, "six": "too many redirects (more than 5)",
                  "to http": "redirect from https to http refused: " + plain.url("/final")}
        for name, hops in chain.items():
            with self.subTest(name):
                s.routes.clear()
                for i, (src, dst) in enumerate(hops):
                    s.routes[src] = Route("redirect", status=(301, 302, 303, 307, 308)[i % 5], reason="Moved",
                                          location=dst)
                s.routes["/final"] = Route("status", data)
                plain.routes["/final"] = Route("status", data)
                target = os.path.join(self.app, "f.bin")
                if os.path.exists(target):
                    os.remove(target)
                self.publish("r-" + name, {"f.bin": data})
                self.config("old")
                result = self.run_check()
                if expect[name] is None:
                    self.assertCompleted(result)
                    self.assertEqual(read(target), data)
                else:
                    self.assertFailedWith(result, expect[name])
                    self.assertFalse(os.path.exists(target))
                    self.assertEqual(plain.paths(), [])

    def test_body_framings(self):
        s = self.server()
        data = bytes(range(256)) * 300
        for route in (Route("chunked", data, piece=7000), Route("chunked", b"", piece=10), Route("close", data),
                      Route("slow", data, piece=20000, interval=0.05)):
            with self.subTest(route.kind, size=len(route.body)):
                target = os.path.join(self.app, "f.bin")
                if os.path.exists(target):
                    os.remove(target)
                self.publish("f-%s-%d" % (route.kind, len(route.body)), {"f.bin": route.body})
                s.routes["/update/f.bin.txt"] = route
                self.config("old")
                self.assertCompleted(self.run_check())
                self.assertEqual(read(target), route.body)

    def test_connection_dropped_mid_body(self):
        s = self.server()
        write(os.path.join(self.app, "f.bin"), b"old")
        data = b"z" * 100000
        self.publish("2", {"f.bin": data})
        s.routes["/update/f.bin.txt"] = Route("drop", data, after=40000)
        before = self.config("1")
        self.assertFailed(self.run_check(), "connection closed before the end of the response")
        self.assertEqual(read(os.path.join(self.app, "f.bin")), b"old")
        self.assertEqual(read(self.cfg).decode(), before)
        self.assertEqual(self.temp_files(), [])

    def test_idle_time_out_and_steady_trickle(self):
        s = self.server()
        data = b"q" * 60000
        self.publish("2", {"f.bin": data})
        s.routes["/update/f.bin.txt"] = Route("stall", data, after=1000)
        self.config("1")
        start = time.monotonic()
        self.assertFailed(self.run_check(idle_ms=700), "no data from 127.0.0.1 for 700 ms (timed out)")
        self.assertLess(time.monotonic() - start, 30)
        self.assertFalse(os.path.exists(os.path.join(self.app, "f.bin")))
        # 3 s in all, never 700 ms without a byte: not cut
        s.routes["/update/f.bin.txt"] = Route("slow", data, piece=2000, interval=0.1)
        self.assertCompleted(self.run_check(idle_ms=700))
        self.assertEqual(read(os.path.join(self.app, "f.bin")), data)

    def test_content_mismatch(self):
        s = self.server()
        write(os.path.join(self.app, "f.bin"), b"old")
        self.publish("2", {"f.bin": b"expected"})
        s.routes["/update/f.bin.txt"] = Route("status", b"tampered")
        before = self.config("1")
        self.assertFailed(self.run_check(), "downloaded file does not match list.txt: f.bin.txt (expected %s, received %s)"
                          % (sha1_upper(b"expected"), sha1_upper(b"tampered")))
        self.assertEqual(read(os.path.join(self.app, "f.bin")), b"old")
        self.assertEqual(read(self.cfg).decode(), before)
        self.assertEqual(self.temp_files(), [])

    # --- TLS -----------------------------------------------------------------------------------

    def test_tls_verification(self):
        cases = [
            ("trusted, by address", {}, "127.0.0.1", None),
            ("trusted, by name", {}, "localhost", None),
            ("TLS 1.2 only", {"max_tls12": True}, "localhost", None),
            ("wrong CA", {}, "localhost", "ca2"),
            ("wrong host name", {"cert": "wrongname"}, "localhost", None),
        ]
        expect = {"wrong CA": "certificate verify failed (20: ", "wrong host name": "certificate verify failed (62: "}
        for name, kw, host, ca in cases:
            with self.subTest(name):
                s = UpdateServer(self.srv, PKI, **kw)
                with s:
                    shutil.copy(os.path.join(PKI, (ca or "ca") + ".pem"), os.path.join(self.app, "cacert.pem"))
                    write(os.path.join(self.upd, "list.txt"), manifest_bytes("1", []))
                    self.config("1", url=s.url("/update/", host=host))
                    result = self.run_check()
                    if name in expect:
                        self.assertFailedWith(result, "TLS handshake with %s failed: %s" % (host, expect[name]))
                    else:
                        self.assertCompleted(result)

    def test_ca_file_search(self):
        s = self.server()
        self.publish("1", {})
        self.config("1")
        os.remove(os.path.join(self.app, "cacert.pem"))
        self.assertFailed(self.run_check(env={"PATH": "/nonexistent:" + os.environ["PATH"]}),
                          "No SSL/TLS CA certificates found.")
        on_path = os.path.join(self.dir, "certs dir")
        os.makedirs(on_path)
        shutil.copy(os.path.join(PKI, "ca.pem"), os.path.join(on_path, "cacert.pem"))
        # an unloadable candidate first, then the good one in quotes
        bad = os.path.join(self.dir, "bad")
        write(os.path.join(bad, "cacert.pem"), "not a certificate")
        self.assertCompleted(self.run_check(env={"PATH": '::%s:"%s":%s' % (bad, on_path, os.environ["PATH"])}))
        # the program folder's file is the only candidate when it exists, even if it does not load
        write(os.path.join(self.app, "cacert.pem"), "not a certificate")
        self.assertFailed(self.run_check(env={"PATH": on_path}), "No SSL/TLS CA certificates found.")

    # --- signed lists --------------------------------------------------------------------------

    def test_signed_lists(self):
        """With keys: what is installed, what is refused (nothing changed), and the serial recorded."""
        s = self.server()
        key = make_key(os.path.join(self.dir, "publisher.pem"))
        other = make_key(os.path.join(self.dir, "other.pem"))
        keys = "%s;%s" % (other.upper(), key)  # any of the keys will do
        new, old = b"new library", b"old library"
        listing = lambda serial, version="2": manifest_bytes(version, [("a.dll.txt", sha1_upper(new))], serial)
        good = lambda data: sign_hex(os.path.join(self.dir, "publisher.pem"), data)
        by_other = lambda data: sign_hex(os.path.join(self.dir, "other.pem"), data)
        third = os.path.join(self.dir, "third.pem")
        make_key(third)
        not_signed = "list.txt is not signed: list.txt.sig: 404 Not Found [IOError]"
        no_match = "list.txt does not match its signature list.txt.sig under any update key [ValueError]"
        malformed = "list.txt.sig is not a signature (128 hexadecimal digits expected) [ValueError]"
        cases = [
            # name, list.txt, list.txt.sig (None: missing), local version, recorded serial, error,
            # serial recorded afterwards, a.dll installed
            ("signed", listing(10), good, "1", None, None, "10", True),
            ("upper case, CR LF", listing(10), lambda d: good(d).upper() + "\r\n", "1", "3", None, "10", True),
            ("equal serial", listing(10), good, "1", "10", None, "10", True),
            ("other key's signature", listing(10), by_other, "1", None, None, "10", True),
            ("newer serial, same version", listing(12, "1"), good, "1", "10", None, "12", False),
            ("older serial", listing(9), good, "1", "10",
             "list.txt is older than the installed release (serial 9, installed 10) [ValueError]", None, False),
            ("no serial", listing(None), good, "1", None, 'list.txt has no "serial" [ValueError]', None, False),
            ("serial too large", listing(2 ** 53), good, "1", None,
             'list.txt: "serial" is not an integer from 0 to 9007199254740991 [ValueError]', None, False),
            ("unknown key", listing(10), lambda d: sign_hex(third, d), "1", None, no_match, None, False),
            ("signature of another list", listing(10), lambda d: good(listing(11)), "1", None, no_match, None, False),
            ("missing", listing(10), None, "1", None, not_signed, None, False),
            ("malformed", listing(10), lambda d: good(d) + " ", "1", None, malformed, None, False),
            ("too large", listing(10), lambda d: "0" * 2000, "1", None, malformed, None, False),
        ]
        sig_path = os.path.join(self.upd, "list.txt.sig")
        for name, body, sig, local, recorded, error, serial_after, installs in cases:
            with self.subTest(name):
                write(os.path.join(self.upd, "a.dll.txt"), new)
                write(os.path.join(self.upd, "list.txt"), body)
                if sig is None:
                    if os.path.exists(sig_path):
                        os.remove(sig_path)
                else:
                    write(sig_path, sig(body))
                write(os.path.join(self.app, "a.dll"), old)
                before = self.config(local, extra="serial = %s\n" % recorded if recorded else "")
                s.requests.clear()
                result = self.run_check(keys=keys)
                if error:
                    self.assertFailed(result, *error[:-1].rsplit(" [", 1))
                    self.assertEqual(read(self.cfg).decode(), before)
                    if "signature" in error or "signed" in error:  # both files fetched once more
                        self.assertEqual(s.paths(), ["/update/list.txt", "/update/list.txt.sig"] * 2)
                else:
                    self.assertCompleted(result)
                    self.assertIn("serial=%s\n" % serial_after, read(self.cfg).decode())
                self.assertEqual(read(os.path.join(self.app, "a.dll")), new if installs else old)
        # Without keys a list's serial and signature play no part.
        write(os.path.join(self.upd, "list.txt"), manifest_bytes("3", [], "not a number"))
        self.config("1")
        self.assertCompleted(self.run_check())
        self.assertNotIn("serial", read(self.cfg).decode())

    def test_a_half_written_publish_is_fetched_again(self):
        s = self.server()
        key = make_key(os.path.join(self.dir, "publisher.pem"))
        body = manifest_bytes("2", [], 5)
        write(os.path.join(self.upd, "list.txt"), body)
        write(os.path.join(self.upd, "list.txt.sig"), sign_hex(os.path.join(self.dir, "publisher.pem"), body))
        s.routes["/update/list.txt.sig"] = Route("status", b"", 404, "Not Found", times=1)
        self.config("1")
        self.assertCompleted(self.run_check(keys=key))
        self.assertEqual(s.paths(), ["/update/list.txt", "/update/list.txt.sig"] * 2)
        self.assertIn("serial=5\n", read(self.cfg).decode())

    def test_update_url_must_be_https(self):
        s = self.server()
        plain = UpdateServer(self.srv, PKI, tls=False)
        plain.__enter__()
        self.addCleanup(plain.__exit__)
        self.publish("2", {"a.dll": b"a"})
        for url in (plain.url("/update/"), plain.url("/update/").replace("http:", "HTTP:")):
            with self.subTest(url):
                before = self.config("1", url=url)
                self.assertFailed(self.run_check(), "updateUrl is not an https address: " + url, "ValueError")
                self.assertEqual(plain.paths() + s.paths(), [])
                self.assertEqual(read(self.cfg).decode(), before)

    # --- configuration -------------------------------------------------------------------------

    def test_missing_config(self):
        self.server()
        self.assertFailed(self.run_check(), "cannot open: " + self.cfg)

    # --- the publishing tool ---------------------------------------------------------------------

    def test_published_folder_installs(self):
        publish = os.path.join(os.environ.get("TOVI_BIN", ""), "publish")
        if not os.path.exists(publish):
            self.skipTest("publish not built")
        release = os.path.join(self.dir, "release")
        files = {"tovipos.exe": b"MZ new", "node.dll": b"\x00" * 70000, "字体/宋体.ttf": b"font", "a/b/c.dat": b""}
        for path, data in files.items():
            write(os.path.join(release, path), data)
        os.chmod(os.path.join(release, "tovipos.exe"), 0o755)  # a program: a new copy gets execute permission
        p = subprocess.run([publish, release, "7.1", self.upd], capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn(b"published 4 files (70010 bytes), version 7.1", p.stdout)
        listing = read(os.path.join(self.upd, "list.txt"))
        self.assertEqual(re.findall(rb'"path":"([^"]*)","executable":true', listing), [b"tovipos.exe.txt"])
        self.assertIn("字体/宋体.ttf.txt".encode("gb2312"), listing)  # raw GB2312 bytes, no escapes
        self.assertIn(sha1_upper(files["node.dll"]).encode(), listing)
        self.assertEqual(read(os.path.join(self.upd, "tovipos.exe.txt")), b"MZ new")
        self.assertEqual([n for n in os.listdir(self.upd) if n.endswith(".tovi-part")], [])
        self.server()
        os.makedirs(os.path.join(self.app, "字体"))
        os.makedirs(os.path.join(self.app, "a", "b"))
        self.config("7.0")
        out = self.assertCompleted(self.run_check(), self_update=1)
        self.assertEqual(len(out.splitlines()), 5)
        for path, data in files.items():
            name = "tovipos.exe.txt" if path == "tovipos.exe" else path
            self.assertEqual(read(os.path.join(self.app, name)), data, path)
        self.assertIn("version=7.1\n", read(self.cfg).decode())
        # a second publish of the same release is idempotent; a name GB2312 cannot write is refused
        # before anything changes
        write(os.path.join(release, "ไทย.txt"), b"thai")
        before = read(os.path.join(self.upd, "list.txt"))
        p = subprocess.run([publish, release, "7.2", self.upd], capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 1)
        self.assertIn("path cannot be written in GB2312: ไทย.txt [ValueError]", p.stderr.decode())
        self.assertEqual(read(os.path.join(self.upd, "list.txt")), before)
        self.assertFalse(os.path.exists(os.path.join(self.upd, "tovipos.exe.txt.txt")))

    def test_publish_signs_what_openssl_and_the_updater_accept(self):
        publish = os.path.join(os.environ.get("TOVI_BIN", ""), "publish")
        if not os.path.exists(publish):
            self.skipTest("publish not built")
        key = os.path.join(self.dir, "publisher.pem")
        p = subprocess.run([publish, "--keygen", key], capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        public = p.stdout.decode().strip()
        self.assertRegex(public, r"^[0-9a-f]{64}$")
        self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)
        self.assertEqual(public_key_hex(key), public)  # the openssl program reads the key file
        pem = read(key)
        p = subprocess.run([publish, "--keygen", key], capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 1)  # an existing key is never overwritten
        self.assertEqual(read(key), pem)
        for bad in (["--serial", "5", "r", "1", "u"], ["--key", key, "--serial", "-1", "r", "1", "u"],
                    ["--key", key, "--serial", str(2 ** 53), "r", "1", "u"], ["--keygen", key, "r"],
                    ["--rollout", "0", "r", "1", "u"], ["--rollout", "101", "r", "1", "u"]):
            with self.subTest(bad):
                self.assertEqual(subprocess.run([publish] + bad, capture_output=True, timeout=60).returncode, 2)

        release = os.path.join(self.dir, "release")
        write(os.path.join(release, "a.dll"), b"signed release")
        before = time.time()
        for serial in ("42", None):
            # the share of a staged rollout goes inside the signed text
            args = [publish, "--key", key, "--rollout", "100"] + (["--serial", serial] if serial else []) + [release, "3.0", self.upd]
            p = subprocess.run(args, capture_output=True, timeout=60)
            self.assertEqual(p.returncode, 0, p.stderr)
            listing = json.loads(read(os.path.join(self.upd, "list.txt")))
            self.assertEqual(listing["rollout"], 100)
            if serial:
                self.assertEqual(listing["serial"], 42)
            else:  # the time in seconds
                self.assertTrue(before - 1 <= listing["serial"] <= time.time() + 1, listing)
            sig = read(os.path.join(self.upd, "list.txt.sig"))
            self.assertRegex(sig, rb"^[0-9a-f]{128}\n$")
            write(os.path.join(self.dir, "sig.bin"), bytes.fromhex(sig.decode()))
            subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", os.path.join(self.dir, "pub.pem")], check=True)
            v = subprocess.run(["openssl", "pkeyutl", "-verify", "-rawin", "-pubin", "-inkey", os.path.join(self.dir, "pub.pem"),
                                "-sigfile", os.path.join(self.dir, "sig.bin"), "-in", os.path.join(self.upd, "list.txt")],
                               capture_output=True, timeout=60)
            self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
        self.server()
        self.config("2.0")
        self.assertCompleted(self.run_check(keys=public))
        self.assertEqual(read(os.path.join(self.app, "a.dll")), b"signed release")
        self.assertIn("serial=%d\n" % listing["serial"], read(self.cfg).decode())

    def client_start(self, version, extra=""):  # the client's start: update_runner as app/tovipos, config.ini in app/
        shutil.copy2(RUNNER, os.path.join(self.app, "tovipos"))
        shutil.copy2(os.path.join(os.path.dirname(RUNNER), "libtovi_webengine.so"), self.app)
        self.cfg = os.path.join(self.app, "config.ini")
        self.config(version, extra=extra)
        p = subprocess.run([os.path.join(self.app, "tovipos"), "--client", "1"], cwd=self.app, capture_output=True, timeout=60)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def test_a_certificate_that_stops_verifying_counts_against_a_release_only_if_it_changed_what_verifies(self):
        s = self.server()
        state = os.path.join(self.app, "tovipos.previous", "release.json")
        for cert, ca, changed, counted in (("expired", "ca", "data.bin", 0), ("server", "ca2", "data.bin", 0),
                                           ("expired", "ca", "cacert.pem", 1), ("server", "ca2", "libssl.so.3", 1)):
            with self.subTest(cert=cert, changed=changed):
                s.use_cert(cert)
                shutil.copy(os.path.join(PKI, ca + ".pem"), os.path.join(self.app, "cacert.pem"))
                write(state, json.dumps({"previous": {"version": "1.0", "serial": "", "list": ""}, "candidate": {"version": "2.0",
                      "serial": "", "list": ""}, "replaced": ["a.dll", changed], "added": [], "installTag": "T", "installed": True,
                      "failedStarts": 0, "rollback": ""}).encode())
                rc, out, err = self.client_start("2.0")
                self.assertEqual((rc, "certificate verify failed" in err, json.loads(read(state))["failedStarts"]), (1, True, counted))

    def test_a_till_identity_that_is_none_is_replaced_at_the_start(self):
        self.server()
        write(os.path.join(self.upd, "a.dll.txt"), b"new")
        write(os.path.join(self.upd, "list.txt"), manifest_bytes("2.0", [("a.dll.txt", sha1_upper(b"new"))], rollout=99))
        for given in ("0123-not-an-id", "0123456789abcdef0123456789ABCDEF"):
            write(os.path.join(self.app, "a.dll"), b"old")
            rc, out, err = self.client_start("1.0", "tillId = %s\n" % given)
            till = re.search(r"(?m)^tillId\s*=\s*([0-9a-fA-F]{32})$", read(self.cfg).decode()).group(1)
            bucket = int(hashlib.sha1((till.lower() + "\n2.0").encode()).hexdigest()[:16], 16) % 100
            self.assertEqual((rc, till != given, "tillId in config.ini is no till identity" in out, read(os.path.join(self.app, "a.dll"))),
                             (0, "-" in given, "-" in given, b"new" if bucket < 99 else b"old"))

    # --- interruption --------------------------------------------------------------------------

    def test_killed_mid_download_changes_nothing(self):
        s = self.server()
        for name, content in (("one.dll", b"old one"), ("two.dll", b"old two")):
            write(os.path.join(self.app, name), content)
        new_two = b"n" * 200000
        self.publish("2", {"one.dll": b"new one", "two.dll": new_two})
        s.routes["/update/two.dll.txt"] = Route("stall", new_two, after=100000)
        before = self.config("1")
        args = [RUNNER, "--config", self.cfg, "--folder", self.app, "--idle-ms", "30000"]
        p = subprocess.Popen(args, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 20
        while not self.temp_files() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.3)
        self.assertTrue(self.temp_files(), "the download of two.dll never started")
        p.send_signal(signal.SIGKILL)
        p.communicate(timeout=10)
        self.assertEqual(read(os.path.join(self.app, "one.dll")), b"old one")
        self.assertEqual(read(os.path.join(self.app, "two.dll")), b"old two")
        self.assertEqual(read(self.cfg).decode(), before)
        leftovers = self.temp_files()
        self.assertEqual(sorted(re.sub(r"\.[0-9A-F]{8}\.", ".*.", os.path.basename(p)) for p in leftovers),
                         ["one.dll.*.tovi-part", "two.dll.*.tovi-part"])
        # the next run finishes the job and clears the leftovers
        del s.routes["/update/two.dll.txt"]
        out = self.assertCompleted(self.run_check())
        self.assertEqual(out.splitlines()[:-1], ["progress one.dll", "progress two.dll"])
        self.assertEqual(read(os.path.join(self.app, "one.dll")), b"new one")
        self.assertEqual(read(os.path.join(self.app, "two.dll")), new_two)
        self.assertEqual(self.temp_files(), [])


if __name__ == "__main__":
    unittest.main()
