"""Renames dynamic symbols of an ELF64 shared library in place, for a Linux double of a serial
library that exports only "_name@bytes" names. The GNU tool chain reads "@" in a symbol name as a
version, so the library is built with stand-in names of the same length ("X" for "@") and a
SysV hash table only (-Wl,--hash-style=sysv); this script writes the real names into .dynstr and
rebuilds the hash table so that dlsym finds them.

    decorate_elf.py lib.so _com_initX8=_com_init@8 ...
"""

import struct
import sys


def elf_hash(name):
    h = 0
    for c in name:
        h = ((h << 4) + c) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g:
            h ^= g >> 24
        h &= ~g & 0xFFFFFFFF
    return h


def main(path, renames):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise SystemExit("not a little-endian ELF64 file: " + path)
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = []
    for i in range(shnum):
        name, kind, flags, addr, offset, size, link, info, align, entsize = struct.unpack_from(
            "<IIQQQQIIQQ", data, shoff + i * shentsize)
        sections.append({"type": kind, "offset": offset, "size": size, "link": link, "entsize": entsize})
    dynsym = next(s for s in sections if s["type"] == 11)
    dynstr = sections[dynsym["link"]]
    hashes = [s for s in sections if s["type"] == 5]
    if not hashes or any(s["type"] == 0x6FFFFFF6 for s in sections):
        raise SystemExit("link with -Wl,--hash-style=sysv: " + path)
    table = hashes[0]

    strings = bytes(data[dynstr["offset"]:dynstr["offset"] + dynstr["size"]])
    for old, new in renames:
        if len(old) != len(new):
            raise SystemExit("names must have the same length: %s %s" % (old, new))
        needle = b"\0" + old.encode() + b"\0"
        at = strings.find(needle)
        if at < 0:
            raise SystemExit("no symbol %s in %s" % (old, path))
        start = dynstr["offset"] + at + 1
        data[start:start + len(old)] = new.encode()
    strings = bytes(data[dynstr["offset"]:dynstr["offset"] + dynstr["size"]])

    count = dynsym["size"] // dynsym["entsize"]
    nbucket, nchain = struct.unpack_from("<II", data, table["offset"])
    if nchain != count:
        raise SystemExit("hash table does not match the symbol table")
    buckets = [0] * nbucket
    chains = [0] * nchain
    for i in range(1, count):
        name_off, = struct.unpack_from("<I", data, dynsym["offset"] + i * dynsym["entsize"])
        name = strings[name_off:strings.index(b"\0", name_off)]
        b = elf_hash(name) % nbucket
        chains[i] = buckets[b]
        buckets[b] = i
    struct.pack_into("<II%dI%dI" % (nbucket, nchain), data, table["offset"], nbucket, nchain, *(buckets + chains))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1], [tuple(a.split("=", 1)) for a in sys.argv[2:]])
