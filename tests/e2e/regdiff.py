#!/usr/bin/env python3
"""Compares registry exports as values: what the simulated device's scenario
runner printed for a story, against what Wine's regedit exported for the same
story on real Win32.

Both sides are read as the regedit text format. A string value is compared
by its text up to the first terminator (Wine's tools show strings so; the
byte lengths are the simulated device's own tests' business), a DWORD by its
number, anything else by its bytes. Key and value names compare without
regard to case, as the registry does.

  regdiff.py TRANSCRIPT INDEX WINE_EXPORT
      INDEX: which "export" block of the qxsim transcript (0 first)
"""
import re
import sys


def decode(data: bytes) -> str:
    for bom, codec in ((b"\xff\xfe", "utf-16-le"), (b"\xef\xbb\xbf", "utf-8")):
        if data.startswith(bom):
            return data[len(bom):].decode(codec)
    return data.decode("utf-8")


def logical_lines(text):
    """Joins the continuation lines of long hex values."""
    pending = ""
    for raw in text.splitlines():
        line = raw.rstrip("\r")
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and re.search(r"=hex(\([0-9a-f]+\))?:", line):
            pending = line[:-1]
            continue
        yield line


def unescape(quoted: str) -> str:
    out, i = [], 0
    while i < len(quoted):
        c = quoted[i]
        if c == "\\" and i + 1 < len(quoted):
            nxt = quoted[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_name(line):
    if line.startswith("@="):
        return "", line[2:]
    m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
    if not m:
        raise ValueError("unreadable line: " + line)
    return unescape(m.group(1)), m.group(2)


def parse_data(data):
    if data.startswith('"'):
        return ("REG_SZ", unescape(data[1:-1]).split("\0")[0])
    if data.startswith("dword:"):
        return ("REG_DWORD", int(data[6:], 16))
    m = re.match(r"hex(?:\(([0-9a-f]+)\))?:(.*)$", data)
    if not m:
        raise ValueError("unreadable data: " + data)
    kind = int(m.group(1), 16) if m.group(1) else 3
    raw = bytes(int(b, 16) for b in m.group(2).replace(" ", "").split(",") if b)
    if kind in (1, 2):
        text = raw.decode("utf-16-le", errors="replace").split("\0")[0]
        return ("REG_SZ" if kind == 1 else "REG_EXPAND_SZ", text)
    if kind == 4 and len(raw) == 4:
        return ("REG_DWORD", int.from_bytes(raw, "little"))
    return ("hex(%x)" % kind, raw.hex())


def parse_reg(text):
    keys, current = {}, None
    for line in logical_lines(text):
        if not line or line.startswith(";") or line.startswith("Windows Registry Editor"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1].lower(), {})
            continue
        if current is None:
            continue
        name, data = parse_name(line)
        current[name.lower()] = parse_data(data)
    return keys


def transcript_block(transcript: str, index: int) -> str:
    blocks, block = [], None
    for line in transcript.splitlines():
        if line.startswith("    | "):
            if block is None:
                block = []
            block.append(line[6:])
        elif line.rstrip() == "    |":
            if block is None:
                block = []
            block.append("")
        else:
            if block is not None:
                blocks.append("\n".join(block))
            block = None
    if block is not None:
        blocks.append("\n".join(block))
    if index >= len(blocks):
        raise SystemExit("regdiff: the transcript has %d export blocks, not %d" % (len(blocks), index + 1))
    return blocks[index]


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        simulated = parse_reg(transcript_block(decode(f.read()), int(argv[2])))
    try:
        with open(argv[3], "rb") as f:
            wine = parse_reg(decode(f.read()))
    except FileNotFoundError:
        wine = {}  # regedit exports nothing for a key that is not there
    differences = []
    for key in sorted(set(simulated) | set(wine)):
        if key not in wine:
            differences.append("only on the simulated device: [%s]" % key)
            continue
        if key not in simulated:
            differences.append("only under Wine: [%s]" % key)
            continue
        a, b = simulated[key], wine[key]
        for name in sorted(set(a) | set(b)):
            if a.get(name) != b.get(name):
                differences.append("[%s] %s: simulated %s, Wine %s" % (key, name or "@", a.get(name), b.get(name)))
    for line in differences:
        print(line)
    if not differences:
        print("same values: %d keys" % len(simulated))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
