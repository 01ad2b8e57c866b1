"""Running the Windows programs under Wine for end-to-end tests.

One Wine prefix and one X display per preset build folder (TOVI_WINE_ROOT, default <bin>/../wine).
CTest runs `wineenv.py setup` first (starts Xvfb, creates the prefix once, keeps a wineserver warm)
and `wineenv.py teardown` last; a test started on its own brings up what it needs itself.

Hazards this module handles (measured on Debian 12, Wine 8):
- Wine's background services inherit the first program's standard output and keep it open, so a
  pipe to a Wine program can hang: every run writes its output to files.
- Without wine32 a 32-bit program silently exits 0: tests check outputs, never only exit codes.
- Wine's own winprint.dll wins over the program's copy unless overridden.
- Without a window manager every window destroy stalls 1 s unless X11 "Managed" is off; a crash
  blocks on a dialog unless ShowCrashDialog is 0.
- Some kernels run 64-bit code only (IA-32 emulation off): Wine's i386 loader, which the `wine`
  script prefers whenever wine32 is installed, then fails with "Exec format error" even for 64-bit
  programs. The 64-bit loader is used directly there, and the 32-bit build's tests are skipped.
"""

import atexit
import errno
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

DLL_OVERRIDES = "mscoree,mshtml=;winprint=n"
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests


