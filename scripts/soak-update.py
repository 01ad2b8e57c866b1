#!/usr/bin/env python3
"""Update soak: update after update against a local fault-injecting HTTPS server on 127.0.0.1.

Each run publishes one of a few releases (a new client in some of them, a folder that only that
release has, a changed library), then starts an update with one fault: a connection dropped in the
middle of a body, a stall, wrong bytes, 404 or 500, the manifest failing, or the updater or the
support program killed at a random moment. After that run every listed file must hold the whole
bytes of one release (or be missing), and after a run that completed, exactly the published
release. Then a normal start (the start step, the hand-off through the support program when one is
pending, the check) must work and leave exactly the published release in place.

Kills are also timed to one file move of the install ("kill-move": the updater stops just before
it moves a replaced file aside or a new one into place, as in a power cut there): the next start
must put it back before it loads anything, and never record the good release as failed.

In other runs the server's certificate expires in the middle of a trial (right after the install,
before the hand-off of a new client when there is one): the starts that follow fail their check,
and once the certificate is good again the release must still be there, proven, never recorded as
failed.

Some runs publish a bad release instead: a client that exits at once, one that crashes, or an
engine library that is no library. Within three starts after its install the till must run the
last good release again, and a further start must not install the bad one while it is offered.
Others start with offlineStart against a dead server: the client must start the installed release.

The till's client is update_runner standing in for it (the client's start, its check and its
proof, without windows); the support program is the real one.

  scripts/soak-update.py --bin BUILD/bin [--runs N] [--minutes M] [--seed S] [--wine]

Natively it runs bin/update_runner and bin/tovipos_print; with --wine the Windows build's
bin/testhelpers/update_runner.exe and bin/tovipos_print.exe under Wine (TOVI_BIN, TOVI_WINE_ROOT and
TOVI_OPENSSL_DIR as for the end-to-end tests). Prints one line per damaged run and a summary;
exits 1 when any run left a damaged install, a till that cannot start, or a good release recorded
as failed. The client is listed under the platform's own name (Linux: "tovipos").
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "helpers"))
from test_updater_server import Route, UpdateServer, make_pki, manifest_bytes, sha1_upper  # noqa: E402
from testfiles import read, write  # noqa: E402

RELEASES = 5
FAULTS = ("none", "drop", "stall", "wrong", "404", "500", "manifest", "kill", "kill", "kill-support", "kill-move",
          "kill-move")
BAD = ("exits", "crashes", "engine")


class Native:
    client = "tovipos"
    engine = "libtovi_webengine.so"

    def __init__(self, bin_dir, work):
        self.bin = bin_dir
        self.runner = os.path.join(bin_dir, "update_runner")
        self.engine_file = os.path.join(bin_dir, self.engine)
        self.bad_clients = {k: os.path.join(bin_dir, "fakes", d, "tovipos") for k, d in (("exits", "standin"),
                                                                                          ("crashes", "crashing"))}

    def install_support(self, app):
        shutil.copy2(os.path.join(self.bin, "tovipos_print"), app)
        for lib in ("libwinprint.so", "libapi_com.so"):
            shutil.copy2(os.path.join(self.bin, "fakes", lib), app)

    def path(self, p):
        return p

    def spawn(self, argv, cwd, out, err, env=None):
        return subprocess.Popen(argv, cwd=cwd, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                start_new_session=True, env=dict(os.environ, **(env or {})))

    def support_argv(self, app):
        return [os.path.join(app, "tovipos_print"), "update"]


class OnWine(Native):
    client = "tovipos.exe"
    engine = "node.dll"

    def __init__(self, bin_dir, work):
        from wineenv import Wine
        self.wine = Wine(bin_dir=bin_dir).start()
        self.bin = bin_dir
        self.runner = os.path.join(bin_dir, "testhelpers", "update_runner.exe")
        self.engine_file = os.path.join(bin_dir, "testengine", "node.dll")
        self.bad_clients = {k: os.path.join(bin_dir, "fakes", d, "tovipos.exe") for k, d in (("exits", "standin"),
                                                                                              ("crashes", "crashing"))}
        self.ssl = os.environ.get("TOVI_OPENSSL_DIR", "")
        if not os.path.isdir(self.ssl):
            raise SystemExit("set TOVI_OPENSSL_DIR to the folder of the preset's OpenSSL DLLs")

    def install_support(self, app):
        shutil.copy2(os.path.join(self.bin, "tovipos_print.exe"), app)
        for lib in ("winprint.dll", "api_com.dll"):
            shutil.copy2(os.path.join(self.bin, "fakes", lib), app)
        # The client's OpenSSL, beside it as on a till.
        for name in os.listdir(self.ssl):
            if name.endswith(".dll"):
                shutil.copy2(os.path.join(self.ssl, name), app)

    def path(self, p):
        return "Z:" + os.path.abspath(p).replace("/", "\\")

    def spawn(self, argv, cwd, out, err, env=None):
        return subprocess.Popen([self.wine.loader] + argv, cwd=cwd, stdout=out, stderr=err,
                                env=dict(self.wine.env(), **(env or {})), stdin=subprocess.DEVNULL,
                                start_new_session=True)

    def support_argv(self, app):
        return [os.path.join(app, "tovipos_print.exe"), "update"]


class Soak:
    def __init__(self, platform, work, seed):
        self.p = platform
        self.work = work
        self.rng = random.Random(seed)
        self.pki = make_pki(os.path.join(work, "pki"))
        self.srv = os.path.join(work, "srv")
        self.upd = os.path.join(self.srv, "update")
        os.makedirs(self.upd)
        self.server = UpdateServer(self.srv, self.pki).__enter__()
        self.releases = self.make_releases()
        self.counts = {}
        self.damaged = []
        self.unable = 0  # tills left that could not start
        self.good_failed = 0  # good releases recorded as failed
        self.app = None

    def close(self):
        self.server.__exit__(None, None, None)

    # --- releases ----------------------------------------------------------------------------

    def make_releases(self):
        client = read(self.p.runner)
        engine = read(self.p.engine_file)
        releases = []
        for n in range(RELEASES):
            r = self.rng
            files = {
                # trailing bytes keep the client and the engine runnable and give each its own
                # digest; the client changes in every other release only
                self.p.client: client + b"\0client-%d" % (n // 2),
                self.p.engine: engine + b"\0engine-%d" % (n // 3),
                "data.bin": bytes(r.getrandbits(8) for _ in range(1000)) * r.randint(60, 300),
                "lib/a.dll": b"a-%d" % (n // 3) * 20000,
                "字体/宋体.ttf": b"font" * 5000,
                # a folder that only this release has
                "r%d/new/x.dat" % n: b"x%d" % n * 3000,
            }
            # many small files that all change: a longer stretch of moves for a kill to land in
            files.update({"many/f%02d.dat" % i: b"%d-%d" % (n, i) * 50 for i in range(20)})
            releases.append(("v%d" % n, files))
        return releases

    def names(self):
        """Every local name any release lists (the client as the platform names it)."""
        out = set()
        for _, files in self.releases:
            out.update(files)
        return out

    def local(self, name):
        return os.path.join(self.app, *name.split("/"))

    def publish(self, index, release=None):
        version, files = release or self.releases[index]
        shutil.rmtree(self.upd)
        entries = []
        for path, data in files.items():
            write(os.path.join(self.upd, *(path + ".txt").split("/")), data)
            entries.append((path + ".txt", sha1_upper(data)))
        write(os.path.join(self.upd, "list.txt"), manifest_bytes(version, entries))

    # --- one installation --------------------------------------------------------------------

    def new_install(self):
        if self.app:
            shutil.rmtree(os.path.dirname(self.app), True)
        base = tempfile.mkdtemp(prefix="till-", dir=self.work)
        self.app = os.path.join(base, "app")
        os.makedirs(self.app)
        shutil.copy(os.path.join(self.pki, "ca.pem"), os.path.join(self.app, "cacert.pem"))
        self.p.install_support(self.app)
        # release 0 installed by hand, as a setup program would
        version, files = self.releases[0]
        for name, data in files.items():
            write(self.local(name), data)
        os.chmod(self.local(self.p.client), 0o755)
        write(os.path.join(self.app, "config.ini"),
              ("[base]\r\nurl=about:blank\r\nupdateUrl=%s\r\nversion=%s\r\n" % (self.server.url("/update/"), version))
              .encode())
        self.installed = 0
        self.publish(0)

    def run(self, argv, kill_after=None, timeout=200, env=None):
        """(rc or None when killed, stdout). What the program started (the clients that the
        support program starts) is waited for too, or killed with it."""
        out_path = os.path.join(self.work, "out")
        with open(out_path, "wb") as out, open(os.path.join(self.work, "err"), "wb") as err:
            proc = self.p.spawn(argv, self.app, out, err, env)
            try:
                proc.wait(timeout=kill_after if kill_after is not None else timeout)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                if kill_after is None:
                    raise
                return None, read(out_path).decode("utf-8", "replace")
            deadline = time.monotonic() + 90
            while time.monotonic() < deadline:
                try:
                    os.killpg(proc.pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.05)
        return proc.returncode, read(out_path).decode("utf-8", "replace")

    def start(self, idle_ms=10000, kill_after=None, stop_at=None):
        """The client's start, in the till's folder; stop_at: a step of the release store where it
        ends at once (status 9)."""
        return self.run([os.path.join(self.app, self.p.client), "--client", "1", "--idle-ms", str(idle_ms)], kill_after,
                        env={"TOVI_STOP_AT_STEP": stop_at} if stop_at else None)

    def hand_off(self, kill_after=None):
        rc, _ = self.run(self.p.support_argv(self.app), kill_after)
        return rc

    # --- checks ------------------------------------------------------------------------------

    def mixed_files(self):
        """Files whose bytes are no whole release's bytes for that name."""
        bad = []
        for name in sorted(self.names()):
            path = self.local(name)
            if not os.path.exists(path):
                continue
            data = read(path)
            if not any(files.get(name) == data for _, files in self.releases):
                bad.append(name)
        handoff = os.path.join(self.app, "tovipos.exe.txt")
        if os.path.exists(handoff) and not any(files[self.p.client] == read(handoff) for _, files in self.releases):
            bad.append("tovipos.exe.txt")
        return bad

    def differences(self, index, release=None):
        """How the installation differs from release index, exactly."""
        version, files = release or self.releases[index]
        diff = []
        for name, data in files.items():
            path = self.local(name)
            if not os.path.exists(path) or read(path) != data:
                diff.append(name)
        if os.path.exists(os.path.join(self.app, "tovipos.exe.txt")):
            diff.append("tovipos.exe.txt left")
        config = read(os.path.join(self.app, "config.ini")).decode("utf-8", "replace")
        if not re.search(r'(?m)^version\s*=\s*"?%s"?\r?$' % re.escape(version), config):
            diff.append("config.ini version")
        for root, _, names in os.walk(self.app):
            diff += [os.path.join(root, n) for n in names if n.endswith((".tovi-part", ".tovi-old"))]
        return diff

    # --- runs ----------------------------------------------------------------------------------

    def set_fault(self, fault, target):
        self.server.routes.clear()
        version, files = self.releases[target]
        # a file that changes between the installed release and this one, so it is downloaded
        changing = [n for n in files if self.releases[self.installed][1].get(n) != files[n]] or list(files)
        victim = "/update/" + self.rng.choice(changing) + ".txt"
        body = files[victim[len("/update/"):-len(".txt")]]
        if fault == "drop":
            self.server.routes[victim] = Route("drop", body, after=self.rng.randint(0, len(body) - 1))
        elif fault == "stall":
            self.server.routes[victim] = Route("stall", body, after=self.rng.randint(0, len(body) - 1))
        elif fault == "wrong":
            tampered = bytearray(body or b"\0")
            tampered[self.rng.randrange(len(tampered))] ^= 0x55
            self.server.routes[victim] = Route("status", bytes(tampered))
        elif fault in ("404", "500"):
            self.server.routes[victim] = Route("status", b"error", int(fault), "Not Found" if fault == "404" else "Error")
        elif fault == "manifest":
            self.server.routes["/update/list.txt"] = Route("status", b"", 500, "Internal Server Error")
        elif fault == "kill":
            # Slow answers widen the windows that a kill can land in.
            for name, data in files.items():
                if self.rng.random() < 0.5:
                    self.server.routes["/update/" + name + ".txt"] = Route("slow", data, piece=max(1, len(data) // 4),
                                                                           interval=0.02)

    def normal_start(self, target, note):
        """Starts until a check completes without a pending hand-off; False when a start fails."""
        for _ in range(4):
            rc, out = self.start()
            if rc != 0:
                note.append("normal start failed (%r): %s" % (rc, read(os.path.join(self.work, "err"))[-300:]))
                self.unable += 1
                return False
            if out.startswith("hand-off pending") or "self-update=1" in out:
                if self.hand_off() != 0:
                    note.append("hand-off failed")
                    return False
                continue
            # A library the client had loaded while the check replaced it (Windows) stays aside
            # until the next start removes it.
            if any(n.endswith(".tovi-old") for n in os.listdir(self.app)):
                self.start()
            return True
        note.append("no start completed in 4 tries")
        return False

    def bad_release(self, number):
        """A release that cannot run: within three starts after its install the last good one runs
        again, and the bad one is not installed again while it is offered."""
        kind = self.rng.choice(BAD)
        self.counts["bad " + kind] = self.counts.get("bad " + kind, 0) + 1
        # A day of selling first: the installed release proves itself (the last good one is the
        # last that did; one still on trial would be rolled back past).
        self.start()
        version, files = self.releases[self.installed]
        bad = dict(files)
        tag = b"\0bad-%d" % number
        if kind == "engine":
            bad[self.p.engine] = b"this is no library" * 1000 + tag
        else:
            bad[self.p.client] = read(self.p.bad_clients[kind]) + tag
        self.publish(None, ("bad-%d" % number, bad))
        note = []
        starts = []  # what each start said, for a damaged run's line
        failed = "failedVersion=bad-%d" % number
        store = os.path.join(self.app, "tovipos.previous")
        installed_at = None  # the start that installed the bad release
        # A start whose check failed for a passing reason (a slow machine) installs nothing; the
        # three starts are counted from the install.
        while len(starts) < (3 if installed_at is None else installed_at + 4):
            rc, out = self.start()
            starts.append("(%r) %s" % (rc, " | ".join(out.splitlines())[-400:]))
            if out.startswith("hand-off pending") or "self-update=1" in out:
                self.hand_off()
            if installed_at is None and os.path.isdir(store):
                installed_at = len(starts) - 1
            if not self.differences(self.installed) and failed in read(os.path.join(self.app, "config.ini")).decode():
                break
        else:
            note.append("never installed" if installed_at is None else
                        "not back on the last good release: %s" % self.differences(self.installed))
        rc, out = self.start()
        if rc != 0 or "is not installed again" not in out or self.differences(self.installed):
            note.append("the bad release was taken again or the till did not start (%r): %s" % (rc, out[-300:]))
            self.unable += rc != 0
        if note:
            note.append("starts: " + " // ".join(starts))
        return note

    def offline_start(self):
        """offlineStart against a dead server: the installed release starts."""
        self.counts["offline"] = self.counts.get("offline", 0) + 1
        config = os.path.join(self.app, "config.ini")
        text = read(config).decode()
        write(config, re.sub(r"updateUrl=[^\r\n]*", "updateUrl=https://127.0.0.1:9/update/", text)
              .replace("[base]\r\n", "[base]\r\nofflineStart=true\r\n").encode())
        rc, out = self.start()
        write(config, re.sub(r"offlineStart=true\r\n", "", re.sub(r"updateUrl=[^\r\n]*",
                                                                    "updateUrl=" + self.server.url("/update/"),
                                                                    read(config).decode())).encode())
        if rc != 0 or "offline start:" not in out:
            self.unable += 1
            return ["offline start did not start the client (%r): %s" % (rc, out[-300:])]
        return ["after the offline start: %s" % d for d in self.differences(self.installed)]

    def move_step(self, target):
        """A step of the install of target just before one of its file moves: the file that a
        changing path replaces moved aside ("keep"), or the new one moved into place ("place")."""
        files = self.releases[target][1]
        # A file of an earlier release may hold the bytes already: no release removes what it lacks.
        changing = [n for n in files
                    if n.isascii() and not (os.path.exists(self.local(n)) and read(self.local(n)) == files[n])]
        name = self.rng.choice(changing)
        # The client's placement replaces the hand-off file, which is there only when stale.
        kinds = ["place"] + (["keep"] if name != self.p.client and os.path.exists(self.local(name)) else [])
        return "%s %s" % (self.rng.choice(kinds), name)

    def good_recorded_failed(self):
        """A good release (v0 ... v4) that config.ini records as failed."""
        config = read(os.path.join(self.app, "config.ini")).decode("utf-8", "replace")
        return re.findall(r'(?m)^failedVersion\s*=\s*"?(v\d+)"?\r?$', config)

    def cert_expires(self, target):
        """The server's certificate expires in the middle of the trial of a good release (before
        the hand-off of its client, if it has one) and is renewed after three starts."""
        self.server.routes.clear()
        self.publish(target)
        rc, out = self.start()
        note = [] if rc == 0 and "completed" in out else ["the install did not complete (%r): %s" % (rc, out[-300:])]
        self.server.use_cert("expired")
        try:
            if "self-update=1" in out:
                self.hand_off()  # the new client's check fails: an excused start, the client stays
            for _ in range(3):
                rc, out = self.start()
                if out.startswith("hand-off pending"):
                    self.hand_off()
        finally:
            self.server.use_cert("server")
        if self.normal_start(target, note):
            note += ["after the certificate was renewed: %s" % d for d in self.differences(target)]
        return note

    def one(self, number):
        special = self.rng.random()
        target = self.rng.choice([i for i in range(RELEASES) if i != self.installed])
        if special < 0.33:
            kind = "bad" if special < 0.17 else "offline" if special < 0.21 else "cert expires"
            if kind == "cert expires":
                self.counts[kind] = self.counts.get(kind, 0) + 1
                note = self.cert_expires(target)
            else:
                note = self.bad_release(number) if kind == "bad" else self.offline_start()
            good_failed = self.good_recorded_failed()
            if good_failed:
                self.good_failed += 1
                note.append("good release recorded as failed: %s" % good_failed)
            if note:
                self.damaged.append(number)
                print("run %d: DAMAGED %s" % (number, "; ".join(note)), flush=True)
                self.new_install()
            elif kind == "cert expires":
                self.installed = target
            return
        fault = self.rng.choice(FAULTS)
        self.counts[fault] = self.counts.get(fault, 0) + 1
        self.publish(target)
        self.set_fault(fault, target)
        note = []
        kill = self.rng.uniform(0, 0.8) if fault == "kill" else None
        step = self.move_step(target) if fault == "kill-move" else None
        rc, out = self.start(idle_ms=400 if fault == "stall" else 10000, kill_after=kill, stop_at=step)
        if step and rc != 9:
            note.append("the install never came to %s (%r): %s" % (step, rc, out[-300:]))
        completed = rc == 0 and "completed" in out
        if completed and "self-update=1" in out:
            if fault == "kill-support":
                self.hand_off(kill_after=self.rng.uniform(0, 2.0))
                completed = False  # the hand-off may not have happened: the next start finishes it
            else:
                self.hand_off()
        mixed = self.mixed_files()
        if mixed:
            note.append("after the faulty run, files of no release: %s" % mixed)
        if completed and self.differences(target):
            note.append("completed run left a mix: %s" % self.differences(target))
        self.server.routes.clear()
        if self.normal_start(target, note):
            diff = self.differences(target)
            if diff:
                note.append("after the normal start: %s" % diff)
        good_failed = self.good_recorded_failed()
        if good_failed:
            self.good_failed += 1
            note.append("good release recorded as failed: %s" % good_failed)
        if note:
            self.damaged.append(number)
            print("run %d (fault %s, release %d): DAMAGED %s" % (number, fault, target, "; ".join(note)), flush=True)
            self.new_install()  # go on from a clean till
        else:
            self.installed = target


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default=os.environ.get("TOVI_BIN", ""))
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--minutes", type=float, default=60, help="stop after this long even if runs are left")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--wine", action="store_true")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    work = tempfile.mkdtemp(prefix="tovi-soak-")
    platform = (OnWine if args.wine else Native)(os.path.abspath(args.bin), work)
    soak = Soak(platform, work, seed)
    deadline = time.monotonic() + args.minutes * 60
    done = 0
    try:
        soak.new_install()
        while done < args.runs and time.monotonic() < deadline:
            done += 1
            soak.one(done)
            if done % 100 == 0:
                print("%d runs, %d damaged" % (done, len(soak.damaged)), flush=True)
    finally:
        soak.close()
        shutil.rmtree(work, True)
    print("soak (%s, seed %d): %d runs, %d damaged installs, %d tills unable to start, %d good releases recorded "
          "as failed; faults %s" % ("wine" if args.wine else "native", seed, done, len(soak.damaged), soak.unable,
                                    soak.good_failed, ", ".join("%s %d" % kv for kv in sorted(soak.counts.items()))))
    return 1 if soak.damaged or soak.unable or soak.good_failed else 0


if __name__ == "__main__":
    sys.exit(main())
