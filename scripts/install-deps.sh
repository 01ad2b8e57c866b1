#!/usr/bin/env bash
# Installs every Debian package that building and testing need (Debian 12, as root or with sudo).
# Quick when everything is there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config python3 openssl ca-certificates
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth socat
  rapidjson-dev libgtest-dev googletest
  dpkg-dev perl nsis zenity adduser
  libgtk-3-dev libwebkit2gtk-4.1-dev openbox xdotool x11-utils imagemagick
  zenity  # the support program's message boxes (xmessage, in x11-utils, is only the last resort)
  fonts-wqy-microhei  # a Chinese font: the pages, the splash and the receipt pictures show Chinese text
  libzint-dev libpng-dev libfreetype-dev libfontconfig-dev  # the virtual printer's receipt pictures
  zbar-tools  # the tests read the pictures' QR codes and bar codes back
)
# The page side's ESC/POS encoder comes from npm (scripts/npm-deps.sh). A machine with a Node.js of
# its own (which brings npm) keeps it; Debian's nodejs and npm would conflict with it.
if ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
packages_i386=(wine32:i386)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}" "${packages_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
# 32-bit Windows programs need wine32, which comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails one index now and then ("File has unexpected size"), and
# apt-get update then exits 100 although the other lists are fresh: try again, then go on with what
# arrived; the installs below are what must succeed.
for attempt in 1 2; do
  $SUDO apt-get update -q && break
  echo "install-deps: apt-get update failed (attempt $attempt of 2)" >&2
  sleep 5
done
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
# wine32 alone: with an i386 list missing (that sync again) it cannot match the amd64 libraries, and
# only the 32-bit build's Wine tests need it. They skip without it and scripts/test-all.sh says so.
if ! $SUDO apt-get install -y -q --no-install-recommends "${packages_i386[@]}"; then
  echo "install-deps: ${packages_i386[*]} could not be installed: the win32 Wine tests will be skipped" >&2
fi
