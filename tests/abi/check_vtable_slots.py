#!/usr/bin/env python3
"""Checks the vtable slot of every virtual operation the host calls, in the host's ABI.

The host is built with the Microsoft C++ ABI, where a virtual destructor takes one slot.
clang compiles a probe that takes the address of every operation in the slot table for
x86_64-pc-windows-msvc and prints the Microsoft vtable layouts; each operation must sit at
its slot, and each class must declare no virtual operation that the table does not list.

usage: check_vtable_slots.py TABLE CLANG HEADER... -- COMPILER_FLAGS...
Exit status 0 when every slot matches, 1 with one line per mismatch otherwise.
"""
import re
import subprocess
import sys
import tempfile
from collections import defaultdict


def read_table(path):
    slots = defaultdict(dict)
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if len(fields) != 3 or not fields[1].isdigit():
                sys.exit(f"{path}:{number}: expected '<class> <slot> <operation>', got '{line}'")
            slots[fields[0]][fields[2]] = int(fields[1])
    return slots


def probe_source(headers, slots):
    lines = [f'#include "{h}"' for h in headers]
    # A pointer to a virtual member makes the compiler place the operation in its vtable,
    # and -fdump-vtable-layouts then prints the indices of the class that declares it.
    for n, (cls, operations) in enumerate(sorted(slots.items())):
        for m, operation in enumerate(sorted(operations)):
            if not operation.startswith("~"):
                lines.append(f"auto probe_{n}_{m} = &KUtils::{cls}::{operation};")
    return "\n".join(lines) + "\n"


def dumped_indices(dump):
    """{class: {operation: {index, ...}}} from the 'VFTable indices' sections."""
    found = defaultdict(lambda: defaultdict(set))
    cls = None
    for line in dump.splitlines():
        header = re.match(r"VFTable indices for 'KUtils::(\w+)'", line)
        if header:
            cls = header.group(1)
            continue
        if not line.strip():
            cls = None
            continue
        entry = re.match(r"\s*(\d+) \| .*?(\w+)::(~?\w+)\(", line)
        if cls and entry and entry.group(2) == cls:
            found[cls][entry.group(3)].add(int(entry.group(1)))
    return found


def compile_probe(clang, headers, slots, flags):
    with tempfile.NamedTemporaryFile("w", suffix=".cpp") as probe:
        probe.write(probe_source(headers, slots))
        probe.flush()
        command = [clang, "--target=x86_64-pc-windows-msvc", "-std=c++20", "-fno-rtti",
                   "-Xclang", "-fdump-vtable-layouts", "-S", "-o", "/dev/null", *flags, probe.name]
        return subprocess.run(command, capture_output=True, text=True)


def main():
    if "--" not in sys.argv:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    table, clang, *headers = sys.argv[1:split]
    flags = sys.argv[split + 1:]
    slots = read_table(table)

    # Operations the headers do not declare are reported as missing and left out of the
    # probe, so that the others are still checked.
    missing = set()
    for _ in range(2):
        probed = {cls: {op: slot for op, slot in ops.items() if (cls, op) not in missing}
                  for cls, ops in slots.items()}
        result = compile_probe(clang, headers, probed, flags)
        absent = set(re.findall(r"no member named '(~?\w+)' in 'KUtils::(\w+)'", result.stderr))
        if result.returncode == 0 or not absent:
            break
        missing |= {(cls, op) for op, cls in absent}
    if result.returncode != 0:
        print(result.stderr, file=sys.stderr)
        sys.exit("the probe does not compile for the Microsoft ABI")

    found = dumped_indices(result.stdout)
    errors = []
    for cls, operations in sorted(slots.items()):
        if cls not in found:
            errors.append(f"{cls}: no vtable layout printed")
            continue
        for operation, slot in sorted(operations.items(), key=lambda item: item[1]):
            indices = found[cls].get(operation)
            if (cls, operation) in missing or not indices:
                errors.append(f"{cls}::{operation}: not a virtual operation of the class")
            elif indices != {slot}:
                at = ", ".join(str(i) for i in sorted(indices))
                errors.append(f"{cls}::{operation}: slot {slot} expected, found at {at}")
        for operation, indices in sorted(found[cls].items()):
            if operation not in operations:
                at = ", ".join(str(i) for i in sorted(indices))
                errors.append(f"{cls}::{operation}: virtual at {at}, not in the slot table")
    for error in errors:
        print(error)
    checked = sum(len(operations) for operations in slots.values())
    print(f"{checked} slots of {len(slots)} classes checked, {len(errors)} mismatches")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
