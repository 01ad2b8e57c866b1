#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything, and runs the demo till (demo/run_demo.py):
# the client with its splash and update from a local HTTPS server, the demo POS page, receipts into
# a virtual printer folder and a customer display on a pty. With a desktop you press the buttons;
# without one it runs on a private Xvfb, the page presses its own buttons, and screenshots are taken.
# Arguments go to demo/run_demo.py (--auto, --out FOLDER, --trickle SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Only the programs (target "programs": what the demo runs and the packages hold), not the tests.
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target programs
done

status=0
python3 demo/run_demo.py "$@" || status=$?
echo "The Windows programs are in build/win64/bin and build/win32/bin."
exit "$status"
