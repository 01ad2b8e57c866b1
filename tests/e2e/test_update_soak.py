"""A few update soak runs under Wine: the Windows updater and support program against the local
fault-injecting server (scripts/soak-update.py --wine; scripts/soak.sh runs the long soaks)."""
import os
import subprocess
import sys

from wineenv import WineTestCase

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "integration"))
from test_client import openssl_folder  # noqa: E402


class UpdateSoakTest(WineTestCase):
    def test_no_run_leaves_a_damaged_install(self):
        env = dict(os.environ, TOVI_OPENSSL_DIR=openssl_folder(), TOVI_BIN=self.bin)
        p = subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "scripts", "soak-update.py"), "--wine",
                            "--bin", self.bin, "--runs", "3", "--minutes", "3"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=800)
        out = p.stdout.decode("utf-8", "replace")
        self.assertEqual(p.returncode, 0, out)
        self.assertIn(" 0 damaged installs", out)
