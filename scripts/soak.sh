#!/usr/bin/env bash
# The long update soaks, outside the test command: update after update with faults, kills, hand-offs
# and bad releases, natively and under Wine for each Windows preset that this machine can run.
# Needs the builds of scripts/test-all.sh.
#
#   scripts/soak.sh [runs, default 200] [minutes per soak, default 30]
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
minutes=${2:-30}
status=0
python3 scripts/soak-update.py --bin build/native/bin --runs "$runs" --minutes "$minutes" || status=1
for preset in win64 win32; do
  [ -d "build/$preset/bin" ] || continue
  arch=x86_64
  [ "$preset" = win32 ] && arch=i686
  if ! reason=$(cd tests/e2e && TOVI_ARCH=$arch python3 -c 'import wineenv; l, r = wineenv.pick_loader(); print(r or "")'); then
    status=1; continue
  fi
  if [ -n "$reason" ]; then
    echo "soak: $preset skipped: $reason"
    continue
  fi
  dir=$(bash scripts/openssl-windows.sh "$preset") || { status=1; continue; }
  TOVI_BIN=$PWD/build/$preset/bin TOVI_WINE_ROOT=$PWD/build/$preset/wine TOVI_ARCH=$arch TOVI_OPENSSL_DIR=$dir \
    python3 scripts/soak-update.py --wine --bin "build/$preset/bin" --runs "$runs" --minutes "$minutes" || status=1
done
exit $status
