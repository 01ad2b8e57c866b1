#!/usr/bin/env bash
# Installs what is needed, builds the three presets and their packages and runs every test: the
# native unit and integration tests (also under ASan/UBSan), the Wine end-to-end tests of both
# architectures, and the packages installed (the .deb with dpkg, the setup programs under Wine).
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

configure_args=()
for preset in native win32 win64; do
  extra=()
  if [ "$preset" != native ] && [ -f scripts/openssl-windows.sh ]; then
    dir=$(bash scripts/openssl-windows.sh "$preset") || { echo "OpenSSL for $preset failed" >&2; exit 1; }
    extra=(-DTOVI_OPENSSL_DIR="$dir")
  fi
  cmake --preset "$preset" "${configure_args[@]}" "${extra[@]}" >/dev/null || exit 1
  # Everything, then the packages (the installer and zips, the .deb) that the package tests install.
  cmake --build --preset "$preset" --target package || exit 1
done

status=0
for preset in native win64 win32; do
  echo "== tests: $preset"
  ctest --preset "$preset" || status=1
done
exit $status
