"""The Windows packages under Wine: the setup program installs silently with its options, the
folder holds exactly the till's files, the client starts from there and reveals, installing again
ends a running client as its own close function does and keeps the till's settings, and the silent
uninstall string removes the program files and the uninstall entry. The zips hold the same files.

Needs the package target built (build/<preset>/package, TOVI_PACKAGE_DIR)."""

import glob
import os
import re
import shutil
import sys
import time
import unittest
import zipfile

from test_client import VERSION, WIN64
from test_updater_server import UpdateServer, make_pki, manifest_bytes

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from testfiles import read, write  # noqa: E402
from wineenv import WineTestCase, winpath

PACKAGE_DIR = os.environ.get("TOVI_PACKAGE_DIR", "")
SSL_NAMES = ["libcrypto-3-x64.dll", "libssl-3-x64.dll"] if WIN64 else ["libcrypto-3.dll", "libssl-3.dll"]
TILL_FILES = sorted(["tovipos.exe", "tovipos_print.exe", "winprint.dll", "api_com.dll", "cacert.pem", "tovipos.js",
                     "config.ini", "devices.ini"] + SSL_NAMES)
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\tovipos"
START_MENU = os.path.join("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")


def package(pattern):
    found = sorted(glob.glob(os.path.join(PACKAGE_DIR, pattern)))
    if not found:
        raise unittest.SkipTest("no %s in %r: build the package target first" % (pattern, PACKAGE_DIR))
    return found[-1]


