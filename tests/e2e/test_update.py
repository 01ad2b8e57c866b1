"""The update under Wine: the real client (with the scripted test engine as node.dll and the OpenSSL
DLLs built from Debian's sources) against the local HTTPS update server: files brought up to date,
config.ini rewritten, the progress texts in the splash window, the main window revealed afterwards;
failures as the unhandled-error box; the self-update hand-off through the real support program; and
signed lists, with tovipos_testkey.exe (the client with the test key of update_test_key.pem built in)
standing in as tovipos.exe.
"""
import hashlib
import os
import shutil
import sys
import time
import unittest

from wineenv import winpath

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "integration"))
sys.path.insert(0, os.path.join(HERE, "..", "helpers"))
from test_updater_server import Route, UpdateServer, make_key, manifest_bytes, sha1_upper, sign_hex  # noqa: E402
from test_client import REVEALED, TILL_ID, ClientTestCase, Run  # noqa: E402
from testfiles import read, write  # noqa: E402

TEST_KEY = os.path.join(HERE, "update_test_key.pem")
LOADING = "正在加载，请稍候……"
UPDATING = "正在更新 "


class UpdateTest(ClientTestCase):
    def setUp(self):
        self.site = self.wine.tmpdir("site")
        self.server = UpdateServer(self.site, self.pki).__enter__()
        self.addCleanup(self.server.__exit__, None, None, None)

    # --- helpers -----------------------------------------------------------------------

    def client_folder(self, version, support=False, signed=False, serial=None, extra=""):
        d = self.wine.tmpdir("update")
        if signed:
            shutil.copy2(os.path.join(self.bin, "tovipos_testkey.exe"), os.path.join(d, "tovipos.exe"))
            self.copy_to(d, os.path.join("testengine", "node.dll"))
        else:
            self.copy_to(d, "tovipos.exe", os.path.join("testengine", "node.dll"))
        for name in os.listdir(self.ssl):
            if name.endswith(".dll"):
                self.copy_to(d, os.path.join(self.ssl, name))
        shutil.copy(os.path.join(self.pki, "ca.pem"), os.path.join(d, "cacert.pem"))
        if support:
            self.copy_to(d, "tovipos_print.exe", os.path.join("fakes", "winprint.dll"),
                         os.path.join("fakes", "api_com.dll"))
        self.config = ("; till settings\r\n[base]\r\nurl=%s\r\nupdateUrl=%s\r\nversion=%s\r\ntillId=%s\r\n%s%s"
                       "[other]\r\nkeep = me\r\n"
                       % (winpath(os.path.join(d, "page.txt")), self.server.url("/update/"), version, TILL_ID,
                          "" if serial is None else "serial=%d\r\n" % serial, extra))
        write(os.path.join(d, "config.ini"), self.config.encode())
        return d

    def publish(self, version, files, routes=None, serial=None, key=TEST_KEY):
        """With a serial, list.txt carries it and list.txt.sig its signature under key."""
        entries = []
        for path, data in files.items():
            write(os.path.join(self.site, "update", path + ".txt"), data)
            entries.append((path + ".txt", sha1_upper(data)))
        body = manifest_bytes(version, entries, serial)
        write(os.path.join(self.site, "update", "list.txt"), body)
        if serial is not None:
            write(os.path.join(self.site, "update", "list.txt.sig"), (sign_hex(key, body) + "\n").encode())
        for path, route in (routes or {}).items():
            self.server.routes["/update/" + path + ".txt"] = route

    def run_client(self, d, script, timeout=90, on_running=None):
        with open(os.path.join(d, "page.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        engine_log = os.path.join(d, "engine.log")
        running = self.wine.spawn(os.path.join(d, "tovipos.exe"), cwd=d,
                                  env={"TOVI_ENGINE_LOG": winpath(engine_log),
                                       "TOVI_FAKE_LOG": winpath(os.path.join(d, "fake.log"))})
        extra = on_running(running) if on_running else None
        run = Run(running.wait(timeout), d, engine_log, os.path.join(d, "fake.log"))
        run.extra = extra
        return run

    def engine_log_until(self, d, line_start, timeout=60):
        """The engine's log once a line starts with line_start (the clients started by the
        support program write it too) and every program of the folder has ended."""
        log = os.path.join(d, "engine.log")
        lines = lambda: read(log).decode("utf-8", "replace").splitlines() if os.path.exists(log) else []
        deadline = time.time() + timeout
        while time.time() < deadline and not any(line.startswith(line_start) for line in lines()):
            time.sleep(0.3)
        self.assertTrue(self.wine.wait_ended(d, max(1, deadline - time.time())), "programs of the folder still run")
        return lines()

    # --- tests -------------------------------------------------------------------------

    def test_two_downloads_show_progress_then_the_main_window(self):
        first = b"first" * 20000
        second = bytes(range(256)) * 400
        # Each download takes about 1 s (steady pieces), so each name stays long enough to probe.
        self.publish("2.0", {"lib/first.dll": first, "字体/宋体.ttf": second},
                     routes={"lib/first.dll": Route("slow", first, piece=10000, interval=0.1),
                             "字体/宋体.ttf": Route("slow", second, piece=10240, interval=0.1)})
        d = self.client_folder("1.0")  # neither folder exists yet: the update makes them
        # The page is ready first: the window waits for the downloads all the same.
        run = self.run_client(d, ["ready", "waitprobe text=" + UPDATING + "lib/first.dll", "probe first",
                                  "waitprobe text=" + UPDATING + "字体/宋体.ttf", "probe second",
                                  REVEALED, "probe after", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        for label, name in (("first", "lib/first.dll"), ("second", "字体/宋体.ttf")):
            self.assertEqual(run.probe(label)["labels"], [UPDATING + name])
            self.assertEqual(run.probe(label)["main"]["visible"], "0")
        after = run.probe("after")
        self.assertEqual(after["main"]["visible"], "1")
        self.assertNotIn("splash", after)
        self.assertEqual(read(os.path.join(d, "lib", "first.dll")), first)
        self.assertEqual(read(os.path.join(d, "字体", "宋体.ttf")), second)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config.replace("version=1.0", "version=2.0"))
        self.assertEqual([n for n in os.listdir(d) if n.endswith(".tovi-part")], [])
        texts = self.log_texts(d)
        self.assertTrue(texts[0].startswith("start tovipos "), texts)
        self.assertIn("update: 2 files updated: lib/first.dll, 字体/宋体.ttf", texts)
        self.assertEqual(texts[-1], "exit, status 0")

    def test_a_failed_download_is_the_unhandled_error_box(self):
        write_old = b"old library"
        self.publish("2.0", {"keep.dll": b"new library"},
                     routes={"keep.dll": Route("status", b"gone", 404, "Not Found")})
        d = self.client_folder("1.0")
        write(os.path.join(d, "keep.dll"), write_old)
        run = self.run_client(d, ["ready", "wait 8000", "probe late", "call toviWinClose"],
                              on_running=lambda r: self.wine.message_box(timeout=40))
        self.assertIsNotNone(run.extra, run.stderr)
        self.assertEqual(run.extra[1], "Error: unhandled exception: 404 Not Found [IOError]\n")
        self.assertEqual(run.rc, 1)
        self.assertNotIn("wkeShowWindow show=1", run.log)
        self.assertEqual(read(os.path.join(d, "keep.dll")), write_old)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config)

    def test_the_loaded_engine_library_is_replaced_and_used_at_the_next_start(self):
        engine = read(os.path.join(self.bin, "testengine", "node.dll"))
        new = engine + b"\0changed"  # trailing bytes: the same working library, another digest
        self.publish("2.0", {"node.dll": new})
        d = self.client_folder("1.0")
        run = self.run_client(d, ["ready", "call toviWinClose"])  # the client ends once the check has
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(read(os.path.join(d, "node.dll")), new)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config.replace("version=1.0", "version=2.0"))
        # the next start loads the new file, and removes the one that was kept aside
        run = self.run_client(d, ["ready", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertIn("wkeInitialize", run.log)
        self.assertEqual([n for n in os.listdir(d) if ".tovi-" in n], [])
        self.assertEqual(read(os.path.join(d, "node.dll")), new)

    def test_a_file_that_cannot_be_replaced_puts_every_file_back(self):
        self.publish("2.0", {"a.dll": b"new a", "z.dll": b"new z"})
        d = self.client_folder("1.0")
        write(os.path.join(d, "a.dll"), b"old a")
        write(os.path.join(d, "z.dll"), b"old z")
        # Held open by another program that lets it be read only: it can be neither replaced nor renamed.
        self.copy_to(d, os.path.join("fakes", "file_holder.exe"))
        holder = self.wine.spawn(os.path.join(d, "file_holder.exe"), [winpath(os.path.join(d, "z.dll")), "30000", "read"],
                                 cwd=d)
        self.addCleanup(holder.kill)
        deadline = time.time() + 20
        while time.time() < deadline and not os.path.exists(os.path.join(d, "z.dll.held")):
            time.sleep(0.05)
        run = self.run_client(d, ["ready", "wait 8000", "call toviWinClose"],
                              on_running=lambda r: self.wine.message_box(timeout=40))
        self.assertEqual(run.extra[1], "Error: unhandled exception: cannot replace: %s [IOError]\n"
                         % winpath(os.path.join(d, "z.dll")))
        self.assertEqual(run.rc, 1)
        self.assertEqual(read(os.path.join(d, "a.dll")), b"old a")  # moved in, then put back
        self.assertEqual(read(os.path.join(d, "z.dll")), b"old z")
        self.assertEqual([n for n in os.listdir(d) if ".tovi-" in n], [])
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config)

    def test_signed_update_applied(self):
        new = b"signed library"
        self.publish("2.0", {"lib.dll": new}, serial=7)
        d = self.client_folder("1.0", signed=True, serial=6)
        write(os.path.join(d, "lib.dll"), b"old")
        run = self.run_client(d, ["ready", REVEALED, "probe after", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(run.probe("after")["main"]["visible"], "1")
        self.assertEqual(read(os.path.join(d, "lib.dll")), new)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(),
                         self.config.replace("version=1.0", "version=2.0").replace("serial=6", "serial=7"))

    def test_refused_signatures_change_nothing(self):
        other_key = os.path.join(self.wine.tmpdir("keys"), "other.pem")
        make_key(other_key)
        cases = [
            ("wrong key", dict(serial=7, key=other_key), 6,
             "list.txt does not match its signature list.txt.sig under any update key [ValueError]"),
            ("missing", dict(serial=None), 6, "list.txt is not signed: list.txt.sig: 404 Not Found [IOError]"),
            ("older serial", dict(serial=5), 6,
             "list.txt is older than the installed release (serial 5, installed 6) [ValueError]"),
        ]
        for name, publish, recorded, message in cases:
            with self.subTest(name):
                self.server.requests.clear()
                sig = os.path.join(self.site, "update", "list.txt.sig")
                if os.path.exists(sig):
                    os.remove(sig)
                self.publish("2.0", {"lib.dll": b"not to be installed"}, **publish)
                d = self.client_folder("1.0", signed=True, serial=recorded)
                write(os.path.join(d, "lib.dll"), b"old")
                run = self.run_client(d, ["ready", "wait 8000", "call toviWinClose"],
                                      on_running=lambda r: self.wine.message_box(timeout=40))
                self.assertIsNotNone(run.extra, run.stderr)
                self.assertEqual(run.extra[1], "Error: unhandled exception: %s\n" % message)
                self.assertEqual(run.rc, 1)
                self.assertNotIn("wkeShowWindow show=1", run.log)
                self.assertEqual(read(os.path.join(d, "lib.dll")), b"old")
                self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config)
                self.assertNotIn("/update/lib.dll.txt", [p for p, _ in self.server.requests])

    def test_refused_paths_change_nothing(self):
        for path, message in (("CON.txt", "path names a Windows device"),
                              ("lib/Lpt1.dll.txt", "path names a Windows device"),
                              ("node.dll..txt", "path has a name ending in a dot or a blank")):
            with self.subTest(path):
                write(os.path.join(self.site, "update", "list.txt"),
                      manifest_bytes("2.0", [("first.dll.txt", sha1_upper(b"x")), (path, sha1_upper(b"x"))]))
                d = self.client_folder("1.0")
                before = sorted(os.listdir(d))
                run = self.run_client(d, ["ready", "wait 8000", "call toviWinClose"],
                                      on_running=lambda r: self.wine.message_box(timeout=40))
                self.assertEqual(run.extra[1], "Error: unhandled exception: list.txt: %s: %s [ValueError]\n"
                                 % (message, path))
                self.assertEqual(run.rc, 1)
                logs = ("page.txt", "engine.log", "tovipos.log")
                self.assertEqual(sorted(n for n in os.listdir(d) if n not in logs), before)
                self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config)

    def test_an_unfinished_hand_off_is_completed_at_the_next_start(self):
        old = read(os.path.join(self.bin, "tovipos.exe"))
        new = old + b"\0release 2"
        # An alias of the client's name is the client all the same.
        self.publish("2.0", {"./TOVIPOS.exe": new, "lib/x.dll": b"x"})
        d = self.client_folder("1.0")
        # No support program: the hand-off cannot happen, as when it is stopped or the power goes.
        run = self.run_client(d, ["wait 4000", "ready", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(read(os.path.join(d, "tovipos.exe.txt")), new)
        self.assertEqual(read(os.path.join(d, "tovipos.exe")), old)
        self.assertEqual(read(os.path.join(d, "lib", "x.dll")), b"x")
        self.assertNotIn("wkeShowWindow show=1", run.log)
        # A start without the support program says why it cannot go on.
        run = self.run_client(d, ["ready", "call toviWinClose"], on_running=lambda r: self.wine.message_box(timeout=40))
        self.assertEqual(run.extra[1], "Error: unhandled exception: an update waits for its hand-off, but "
                         "tovipos_print.exe is missing from the program folder [IOError]\n")
        self.assertEqual(run.rc, 1)
        # The next normal start hands off before anything else; the new client then runs.
        self.copy_to(d, "tovipos_print.exe", os.path.join("fakes", "winprint.dll"), os.path.join("fakes", "api_com.dll"))
        os.remove(os.path.join(d, "engine.log"))
        run = self.run_client(d, ["ready", REVEALED, "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(run.log, [])  # that client bound no engine, it only handed off
        lines = self.engine_log_until(d, "call toviWinClose")
        self.assertEqual(read(os.path.join(d, "tovipos.exe")), new)
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.exe.txt")))
        self.assertIn("wkeShowWindow show=1", lines)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config.replace("version=1.0", "version=2.0"))

    def test_self_update_hands_over_to_the_support_program(self):
        old = read(os.path.join(self.bin, "tovipos.exe"))
        new = old + b"\0release 2"  # trailing bytes: still the same working program, another digest
        self.publish("2.0", {"tovipos.exe": new})
        d = self.client_folder("1.0", support=True)
        # Both clients run this script: the first hands over before its page is ready; the second
        # (the new executable, versions now equal: up to date) reveals its window and closes.
        run = self.run_client(d, ["waitlog update: up to date", "ready", REVEALED, "probe shown",
                                  "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(read(os.path.join(d, "config.ini")).decode(), self.config.replace("version=1.0", "version=2.0"))
        # The support program waits 1 s, moves the file and starts the client again.
        lines = self.engine_log_until(d, "call toviWinClose arg=")
        self.assertEqual(read(os.path.join(d, "tovipos.exe")), new)
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.exe.txt")))
        self.assertEqual(lines.count("wkeInitialize"), 2, lines)  # two client runs
        shown = Run.__new__(Run)
        shown.log = lines
        probe = shown.probe("shown")
        self.assertEqual(probe["main"]["visible"], "1")
        # the first run never showed its main window: only one reveal in the log
        self.assertEqual(lines.count("wkeShowWindow show=1"), 1, lines)
        # the second run checked with equal versions: one more manifest request, no download
        self.assertEqual([p for p, _ in self.server.requests].count("/update/tovipos.exe.txt"), 1)
        self.assertEqual([p for p, _ in self.server.requests].count("/update/list.txt"), 2)

    # --- releases that fail, and starts without the server --------------------------------------

    def assertRolledBack(self, d, why, files):
        for name, data in files.items():
            self.assertEqual(read(os.path.join(d, name)), data, name)
        config = read(os.path.join(d, "config.ini")).decode()
        self.assertIn("version=1.0\r\n", config)
        self.assertRegex(config, r"failedVersion\s*=\s*\"?2\.0")
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.previous")))
        self.assertTrue(any(t.startswith("rollback: release 2.0 replaced by the previous release 1.0") and why in t
                            for t in self.log_texts(d)), self.log_texts(d))

    def assertNotTakenAgainButALaterReleaseIs(self, d):
        self.server.requests.clear()
        run = self.run_client(d, ["ready", "call toviWinClose"])  # the client ends once the check has
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual([p for p, _ in self.server.requests], ["/update/list.txt"])
        self.assertIn("update: release 2.0 was rolled back on this till and is not installed again", self.log_texts(d))
        self.publish("3.0", {"lib/x.dll": b"3.0"})
        run = self.run_client(d, ["ready", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(read(os.path.join(d, "lib", "x.dll")), b"3.0")

    def test_a_new_client_that_exits_at_once_is_rolled_back_by_the_support_program(self):
        old = read(os.path.join(self.bin, "tovipos.exe"))
        self.publish("2.0", {"tovipos.exe": read(os.path.join(self.bin, "fakes", "standin", "tovipos.exe")),
                             "lib/x.dll": b"2.0"})
        d = self.client_folder("1.0", support=True)
        write(os.path.join(d, "lib", "x.dll"), b"1.0")
        # The first client installs and hands off before its page is ready; the new one ends at
        # once, so the support program puts 1.0 back and starts its client, which finds itself up
        # to date and runs the script to its end.
        run = self.run_client(d, ["waitlog update: up to date", "ready", REVEALED,
                                  "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        lines = self.engine_log_until(d, "call toviWinClose arg=")
        self.assertEqual(lines.count("wkeInitialize"), 2, lines)
        self.assertTrue(os.path.exists(os.path.join(d, "standin_started.txt")), "the new client never ran")
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.exe.txt")))
        self.assertRolledBack(d, "the new client ended before it proved itself", {"tovipos.exe": old, "lib/x.dll": b"1.0"})
        self.assertNotTakenAgainButALaterReleaseIs(d)

    def test_an_engine_that_is_no_library_is_rolled_back_at_the_third_start(self):
        engine = read(os.path.join(self.bin, "testengine", "node.dll"))
        self.publish("2.0", {"node.dll": b"MZ this is no library" * 100, "lib/x.dll": b"2.0"})
        d = self.client_folder("1.0")
        write(os.path.join(d, "lib", "x.dll"), b"1.0")
        run = self.run_client(d, ["ready", "call toviWinClose"])  # installs 2.0, then ends
        self.assertEqual(run.rc, 0, run.stderr)
        for _ in range(2):
            run = self.run_client(d, ["ready"], on_running=lambda r: self.wine.message_box(timeout=40))
            self.assertTrue(run.extra and run.extra[1].startswith("could not load: node.dll"), (run.extra, run.stderr))
            self.assertEqual(run.rc, 1)
        run = self.run_client(d, ["ready", REVEALED, "probe after", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual(run.probe("after")["main"]["visible"], "1")
        self.assertRolledBack(d, "its last 2 starts ended before it proved itself", {"node.dll": engine, "lib/x.dll": b"1.0"})
        self.assertNotTakenAgainButALaterReleaseIs(d)

    def test_a_certificate_that_stops_verifying_is_no_fault_of_a_release_that_left_what_verifies_alone(self):
        new = read(os.path.join(self.bin, "tovipos.exe")) + b"\0release 2"
        self.publish("2.0", {"data/prices.dat": b"2.0", "tovipos.exe": new})  # not cacert.pem, not OpenSSL
        d = self.client_folder("1.0", support=True)

        def expire_once_stored(running):  # the check has made its last request by then
            deadline = time.time() + 60
            while time.time() < deadline and running.running() and not os.path.exists(os.path.join(d, "tovipos.exe.txt")):
                time.sleep(0.05)
            self.server.use_cert("expired")

        run = self.run_client(d, ["waitlog update: up to date", "ready", REVEALED, "call toviWinClose"],
                              on_running=expire_once_stored)
        self.assertEqual(run.rc, 0, run.stderr)
        # The new client's start through the hand-off, then two more (another CA's certificate too):
        # one box each, and the release stays on trial. A second box would hold its program.
        boxes = [self.wine.message_box(timeout=60)]
        self.assertTrue(self.wine.wait_ended(d), "a second box, or programs of the folder still run")
        for cert in ("expired", "ca2"):
            self.server.use_cert(cert)
            run = self.run_client(d, ["ready"], on_running=lambda r: self.wine.box_while(r))
            boxes.append(run.extra)
            self.assertEqual(run.rc, 1)
        for box in boxes:
            self.assertTrue(box and box[1].startswith("Error: unhandled exception: ") and "certificate" in box[1], boxes)
        self.assertTrue(os.path.isdir(os.path.join(d, "tovipos.previous")))
        self.assertIn("hand-off: the new client ended for no fault of its release (the update server); it stays",
                      self.log_texts(d))
        # A good certificate again: the release proves itself and stays, recorded as failed nowhere.
        self.server.use_cert("server")
        run = self.run_client(d, ["ready", REVEALED, "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertEqual((read(os.path.join(d, "tovipos.exe")), read(os.path.join(d, "data", "prices.dat")),
                          read(os.path.join(d, "config.ini")).decode()),
                         (new, b"2.0", self.config.replace("version=1.0", "version=2.0")))
        self.assertFalse(os.path.exists(os.path.join(d, "tovipos.previous")))

    def test_offline_start_runs_the_installed_release_without_the_server(self):
        d = self.client_folder("1.0", extra="offlineStart=true\r\n")
        # Nothing listens there: the check cannot connect.
        write(os.path.join(d, "config.ini"), self.config.replace(self.server.url("/update/"),
                                                                 "https://127.0.0.1:9/update/").encode())
        run = self.run_client(d, ["ready", "waitprobe text=更新失败", "probe reason", REVEALED,
                                  "probe after", "call toviWinClose"])
        self.assertEqual(run.rc, 0, run.stderr)
        self.assertTrue(run.probe("reason")["labels"][0].startswith("更新失败，启动已安装的版本："), run.probe("reason"))
        self.assertEqual(run.probe("reason")["main"]["visible"], "0")
        self.assertEqual(run.probe("after")["main"]["visible"], "1")
        self.assertTrue(any(t.startswith("update failed: ") and t.endswith("offline start: the installed release starts")
                            for t in self.log_texts(d)), self.log_texts(d))

    def test_an_install_cut_once_node_dll_was_moved_aside_is_put_back_before_it_loads(self):
        new = read(os.path.join(self.bin, "testengine", "node.dll")) + b"\0engine 2"
        self.publish("2.0", {"lib/x.dll": b"2.0", "node.dll": new})
        d = self.client_folder("1.0")
        shutil.copy2(os.path.join(self.bin, "testhelpers", "update_runner.exe"), os.path.join(d, "updater.exe"))
        r = self.wine.run(os.path.join(d, "updater.exe"), ["--config", winpath(os.path.join(d, "config.ini")), "--folder",
                                                          winpath(d)], env={"TOVI_STOP_AT_STEP": "place node.dll"})
        self.assertEqual((r.rc, os.path.exists(os.path.join(d, "node.dll"))), (9, False))  # the power went there
        run = self.run_client(d, ["ready", REVEALED, "probe after", "call toviWinClose"])
        self.assertEqual((run.rc, run.probe("after")["main"]["visible"]), (0, "1"), run.stderr)
        self.assertEqual((read(os.path.join(d, "node.dll")), read(os.path.join(d, "lib", "x.dll")), read(os.path.join(d, "config.ini")).decode()),
                         (new, b"2.0", self.config.replace("version=1.0", "version=2.0")))  # nothing recorded as failed


if __name__ == "__main__":
    unittest.main()
