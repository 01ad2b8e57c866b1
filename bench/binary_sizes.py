#!/usr/bin/env python3
"""Sizes of our own programs and libraries, for each built preset.

For every file it prints the size as built and the size once stripped (a stripped copy in a
temporary folder, with the preset's strip; the same figure when the build is stripped already),
and marks a Windows file whose stripped size is 1 MiB or more. The OpenSSL DLLs, the web engine
and the test programs are not ours to trim and are left out.

Prints figures only; nothing here passes or fails.

  python3 bench/binary_sizes.py [--build build] [--presets win32 win64 native]
"""

import argparse
import os
import shutil
import subprocess
import tempfile

WINDOWS = ["tovipos.exe", "tovipos_print.exe", "winprint.dll", "api_com.dll", "publish.exe"]
NATIVE = ["tovipos", "tovipos_print", "libwinprint.so", "libapi_com.so", "libtovi_webengine.so", "publish",
          "receipt-preview"]
STRIP = {"win32": "i686-w64-mingw32-strip", "win64": "x86_64-w64-mingw32-strip", "native": "strip"}
LIMIT = 1 << 20


def stripped_size(path, strip):
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, os.path.basename(path))
        shutil.copyfile(path, copy)
        subprocess.run([strip, "--strip-all", copy], check=True)
        return os.path.getsize(copy)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    parser.add_argument("--presets", nargs="*", default=["win32", "win64", "native"])
    args = parser.parse_args()

    print(f"{'preset':<8} {'file':<22} {'as built':>10} {'stripped':>10} {'MiB':>6}")
    for preset in args.presets:
        folder = os.path.join(args.build, preset, "bin")
        names = NATIVE if preset == "native" else WINDOWS
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.isfile(path):
                print(f"{preset:<8} {name:<22} {'not built':>10}")
                continue
            built = os.path.getsize(path)
            small = stripped_size(path, STRIP[preset])
            mark = "  over 1 MiB" if preset != "native" and small >= LIMIT else ""
            print(f"{preset:<8} {name:<22} {built:>10} {small:>10} {small / LIMIT:>6.2f}{mark}")


if __name__ == "__main__":
    main()
