#!/usr/bin/env python3
"""Checks registry values as the Wine prefix stores them on disk.

Wine keeps a prefix's registry in system.reg (HKEY_LOCAL_MACHINE, with
HKEY_CLASSES_ROOT below Software\\Classes) and user.reg (HKEY_CURRENT_USER),
each value with its type and its exact bytes: a string's padding after its
terminator shows there as \\0 escapes, which Wine's reg and regedit drop.
The server writes the files when it ends (see stored_registry in lib.sh).

  regfile.py PREFIX EXPECTED

EXPECTED lists keys and values as the story must leave them:

  [HKEY_CURRENT_USER\\Software\\Key]    the key holds exactly these values:
  "Name" REG_SZ 22 "JavaScript"        type, byte length, text up to the
                                       terminator (zero bytes after it only)
  @ REG_SZ 260 "text"                  the key's default value
  "Flag" REG_DWORD 4 1                 a number
  -[HKEY_LOCAL_MACHINE\\Key]            the key is absent

Quoted texts take \\" and \\\\ as in a .reg file; "#" starts a comment line.
"""
import re
import sys

ROOTS = {
    "hkey_local_machine": ("system.reg", ""),
    "hkey_classes_root": ("system.reg", "software\\classes\\"),
    "hkey_current_user": ("user.reg", ""),
}
C_ESCAPES = {"a": 7, "b": 8, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, "e": 27}


def unescape_wine(text):
    """Decodes a string as Wine's server writes it (dump_strW)."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(ord(c))
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            out.append(int(m.group(0), 16))
            i += 2 + len(m.group(0))
        elif nxt in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i + 1:])
            out.append(int(m.group(0), 8))
            i += 1 + len(m.group(0))
        else:
            out.append(C_ESCAPES.get(nxt, ord(nxt)))
            i += 2
    return out


def utf16(units):
    return b"".join(u.to_bytes(2, "little") for u in units)


def parse_data(data):
    """(type, bytes) of a value's data as written in a Wine registry file."""
    m = re.match(r'(?:str\(([0-9a-f]+)\):)?"(.*)"$', data)
    if m:
        return int(m.group(1) or "1", 16), utf16(unescape_wine(m.group(2)) + [0])
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    m = re.match(r"hex(?:\(([0-9a-f]+)\))?:(.*)$", data)
    if m:
        raw = bytes(int(b, 16) for b in m.group(2).replace(" ", "").split(",") if b)
        return int(m.group(1) or "3", 16), raw
    raise ValueError("unreadable data: " + data)


def split_value(line):
    """Name and data of a value line; names are quoted like strings."""
    if line.startswith("@="):
        return "", line[2:]
    m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
    if not m:
        raise ValueError("unreadable line: " + line)
    return "".join(map(chr, unescape_wine(m.group(1)))), m.group(2)


def read_wine_file(path):
    keys, current, pending = {}, None, ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\") and re.search(r"=(hex|dword)", line):
                pending = line[:-1]
                continue
            if line.startswith("["):
                m = re.match(r"\[((?:[^\]\\]|\\.)*)\]", line)
                name = "".join(map(chr, unescape_wine(m.group(1))))
                current = keys.setdefault(name.lower(), {})
            elif current is not None and (line.startswith('"') or line.startswith("@=")):
                name, data = split_value(line.strip())
                current[name.lower()] = parse_data(data)
    return keys


def unquote(text):
    return re.sub(r"\\(.)", r"\1", text[1:-1])


TYPES = {"REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7}


def check_value(where, kind, length, expected, stored):
    if stored is None:
        return ["%s: missing" % where]
    stored_kind, raw = stored
    problems = []
    if stored_kind != TYPES[kind]:
        problems.append("%s: type %d, expected %s" % (where, stored_kind, kind))
    if len(raw) != length:
        problems.append("%s: %d bytes, expected %d" % (where, len(raw), length))
    if kind == "REG_DWORD":
        if len(raw) == 4 and int.from_bytes(raw, "little", signed=False) != int(expected) % 2**32:
            problems.append("%s: %d, expected %s" % (where, int.from_bytes(raw, "little"), expected))
        return problems
    text = raw.decode("utf-16-le", errors="replace")
    shown, _, rest = text.partition("\0")
    if shown != unquote(expected):
        problems.append("%s: \"%s\", expected %s" % (where, shown, expected))
    if rest.strip("\0"):
        problems.append("%s: bytes other than zero after the terminator" % where)
    return problems


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    files, problems, key, seen, checked = {}, [], None, set(), 0

    def stored_key(path):
        root, _, rest = path.partition("\\")
        file, below = ROOTS[root.lower()]
        if file not in files:
            files[file] = read_wine_file("%s/%s" % (argv[1], file))
        return files[file].get((below + rest).lower())

    def finish():
        if key is not None and stored is not None:
            for extra in sorted(set(stored) - seen):
                problems.append("[%s] \"%s\": not expected" % (key, extra))

    stored = None
    for line in open(argv[2], encoding="utf-8"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("-[") and line.endswith("]"):
            finish()
            key, stored = None, None
            if stored_key(line[2:-1]) is not None:
                problems.append("[%s]: the key is still there" % line[2:-1])
            checked += 1
            continue
        if line.startswith("[") and line.endswith("]"):
            finish()
            key, seen = line[1:-1], set()
            stored = stored_key(key)
            if stored is None:
                problems.append("[%s]: no such key" % key)
            continue
        m = re.match(r'^(@|"(?:[^"\\]|\\.)*")\s+(REG_\w+)\s+(\d+)\s+(.*)$', line)
        if not m or key is None:
            raise SystemExit("regfile: unreadable expectation: " + line)
        name = "" if m.group(1) == "@" else unquote(m.group(1))
        seen.add(name.lower())
        checked += 1
        if stored is not None:
            problems += check_value("[%s] %s" % (key, m.group(1)), m.group(2), int(m.group(3)), m.group(4),
                                    stored.get(name.lower()))
    finish()
    for problem in problems:
        print(problem)
    if not problems:
        print("as stored: %d values and keys" % checked)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