class PackageTest(WineTestCase):
    KEY = "HKLM\\" + UNINSTALL_KEY
    # The registry view the installer writes: its own architecture's.
    VIEW = "/reg:64" if WIN64 else "/reg:32"

    @classmethod
    def setUpClass(cls):
        cls.setup_exe = package("tovipos-*-setup.exe")
        super().setUpClass()
        cls.pki = make_pki(cls.wine.tmpdir("pki"))
        site = cls.wine.tmpdir("site")
        with open(os.path.join(site, "list.txt"), "wb") as f:
            f.write(manifest_bytes(VERSION, []))
        cls.server = UpdateServer(site, cls.pki).__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        cls.drive_c = os.path.join(cls.wine.prefix, "drive_c")
        cls.folder = os.path.join(cls.drive_c, "tovipos")

    def reg_query(self, value):
        """The value of the uninstall entry, or None."""
        r = self.wine.run("reg", ["query", self.KEY, "/v", value, self.VIEW], cwd=self.wine.root, timeout=60)
        m = re.search(r"%s\s+REG_\w+\s+(.*)" % value, r.stdout.decode("utf-8", "replace"))
        return m.group(1).strip() if m else None

    def forget_install(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        self.wine.run("reg", ["delete", self.KEY, "/f", self.VIEW], cwd=self.wine.root, timeout=60)
        base = os.path.join(self.drive_c, START_MENU)
        for d, _, names in os.walk(base):
            for n in names:
                if n.lower() == "tovipos.lnk":
                    os.unlink(os.path.join(d, n))

    def setup(self, *args):
        r = self.wine.run(self.setup_exe, list(args), cwd=self.wine.root, timeout=180)
        self.assertEqual(r.rc, 0, r)

    def start_installed(self, script):
        """The installed client, started by its Windows path as a shortcut would."""
        with open(self.page, "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        return self.wine.spawn("C:\\tovipos\\tovipos.exe", cwd=self.folder,
                               env={"TOVI_ENGINE_LOG": winpath(self.engine_log)})

    def shortcuts(self):
        """Our shortcuts in the common Start menu, relative and in lower case (Wine's folder names
        differ in case from Windows')."""
        base = os.path.join(self.drive_c, START_MENU)
        return sorted(os.path.relpath(os.path.join(d, n), base).lower() for d, _, names in os.walk(base)
                      for n in names if n.lower() == "tovipos.lnk")

    def engine_lines(self):
        with open(self.engine_log, "rb") as f:
            return f.read().decode("utf-8", "replace").splitlines()

    def test_install_start_reinstall_uninstall(self):
        # A fresh state, also after a failed run: no earlier install in this prefix.
        self.forget_install()
        self.addCleanup(self.forget_install)
        self.assertIsNone(self.reg_query("DisplayName"))
        work = self.wine.tmpdir("package")
        # "#" and ";" would end an unquoted INI value: the installer must quote the address.
        # A space makes the option one quoted word on the command line.
        os.makedirs(os.path.join(work, "pos #1;a"))
        self.page = os.path.join(work, "pos #1;a", "page.txt")
        self.engine_log = os.path.join(work, "engine.log")
        url = "file:///" + winpath(self.page).replace("\\", "/")
        engine = winpath(os.path.join(self.bin, "testengine", "node.dll"))

        self.setup("/S", "/URL=" + url, "/UPDATEURL=" + self.server.url("/"), "/ENGINE=" + engine, "/AUTOSTART")

        self.assertEqual(sorted(os.listdir(self.folder)), sorted(TILL_FILES + ["node.dll", "uninstall.exe"]))
        self.assertEqual(self.shortcuts(), ["startup/tovipos.lnk", "tovipos.lnk"])
        # One build, one set of bytes: what the installer put there is the zip's and the build's.
        with zipfile.ZipFile(package("tovipos-[0-9]*-win*[0-9].zip")) as z:
            for name in ("tovipos.exe", "tovipos_print.exe", "winprint.dll", "api_com.dll"):
                installed = read(os.path.join(self.folder, name))
                self.assertEqual(installed, z.read(name), name)
                self.assertEqual(installed, read(os.path.join(self.bin, name)), name)
        self.assertEqual(self.reg_query("QuietUninstallString"), '"C:\\tovipos\\uninstall.exe" /S')
        # The test server's certificate comes from the test CA, next to Debian's bundle.
        with open(os.path.join(self.pki, "ca.pem"), "rb") as src, \
                open(os.path.join(self.folder, "cacert.pem"), "ab") as dst:
            dst.write(src.read())

        # Starts from there with the installed settings and reveals the page.
        run = self.start_installed(["ready", "waitprobe view visible=1", "probe shown", "call toviWinClose"]).wait(90)
        self.assertEqual(run.rc, 0, run)
        lines = self.engine_lines()
        self.assertIn("wkeLoadURL url=" + url, lines)
        self.assertTrue(any(re.match(r"probe shown frame .*visible=1", line) for line in lines), lines)

        # Installing again ends the running client the way toviWinClose does (status 0, the view
        # destroyed) and keeps the till's changed settings.
        config = os.path.join(self.folder, "config.ini")
        with open(config, "ab") as f:
            f.write(b"; changed on the till\r\n")
        with open(config, "rb") as f:
            changed = f.read()
        os.unlink(self.engine_log)
        client = self.start_installed(["ready", "probe up", "wait 120000"])
        deadline = time.time() + 60
        while time.time() < deadline and not any(line.startswith("probe up") for line in
                                                  (self.engine_lines() if os.path.exists(self.engine_log) else [])):
            time.sleep(0.3)
        # What the updater kept of an earlier release belongs to the files this install replaces.
        write(os.path.join(self.folder, "tovipos.previous", "release.json"), b"{}")
        write(os.path.join(self.folder, "tovipos.exe.txt"), b"MZ a client waiting for its hand-off")
        self.setup("/S")
        run = client.wait(30)
        self.assertEqual(run.rc, 0, run)
        self.assertIn("wkeDestroyWebWindow", self.engine_lines())
        with open(config, "rb") as f:
            self.assertEqual(f.read(), changed)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "tovipos.previous")))
        self.assertFalse(os.path.exists(os.path.join(self.folder, "tovipos.exe.txt")))

        # The silent uninstall string removes the program files (and what updates added) and the
        # entry; the till's settings stay.
        with open(os.path.join(self.folder, "added-by-an-update.dll"), "wb") as f:
            f.write(b"x")
        quiet = self.reg_query("QuietUninstallString")
        exe = quiet.split('"')[1]
        self.wine.run(exe, ["/S"], cwd=self.wine.root, timeout=120)
        # The uninstaller runs on from a copy of itself: wait for its work.
        deadline = time.time() + 60
        while time.time() < deadline and (self.reg_query("DisplayName") is not None or
                                          os.path.exists(os.path.join(self.folder, "tovipos.exe"))):
            time.sleep(0.5)
        self.assertIsNone(self.reg_query("DisplayName"))
        self.assertEqual(sorted(os.listdir(self.folder)), ["config.ini", "devices.ini"])
        self.assertEqual(self.shortcuts(), [])

    def test_refused_installs_change_nothing(self):
        # (case, folder's files before, options): each ends with status 2 and leaves the folder as it was.
        cases = [
            ("a folder of other files", {"report.xls": b"shop data"}, []),
            ("an engine that is not there", {}, ["/ENGINE=C:\\no\\such\\node.dll"]),
            ("an empty address", {}, ["/UPDATEURL="]),
        ]
        for name, files, options in cases:
            with self.subTest(name):
                folder = self.wine.tmpdir("refused")
                for n, data in files.items():
                    with open(os.path.join(folder, n), "wb") as f:
                        f.write(data)
                r = self.wine.run(self.setup_exe, ["/S"] + options + ["/D=" + winpath(folder)],
                                  cwd=self.wine.root, timeout=120)
                self.assertEqual(r.rc, 2, r)
                self.assertEqual(sorted(os.listdir(folder)), sorted(files))

    def test_zips_hold_the_till_files_and_the_tool(self):
        with zipfile.ZipFile(package("tovipos-[0-9]*-win*[0-9].zip")) as z:
            self.assertEqual(sorted(z.namelist()), TILL_FILES)
            config = z.read("config.ini").decode("utf-8")
        self.assertRegex(config, r"(?m)^\[base\]")
        with zipfile.ZipFile(package("tovipos-tools-*.zip")) as z:
            self.assertEqual(z.namelist(), ["publish.exe"])


if __name__ == "__main__":
    unittest.main()
