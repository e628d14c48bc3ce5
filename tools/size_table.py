#!/usr/bin/env python3
"""What each Windows deliverable is made of: its bytes by object and section.

Reads the stripped binaries of build/win32/bin and the link maps that
cmake/QxWindows.cmake has the linker write beside them (build/win32/maps).
Every byte of a binary's file is counted once: each section's bytes go to
the objects the map places in it, what is left of the section (alignment
between objects, the file's 512-byte alignment at the end) to "padding",
and what precedes the first section to "headers". A section the map does
not know (the debug link the shipping step adds) counts as "linker".

Usage: size_table.py BUILD_DIR [--objects] [--only EDITION/FILE]...
(tools/size-table.sh builds first and then runs this.)
"""
import argparse
import collections
import os
import re
import struct
import sys

DELIVERABLES = ["2002/Quorvix.exe", "2003/Quorvix2003.exe", "2002/stv.exe", "2003/stv.exe", "2003/Pranset.dll"]

# Columns: the file's sections, grouped by what they hold.
COLUMNS = [
    ("code", {".text"}),
    ("rdata", {".rdata"}),
    ("data", {".data"}),
    ("unwind", {".pdata", ".xdata"}),
    ("imports", {".idata"}),
    ("rsrc", {".rsrc"}),
    ("other", None),  # .CRT, .tls, .edata, .reloc, the debug link
]

# The C runtime's start-up objects, linked by name rather than from a library.
CRT_OBJECTS = {"crt2.o", "crt2u.o", "dllcrt2.o", "crtbegin.o", "crtend.o"}
# Groups that are not the programs' own, in the order the table lists them
# after the rooms and the resources.
RUNTIME_GROUPS = ["C++ library", "compiler support", "C runtime", "imports", "linker"]
# What the linker itself writes ("dll stuff" in the map).
LINKER_MADE = {".reloc": "base relocations", ".edata": "export table"}


def pe_sections(path):
    """The binary's sections as (name, bytes in the file), the bytes before
    the first, the bytes after the last (the string table that holds the
    debug link's long name) and the file's size."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    symbols, symbol_count = struct.unpack_from("<II", data, pe + 12)
    table = pe + 24 + optional_size
    sections = []
    first = len(data)
    end = 0
    for i in range(count):
        raw_name, _, _, raw_size, raw_pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
        name = raw_name.rstrip(b"\0").decode()
        if name.startswith("/"):  # a long name, kept in the string table
            strings = symbols + 18 * symbol_count
            offset = strings + int(name[1:])
            name = data[offset:data.index(b"\0", offset)].decode()
        if raw_size:
            sections.append((name, raw_size))
            first = min(first, raw_pointer)
            end = max(end, raw_pointer + raw_size)
    return sections, first, len(data) - end, len(data)


def origin(path):
    """(group, object) for an input file of the map."""
    archive, member = None, path
    m = re.match(r"^(.*)\(([^()]*)\)$", path)
    if m:
        archive, member = m.groups()
    if archive is not None and not archive.startswith("/"):
        room = os.path.dirname(archive)  # a room's library, named from the build folder
        return room, f"{room}/{member.removesuffix('.obj')}"
    if archive is None and "CMakeFiles/" in member:
        m = re.match(r"^(?:(.*)/)?CMakeFiles/[^/]+\.dir/(.*)\.(?:obj|res)$", member)
        source = m.group(2) if m.group(1) is None else f"{m.group(1)}/{m.group(2)}"
        if source.endswith(".rc"):
            return "resources", "artwork and dialogs (tools/rcgen)"
        return os.path.dirname(source) or "entry points", source
    base = os.path.basename(archive or member)
    if base == "libstdc++.a":
        return "C++ library", f"libstdc++ {member}"
    if base in ("libgcc.a", "libgcc_eh.a"):
        return "compiler support", f"{base[:-2]} {member}"
    if base in CRT_OBJECTS or base in ("libmingw32.a", "libmingwex.a") or (
            base == "libmsvcrt.a" and member.startswith("lib64_")):
        if archive is None:
            return "C runtime", base
        return "C runtime", base.removesuffix(".a") + " " + re.sub(r"^lib64_lib\w+?_a-", "", member)
    if archive is not None:  # an import library: the calls into one system library
        return "imports", re.sub(r"^lib(.*)\.a$", r"\1.dll", base)
    if member.startswith("LONG "):
        return "linker", "list ends (linker script)"
    return "linker", member


def parse_map(path):
    """{(output section, input file): bytes} for every input section."""
    counts = collections.Counter()
    output = None
    pending = None  # an input section whose name filled its line
    for line in open(path, encoding="utf-8", errors="replace"):
        if not line.startswith(" "):
            m = re.match(r"^(\.\S+|/DISCARD/)", line)
            output = m.group(1) if m else None
            pending = None
            continue
        if output is None:
            continue
        m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and not line.startswith("  ") and m.group(1) != "*fill*":
            counts[(output, m.group(3).strip())] += int(m.group(2), 16)
            pending = None
            continue
        m = re.match(r"^ (\S+)\s*$", line)
        if m and not line.startswith("  "):
            pending = m.group(1)
            continue
        m = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if pending and m:
            counts[(output, m.group(2).strip())] += int(m.group(1), 16)
        pending = None
    return counts


def column_of(section):
    for name, sections in COLUMNS:
        if sections is not None and section in sections:
            return name
    return "other"


def table(binary, map_path):
    """{(group, object): {column: bytes}} summing to the file's size."""
    sections, headers, trailer, size = pe_sections(binary)
    in_file = dict(sections)
    placed = collections.Counter()
    rows = collections.defaultdict(collections.Counter)
    for (section, path), count in parse_map(map_path).items():
        if section in in_file:
            group, obj = origin(path)
            if group == "linker":
                obj = LINKER_MADE.get(section, obj)
            rows[(group, obj)][column_of(section)] += count
            placed[section] += count
    for section, raw in sections:
        if section not in placed:
            rows[("linker", "debug link" if "debuglink" in section else section)][column_of(section)] += raw
        elif raw > placed[section]:
            rows[("padding", "padding")][column_of(section)] += raw - placed[section]
    rows[("headers", "headers")]["other"] += headers
    if trailer:
        rows[("linker", "debug link")]["other"] += trailer
    total = sum(sum(r.values()) for r in rows.values())
    if total != size:
        sys.exit(f"{binary}: counted {total} bytes of {size}; the map does not match the binary")
    return rows, size


