"""The Debian package on this machine: dpkg -i installs the till under /opt/tovipos for group
tovipos, the client starts from there and shows its page, installing again keeps the till's
settings, and remove then purge take the files away. Needs root and the built package
(TOVI_PACKAGE_DIR); the package is purged afterwards."""

import glob
import grp
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_client_linux import DIALOG_STANDIN, page  # noqa: E402
from test_updater_server import UpdateServer, make_pki, manifest_bytes  # noqa: E402
from virtual_display import VirtualDisplay, visible_windows, wait_for  # noqa: E402

FOLDER = "/opt/tovipos"
PROGRAM_FILES = ["tovipos", "tovipos_print", "libwinprint.so", "libapi_com.so", "libtovi_webengine.so", "receipt-preview",
                 "tovipos.js", "cacert.pem"]


def dpkg(*args):
    r = subprocess.run(["dpkg"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    return r.returncode, r.stdout.decode("utf-8", "replace")


class DebPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        found = sorted(glob.glob(os.path.join(os.environ.get("TOVI_PACKAGE_DIR", ""), "tovipos_*.deb")))
        if not found:
            raise unittest.SkipTest("no .deb in TOVI_PACKAGE_DIR: build the package target first")
        if os.geteuid() != 0:
            raise unittest.SkipTest("installing a package needs root")
        if dpkg("-s", "tovipos")[0] == 0:
            raise unittest.SkipTest("tovipos is installed on this machine already; the test leaves it alone")
        cls.deb = found[-1]

    def setUp(self):
        self.addCleanup(dpkg, "--purge", "tovipos")
        self.tmp = tempfile.mkdtemp(prefix="tovi-deb-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_install_start_reinstall_remove(self):
        rc, out = dpkg("-i", self.deb)
        self.assertEqual(rc, 0, out)
        names = set(os.listdir(FOLDER))
        self.assertEqual(names, set(PROGRAM_FILES + ["config.ini", "devices.ini"]))
        self.assertTrue(os.path.exists("/usr/share/applications/tovipos.desktop"))
        # The till's user, once in group tovipos, can update the folder in place.
        info = os.stat(FOLDER)
        self.assertEqual(grp.getgrgid(info.st_gid).gr_name, "tovipos")
        self.assertTrue(info.st_mode & stat.S_IWGRP and info.st_mode & stat.S_ISGID)
        self.assertTrue(os.stat(os.path.join(FOLDER, "tovipos")).st_mode & stat.S_IWGRP)
        self.assertEqual(os.readlink(os.path.join(FOLDER, "cacert.pem")), "/etc/ssl/certs/ca-certificates.crt")
        # One build, one set of bytes: the installed programs are the build folder's.
        bin_dir = os.path.join(os.path.dirname(os.environ["TOVI_PACKAGE_DIR"]), "bin")
        for name in set(PROGRAM_FILES) - {"cacert.pem"}:
            with open(os.path.join(FOLDER, name), "rb") as a, open(os.path.join(bin_dir, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

        # The till's settings: its page, and the test server (whose CA replaces the system's bundle).
        pki = make_pki(os.path.join(self.tmp, "pki"))
        srv = os.path.join(self.tmp, "srv")
        os.makedirs(os.path.join(srv, "update"))
        with open(os.path.join(srv, "update", "list.txt"), "wb") as f:
            f.write(manifest_bytes("1", []))
        server = UpdateServer(srv, pki).__enter__()
        self.addCleanup(server.__exit__)
        with open(os.path.join(self.tmp, "page.html"), "w", encoding="utf-8") as f:
            f.write(page("tovi-deb", "setTimeout(function(){toviWinClose('');}, 2000);"))
        # With a till identity already there, a start writes nothing into config.ini.
        config = ("[base]\nurl = file://%s/page.html\nupdateUrl = %s\nversion = 1\ntillId = %s\n"
                  % (self.tmp, server.url("/update/"), "0" * 32)).encode()
        with open(os.path.join(FOLDER, "config.ini"), "wb") as f:
            f.write(config)
        os.unlink(os.path.join(FOLDER, "cacert.pem"))
        shutil.copy(os.path.join(pki, "ca.pem"), os.path.join(FOLDER, "cacert.pem"))

        # Started from there as the desktop entry does, under a display of its own.
        display = None
        env = dict(os.environ)
        if not env.get("DISPLAY"):
            display = VirtualDisplay()
            display.start()
            self.addCleanup(display.stop)
            env["DISPLAY"] = os.environ["DISPLAY"]
        tools = os.path.join(self.tmp, "tools")
        os.makedirs(tools)
        for name in ("zenity", "xmessage"):
            with open(os.path.join(tools, name), "w") as f:
                f.write(DIALOG_STANDIN)
            os.chmod(os.path.join(tools, name), 0o755)
        env.update(PATH=tools + ":" + env.get("PATH", ""), TOVI_DIALOG_LOG=os.path.join(self.tmp, "dialogs.log"))
        with open(os.path.join(self.tmp, "client.log"), "wb") as log:
            proc = subprocess.Popen([os.path.join(FOLDER, "tovipos")], cwd=FOLDER, env=env, stdout=log,
                                    stderr=subprocess.STDOUT)
        try:
            self.assertTrue(wait_for(lambda: visible_windows("tovi-deb"), 30), "the page was never shown")
            self.assertEqual(proc.wait(timeout=30), 0)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()

        # The receipt picture works with what the package depends on (its libraries and the font).
        job = os.path.join(self.tmp, "job.bin")
        with open(job, "wb") as f:
            f.write("\x1b@中文 12.50\n".encode("gb2312") + b"\x1dk\x04TOVI\x00\x1dVB\x00")
        r = subprocess.run([os.path.join(FOLDER, "receipt-preview"), job, job + ".png"], capture_output=True)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        with open(job + ".png", "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

        # Installing again keeps the till's settings, and drops what the updater kept of an
        # earlier release (it belongs to the files the package replaces).
        os.makedirs(os.path.join(FOLDER, "tovipos.previous"))
        rc, out = dpkg("-i", self.deb)
        self.assertEqual(rc, 0, out)
        with open(os.path.join(FOLDER, "config.ini"), "rb") as f:
            self.assertEqual(f.read(), config)
        self.assertFalse(os.path.exists(os.path.join(FOLDER, "tovipos.previous")))

        # Remove takes the program files and keeps the settings; purge takes the rest.
        rc, out = dpkg("-r", "tovipos")
        self.assertEqual(rc, 0, out)
        self.assertEqual(set(os.listdir(FOLDER)) & set(PROGRAM_FILES) - {"cacert.pem"}, set())
        self.assertTrue(os.path.exists(os.path.join(FOLDER, "config.ini")))
        rc, out = dpkg("--purge", "tovipos")
        self.assertEqual(rc, 0, out)
        self.assertFalse(os.path.exists(FOLDER))


if __name__ == "__main__":
    unittest.main()
