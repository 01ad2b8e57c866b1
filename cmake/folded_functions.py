#!/usr/bin/env python3
"""Fails when one address of an i686 Windows binary carries functions of different calling conventions.

GCC's identical-code folding (-fipa-icf, on at -O2) merges functions whose bodies compile alike, even
a member function (thiscall: `this` in ECX, callee pops its stack arguments) and a static or free
function (cdecl: everything on the stack, the caller pops). Whoever calls the merged body through
the other convention reads a wrong argument and leaves the stack a slot off: the client crashed so at
the first call that the origin guard refused. The i686 build turns the folding off; this check, run on
every shipped i686 binary before it is stripped, makes sure that no such pair remains, in our code or
in the static runtime linked into it.

    folded_functions.py <nm program> <binary>
    folded_functions.py --link <nm program> <strip program or -> -- <link command...>

The second form is the linker launcher of the shipped i686 targets: it links, checks the output, and
strips it (a failed check removes the output, so the next build links it again).

A mangled name cannot say whether a member function is static, so an address passes only when its
functions are one entity (a constructor's or destructor's variants), or all provably of one kind:
all non-static members (const members, constructors, destructors) or all free functions of one
convention (stdcall's "@N" included).
"""
import os
import re
import subprocess
import sys
from collections import defaultdict

_CTOR_DTOR = re.compile(r"(C[123]|D[012])E")


def _plain(name):
    """The name without a transaction-safe clone's "GTt" (the clone keeps the function's convention)."""
    return "_Z" + name[5:] if name.startswith("_ZGTt") else name


def _entity(name):
    """The function a symbol names, with a constructor's or destructor's variant left out."""
    name = _plain(name)
    return re.sub(r"(C[123]|D[012])E", "E", name, count=1) if name.startswith(("_ZN", "_ZZ")) else name


def kind(name):
    """'member' (non-static member: thiscall), 'free:<suffix>' (cdecl or stdcall), or None (unknown)."""
    name = _plain(name)
    if name.startswith("_ZNK") or (name.startswith(("_ZN", "_ZZ")) and _CTOR_DTOR.search(name)):
        return "member"
    if re.match(r"_Z(L|St)?\d", name):  # not nested: a function at namespace scope
        return "free:"
    if not name.startswith("_Z"):
        at = name.rfind("@")
        return "free:" + (name[at:] if at > 0 else "")
    return None  # nested: a member (static or not) or a function in a namespace


def mixed_addresses(nm_lines, underscore=True):
    """{address: sorted names} of every address whose functions may differ in calling convention."""
    by_address = defaultdict(set)
    for line in nm_lines:
        parts = line.split()
        if len(parts) != 3 or parts[1] not in "TtWw" or parts[2].startswith("."):
            continue  # not a function, or a section's own symbol (".text")
        name = parts[2][1:] if underscore and parts[2].startswith("_") else parts[2]
        by_address[parts[0]].add(name)
    bad = {}
    for address, names in by_address.items():
        if len({_entity(n) for n in names}) < 2:
            continue
        kinds = {kind(n) for n in names}
        if None in kinds or len(kinds) > 1:
            bad[address] = sorted(names)
    return bad


def check(nm, binary):
    lines = subprocess.run([nm, "--defined-only", binary], check=True, capture_output=True, text=True).stdout
    bad = mixed_addresses(lines.splitlines())
    for address, names in sorted(bad.items()):
        print("%s: %s carries %s" % (binary, address, ", ".join(names)), file=sys.stderr)
    if bad:
        print("%s: %d address(es) carry functions that may differ in calling convention (identical-code "
              "folding on i686); build with -fno-ipa-icf" % (binary, len(bad)), file=sys.stderr)
        return 1
    return 0


def link(nm, strip, command):
    rc = subprocess.run(command).returncode
    if rc != 0:
        return rc
    output = command[command.index("-o") + 1]
    if check(nm, output) != 0:
        os.remove(output)
        return 1
    if strip != "-":
        return subprocess.run([strip, "--strip-all", output]).returncode
    return 0


def main():
    args = sys.argv[1:]
    if len(args) >= 5 and args[0] == "--link" and args[3] == "--":
        return link(args[1], args[2], args[4:])
    if len(args) == 2:
        return check(*args)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