def group_order(group):
    if group in ("resources",):
        return (1, group)
    if group in RUNTIME_GROUPS:
        return (2 + RUNTIME_GROUPS.index(group), group)
    if group in ("padding", "headers"):
        return (9, group)
    return (0, group)


def line(label, counts, width=44):
    cells = "".join(f"{counts.get(name, 0):>9,}" for name, _ in COLUMNS)
    return f"{label[:width]:<{width}}{cells}{sum(counts.values()):>10,}"


def print_binary(name, rows, size, all_objects):
    print(f"== {name}: {size:,} bytes")
    print(f"{'':<44}" + "".join(f"{c:>9}" for c, _ in COLUMNS) + f"{'total':>10}")
    groups = collections.defaultdict(dict)
    for (group, obj), counts in rows.items():
        groups[group][obj] = counts
    for group in sorted(groups, key=group_order):
        objects = groups[group]
        total = collections.Counter()
        for counts in objects.values():
            total.update(counts)
        print(line(group, total))
        if len(objects) == 1 and next(iter(objects)) == group:
            continue
        ranked = sorted(objects.items(), key=lambda item: (-sum(item[1].values()), item[0]))
        shown = ranked if all_objects else [r for r in ranked if sum(r[1].values()) >= 512][:12]
        for obj, counts in shown:
            print(line("  " + obj, counts))
        rest = ranked[len(shown):]
        if len(rest) == 1:
            print(line("  " + rest[0][0], rest[0][1]))
        elif rest:
            folded = collections.Counter()
            for _, counts in rest:
                folded.update(counts)
            print(line(f"  ({len(rest)} more)", folded))
    print()


def print_summary(results):
    """One column per binary, one row per group: the README's table."""
    names = [name for name, _, _ in results]
    groups = sorted({g for _, rows, _ in results for g, _ in rows}, key=group_order)
    short = [n.replace("Quorvix2003.exe", "Quorvix2003") for n in names]
    print(f"{'bytes by origin':<24}" + "".join(f"{n:>18}" for n in short))
    for group in groups:
        cells = "".join(f"{sum(sum(c.values()) for (g, _), c in rows.items() if g == group):>18,}"
                        for _, rows, _ in results)
        print(f"{group:<24}{cells}")
    print(f"{'file':<24}" + "".join(f"{size:>18,}" for _, _, size in results))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", help="the Windows build folder (build/win32)")
    parser.add_argument("--objects", action="store_true", help="list every object, not only the larger ones")
    parser.add_argument("--only", action="append", help="one deliverable, as EDITION/FILE (repeatable)")
    args = parser.parse_args()
    results = []
    for name in args.only or DELIVERABLES:
        binary = os.path.join(args.build, "bin", name)
        map_path = os.path.join(args.build, "maps", name + ".map")
        for path in (binary, map_path):
            if not os.path.exists(path):
                sys.exit(f"{path} is missing: build with tools/build-windows.sh first")
        rows, size = table(binary, map_path)
        print_binary(name, rows, size, args.objects)
        results.append((name, rows, size))
    print_summary(results)


if __name__ == "__main__":
    main()
