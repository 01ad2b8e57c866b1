#!/usr/bin/env bash
# Installs the page side's npm packages (demo/npm/package-lock.json: the ESC/POS encoder the demo
# page and its tests build raw receipts with) into a folder outside the sources, by default
# build/npm, and prints the folder's path. Quick when that lock is installed there already.
#   bash scripts/npm-deps.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
dest=$(realpath -m "${1:-build/npm}")
mkdir -p "$dest"
if ! cmp -s demo/npm/package-lock.json "$dest/package-lock.json" || [ ! -d "$dest/node_modules" ]; then
  command -v npm >/dev/null || { echo "npm is missing: bash scripts/install-deps.sh installs it" >&2; exit 1; }
  cp demo/npm/package.json demo/npm/package-lock.json "$dest/"
  # Exactly the locked versions; no scripts run (the encoder is plain JavaScript).
  # A failed install leaves no lock behind, so the next run tries again.
  (cd "$dest" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >&2) || {
    rm -f "$dest/package-lock.json"
    exit 1
  }
fi
echo "$dest"