def _executes(path):
    """False only when the kernel refuses the file's format; True when it ran or is not there."""
    try:
        subprocess.run([path, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    except OSError as e:
        return e.errno != errno.ENOEXEC
    return True


def pick_loader(arch=None):
    """(loader, reason): the Wine command for this machine and the preset's architecture, or
    (None, why the preset's programs cannot run here)."""
    arch = (arch or os.environ.get("TOVI_ARCH", "x86_64")).lower()
    wine32 = os.path.exists(WINE32_LOADER)
    if wine32 and _executes(WINE32_LOADER):
        return "wine", None
    if arch in ("i686", "i386", "x86"):
        if not wine32:
            # Without it a 32-bit program "runs" and exits 0 having done nothing.
            return None, "wine32 is not installed (scripts/install-deps.sh could not install it)"
        return None, ("this kernel runs no 32-bit x86 programs (IA-32 emulation is off), so Wine cannot "
                      "run the i686 build")
    return WINE64_LOADER, None


def winpath(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _root_from_env():
    root = os.environ.get("TOVI_WINE_ROOT")
    if root:
        return root
    bin_dir = os.environ.get("TOVI_BIN")
    if not bin_dir:
        raise RuntimeError("set TOVI_BIN (the preset's bin folder) or TOVI_WINE_ROOT")
    return os.path.join(os.path.dirname(os.path.abspath(bin_dir)), "wine")


def _working_folder(pid):
    try:
        return os.readlink("/proc/%s/cwd" % pid)
    except OSError:  # ended meanwhile, or not ours
        return None


class Result:
    def __init__(self, rc, stdout, stderr):
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return "Result(rc=%r, stdout=%r, stderr=%r)" % (self.rc, self.stdout[-400:], self.stderr[-400:])


def _server_running(prefix):
    """Whether a wineserver of that prefix runs."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if b"wineserver" not in f.read().split(b"\0")[0]:
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                    return True
        except OSError:
            continue
    return False


class Running:
    """A Wine program started without waiting; its output goes to files."""

    def __init__(self, proc, out_path, err_path, prefix):
        self.proc = proc
        self.out_path = out_path
        self._err = err_path
        self._prefix = prefix

    def _output(self):
        with open(self.out_path, "rb") as f, open(self._err, "rb") as g:
            return f.read(), g.read()

    def wait(self, timeout=60):
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            # A program that wrote nothing while no server is left met a wineserver that died
            # under it: the log must tell that apart from a program of ours that hangs.
            server = _server_running(self._prefix)
            self.kill()
            out, err = self._output()
            raise AssertionError("%s did not end within %s s (a wineserver of its prefix %s); its output so far: %r %r"
                                 % (" ".join(self.proc.args[1:]), timeout, "runs" if server else "does not run",
                                    out[-600:], err[-600:])) from None
        return Result(rc, *self._output())

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


class Wine:
    def __init__(self, root=None, bin_dir=None):
        self.root = os.path.abspath(root or _root_from_env())
        self.bin = os.path.abspath(bin_dir or os.environ.get("TOVI_BIN", os.path.join(self.root, "..", "bin")))
        self.prefix = os.path.join(self.root, "prefix")
        self.state_file = os.path.join(self.root, "session.json")
        self.display = None
        self._own_xvfb = None
        self.loader, self.unsupported = pick_loader()
        os.makedirs(self.root, exist_ok=True)

    # --- environment -----------------------------------------------------------------------

    def env(self, extra=None):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = env.get("TOVI_WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = DLL_OVERRIDES
        env["DISPLAY"] = self.display or env.get("DISPLAY", "")
        if self.loader == WINE64_LOADER:
            env["WINELOADER"] = WINE64_LOADER  # what Wine re-executes for its own programs
        if extra:
            env.update(extra)
        return env

    def _xvfb_alive(self, state):
        try:
            os.kill(state["xvfb_pid"], 0)
        except (OSError, KeyError, TypeError):
            return False
        return True

    def _start_xvfb(self):
        """Starts Xvfb on a free display (Xvfb picks it) and returns (display, pid)."""
        r, w = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(w)
        number = b""
        deadline = time.time() + 30
        while time.time() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
            if number.endswith(b"\n"):
                break
        os.close(r)
        if not number.strip():
            proc.kill()
            raise RuntimeError("Xvfb did not start")
        return ":" + number.decode().strip(), proc.pid

    def _lock(self):
        f = open(os.path.join(self.root, "lock"), "w")
        fcntl.flock(f, fcntl.LOCK_EX)
        return f

    def start(self, persistent=False):
        """Makes a display and a ready prefix available. persistent: leave them running for later
        test processes (the CTest fixture); otherwise they are stopped when this process ends."""
        with self._lock():
            state = None
            if os.path.exists(self.state_file):
                with open(self.state_file) as f:
                    state = json.load(f)
            if state and self._xvfb_alive(state):
                self.display = state["display"]
            else:
                self.display, pid = self._start_xvfb()
                if persistent:
                    with open(self.state_file, "w") as f:
                        json.dump({"display": self.display, "xvfb_pid": pid}, f)
                else:
                    self._own_xvfb = pid
                    atexit.register(self.stop)
            self._ensure_prefix()
            # Keep a wineserver warm: each run then takes ~0.1 s instead of ~0.7 s.
            subprocess.run(["wineserver", "-p"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        return self

    def _ensure_prefix(self):
        marker = os.path.join(self.prefix, ".tovi-ready")
        if os.path.exists(marker):
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        env = self.env()
        log = os.path.join(self.root, "wineboot.log")
        with open(log, "wb") as out:
            subprocess.run([self.loader, "wineboot", "-i"], env=env, stdout=out, stderr=out, timeout=600)
            subprocess.run(["wineserver", "-w"], env=env, stdout=out, stderr=out, timeout=600)
            for key, name, kind, value in [
                (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
                (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
            ]:
                subprocess.run([self.loader, "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                               env=env, stdout=out, stderr=out, timeout=120)
            subprocess.run(["wineserver", "-w"], env=env, stdout=out, stderr=out, timeout=600)
        if not os.path.isdir(os.path.join(self.prefix, "drive_c", "windows")):
            raise RuntimeError("wine prefix was not created; see " + log)
        open(marker, "w").close()

    def stop(self):
        """Stops the wineserver, then the display this process or the fixture started."""
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        pids = []
        if self._own_xvfb:
            pids.append(self._own_xvfb)
            self._own_xvfb = None
        elif os.path.exists(self.state_file):
            with open(self.state_file) as f:
                state = json.load(f)
            os.unlink(self.state_file)
            pids.append(state.get("xvfb_pid"))
        for pid in pids:
            try:
                os.killpg(pid, signal.SIGTERM)
            except (OSError, TypeError):
                pass

    # --- running programs -----------------------------------------------------------------

    def tmpdir(self, name="t"):
        base = os.path.join(self.root, "runs")
        os.makedirs(base, exist_ok=True)
        return tempfile.mkdtemp(prefix=name + "-", dir=base)

    def spawn(self, exe, args=(), cwd=None, env=None):
        logs = self.tmpdir("out")
        out_path = os.path.join(logs, "stdout")
        err_path = os.path.join(logs, "stderr")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen([self.loader, exe] + list(args), cwd=cwd or os.path.dirname(exe),
                                    env=self.env(env), stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    start_new_session=True)
        return Running(proc, out_path, err_path, self.prefix)

    def run(self, exe, args=(), cwd=None, env=None, timeout=60):
        return self.spawn(exe, args, cwd, env).wait(timeout)

    def _box_reader(self, timeout):
        return self.spawn(os.path.join(self.bin, "testhelpers", "msgbox_reader.exe"), [str(int(timeout * 1000))],
                          cwd=self.root)

    @staticmethod
    def _box_of(result):
        if result.rc != 0:
            return None
        box = json.loads(result.stdout.decode("utf-8").strip().splitlines()[-1])
        return box["caption"], box["text"]

    def message_box(self, timeout=10):
        """(caption, text) of the next message box on screen, pressed OK; None if none came."""
        return self._box_of(self._box_reader(timeout).wait(timeout + 60))

    def box_while(self, running, timeout=60):
        """(caption, text) of a message box shown while `running` runs, pressed OK; None once it has
        ended without one. The reader writes its line before it presses OK, and a modal box holds
        its program until then: a program that ended while the reader had written nothing showed
        none."""
        reader = self._box_reader(timeout)
        try:
            while running.running() and reader.running():
                time.sleep(0.05)
            if reader.running() and os.path.getsize(reader.out_path) == 0:
                return None
            return self._box_of(reader.wait(60))
        finally:
            reader.kill()

    def wait_ended(self, folder, timeout=60):
        """Waits until no program runs in folder, those that the programs under test started
        there themselves included (a Wine process's Unix working folder is its current folder,
        which a started program inherits); False if some still run at the time-out."""
        folder = os.path.realpath(folder)
        deadline = time.time() + timeout
        while time.time() < deadline:
            if folder not in (_working_folder(pid) for pid in os.listdir("/proc") if pid.isdigit()):
                return True
            time.sleep(0.1)
        return False

    def dosdevice(self, name, target):
        """Maps a DOS device (e.g. "com3") of the prefix to a Unix path (e.g. a pty)."""
        link = os.path.join(self.prefix, "dosdevices", name.lower())
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(target, link)

    def kill_server(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


class WineTestCase(unittest.TestCase):
    """Base class: self.wine (started once per test process) and self.bin (the preset's bin/)."""

    _wine = None

    @classmethod
    def setUpClass(cls):
        loader, reason = pick_loader()
        if loader is None:
            raise unittest.SkipTest(reason)
        if WineTestCase._wine is None:
            WineTestCase._wine = Wine().start()
        cls.wine = WineTestCase._wine
        cls.bin = cls.wine.bin

    def folder_with(self, name, *paths):
        """A fresh folder for this test, removed after it, holding copies of paths (as copy_to)."""
        folder = self.wine.tmpdir(name)
        self.addCleanup(shutil.rmtree, folder, True)
        return self.copy_to(folder, *paths)

    def copy_to(self, folder, *paths):
        """Copies files (absolute, or relative to bin/) into folder; returns folder."""
        for p in paths:
            src = p if os.path.isabs(p) else os.path.join(self.bin, p)
            shutil.copy2(src, folder)
        return folder


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command in ("setup", "test"):
        loader, reason = pick_loader()
        if loader is None:
            print("skipped: " + reason)
            # scripts/test-all.sh ends with this reason, so that a green run says what it left out.
            root = _root_from_env()
            os.makedirs(root, exist_ok=True)
            with open(os.path.join(root, "skipped"), "w") as f:
                f.write(reason + "\n")
            return SKIPPED
    if command == "setup":
        Wine().start(persistent=True)
        print("wine ready")
    elif command == "test" and len(sys.argv) == 3:
        # One test module, verbosely; skipped as a whole where this machine cannot run the build.
        program = unittest.main(module=sys.argv[2], argv=[sys.argv[0], "-v"], exit=False)
        return 0 if program.result.wasSuccessful() else 1
    elif command == "teardown":
        Wine().stop()
        print("wine stopped")
    else:
        print("usage: wineenv.py setup|teardown|test MODULE", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
