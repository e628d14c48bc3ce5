"""Checks the road's storyboard as Chromium renders it.

Usage: check.py WORK_DIR [--docs]
WORK_DIR holds road.html (qxsim --html), ids.html (scenarios whose names
would share ids) and resources/ (qxrcgen's icon files).

A frame linked on its own ("road.html#road-51") shows only that frame, with
the 240 x 320 screen 8 pixels from the window's top and left edge, so a
point (x, y) of the handheld's screen is pixel (8 + x, 8 + y) of the shot.
"""
import html.parser
import os
import struct
import subprocess
import sys

from PIL import Image

SCREEN_AT = 8
SHOT_SIZE = (900, 360)
# The tray button's window and its face colour on the simulated device.
BUTTON_AT = (184, 299)
BUTTON_FACE = (192, 192, 192)
MENU_ENTRIES = ["About Quorvix", "Settings", "Use Quorvix", "Reset Quorvix", "Quorvix Home"]
# The menu as the user sees it from top to bottom: entries (E) and separators (S).
MENU_ROWS = "ESESEESE"
NOTICE = "설정값을 적용하기 위해서 Internet Explorer를 다시 시작합니다."

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)
    return condition


def chromium(*args):
    command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
               "--hide-scrollbars", "--no-first-run", *args]
    return subprocess.run(command, check=True, capture_output=True, timeout=120).stdout.decode("utf-8")


class Frames(html.parser.HTMLParser):
    """The frames of the dumped page: id, step line, and the texts of
    chosen SVG elements (menu entries with their y, the message box text)."""

    def __init__(self):
        super().__init__()
        self.frames = []
        self.stack = []
        self.text_of = None
        self.ids = []
        self.tags = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = attrs.get("class", "").split()
        self.stack.append(classes)
        self.tags.append(tag)
        if "id" in attrs:
            self.ids.append(attrs["id"])
        if tag == "article" and "frame" in classes:
            self.frames.append({"id": attrs["id"], "step": "", "entries": [], "box": "", "box_lines": [],
                                "menu": None, "same": False, "again": False, "note": "", "link": None})
        if not self.frames:
            return
        frame = self.frames[-1]
        inside = [c for level in self.stack for c in level]
        if tag == "h3":
            self.text_of = "step"
        elif tag == "a" and "h3" in self.stack_tags():
            frame["link"] = attrs.get("href")
        elif tag == "p" and "note" in classes:
            self.text_of = "note"
        elif tag == "p" and "same" in classes:
            frame["same"] = True
        elif tag == "div" and "again" in classes:
            frame["again"] = True
        elif tag == "rect" and "popup-menu" in inside and frame["menu"] is None:
            frame["menu"] = tuple(float(attrs[k]) for k in ("x", "y", "width", "height"))
        elif tag == "text" and "menu-entry" in classes:
            frame["entries"].append([float(attrs["y"]), ""])
            self.text_of = "entry"
        elif tag == "text" and "box-text" in classes:
            frame["box_lines"].append((float(attrs["x"]), float(attrs["y"])))
            self.text_of = "box"

    def stack_tags(self):
        return self.tags

    def handle_endtag(self, tag):
        if self.stack:
            self.stack.pop()
            self.tags.pop()
        if tag in ("h3", "text", "p"):
            self.text_of = None

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        self.handle_endtag(tag)

    def handle_data(self, data):
        if not self.frames or self.text_of is None:
            return
        frame = self.frames[-1]
        if self.text_of == "step":
            frame["step"] += data
        elif self.text_of == "note":
            frame["note"] += data
        elif self.text_of == "entry":
            frame["entries"][-1][1] += data
        elif self.text_of == "box":
            frame["box"] += (" " if frame["box"] else "") + data


def frame_after(frames, command, after=None):
    """The first frame whose step is `command`, after the frame `after`."""
    start = frames.index(after) + 1 if after else 0
    for frame in frames[start:]:
        if frame["step"].split(" ", 2)[-1].strip() == command:
            return frame
    raise SystemExit("no frame for the step " + command)


def shoot(page, frame, path):
    chromium("--window-size=%d,%d" % SHOT_SIZE, "--screenshot=" + path, "file://%s#%s" % (page, frame["id"]))
    return Image.open(path).convert("RGB")


def read_icon(path):
    """The 32-bit entry of an .ico file: rows of (r, g, b, a), top row first."""
    data = open(path, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        width, height, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if bits != 32:
            continue
        width, height = width or 256, height or 256
        pixels = data[offset + 40: offset + 40 + width * height * 4]
        rows = []
        for y in range(height - 1, -1, -1):
            row = pixels[y * width * 4:(y + 1) * width * 4]
            rows.append([(row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]) for x in range(width)])
        return rows
    raise SystemExit(path + " has no 32-bit entry")


def over(rows, face):
    return [[tuple(round(c * a / 255 + f * (255 - a) / 255) for c, f in zip((r, g, b), face)) for r, g, b, a in row]
            for row in rows]


def distance(shot, expected, at):
    """The largest difference of any channel over the expected picture."""
    worst = 0
    for y, row in enumerate(expected):
        for x, colour in enumerate(row):
            got = shot.getpixel((SCREEN_AT + at[0] + x, SCREEN_AT + at[1] + y))
            worst = max(worst, max(abs(a - b) for a, b in zip(got, colour)))
    return worst


def check_button(shot, resources):
    normal = over(read_icon(os.path.join(resources, "icon133.ico")), BUTTON_FACE)
    hot = over(read_icon(os.path.join(resources, "icon134.ico")), BUTTON_FACE)
    near_normal = distance(shot, normal, BUTTON_AT)
    near_hot = distance(shot, hot, BUTTON_AT)
    check(near_normal <= 12, "the button at (184, 299) is not icon 133 on the button face (off by %d)" % near_normal)
    check(near_hot > 40, "the button at (184, 299) looks like the hot icon 134")


def menu_rows(shot, menu):
    """Reads the menu top to bottom: bands of rows that are an entry's text
    (E) or a separator line (S), and the rows where the check-mark column
    holds ink."""
    left, top, width, height = (int(round(v)) for v in menu)

    def pixel(x, y):
        return shot.getpixel((SCREEN_AT + x, SCREEN_AT + y))

    bands, ticks = [], []
    for y in range(top + 2, top + height - 2):
        row = [pixel(x, y) for x in range(left + 3, left + width - 3)]
        line = sum(1 for p in row if all(100 <= c <= 160 for c in p)) > 0.8 * len(row)
        ink = any(max(pixel(x, y)) < 110 for x in range(left + 20, left + width - 4))
        kind = "S" if line else "E" if ink else None
        if kind and bands and bands[-1][0] == kind and bands[-1][2] == y - 1:
            bands[-1][2] = y
        elif kind:
            bands.append([kind, y, y])
        if any(max(pixel(x, y)) < 110 for x in range(left + 4, left + 16)):
            ticks.append(y)
    return bands, ticks


def band_of(bands, y):
    """The band nearest to row y."""
    return min(range(len(bands)), key=lambda i: 0 if bands[i][1] <= y <= bands[i][2]
               else min(abs(y - bands[i][1]), abs(y - bands[i][2])))


def screen_of(shot):
    return shot.crop((SCREEN_AT, SCREEN_AT, SCREEN_AT + 240, SCREEN_AT + 320))


def check_ids(work):
    """Every id on a page of scenarios whose names would collide is unique,
    and each frame's link names its own frame."""
    parser = Frames()
    parser.feed(chromium("--dump-dom", "file://" + os.path.abspath(os.path.join(work, "ids.html"))))
    check(len(parser.frames) == 8, "the page of four scenarios has %d frames" % len(parser.frames))
    repeated = sorted({i for i in parser.ids if parser.ids.count(i) > 1})
    check(not repeated, "ids used twice: %s" % repeated)
    for frame in parser.frames:
        check(frame["link"] == "#" + frame["id"], "frame %s links to %s" % (frame["id"], frame["link"]))


def main():
    work = sys.argv[1]
    docs = "--docs" in sys.argv[2:]
    page = os.path.abspath(os.path.join(work, "road.html"))
    parser = Frames()
    parser.feed(chromium("--dump-dom", "file://" + page))
    frames = parser.frames
    check(len(frames) > 20, "the storyboard has %d frames" % len(frames))

    # A step that leaves the screen as it was says so instead of a picture,
    # but shown alone it carries the picture of the screen as it is.
    start = frame_after(frames, "start client")
    after_start = frames[frames.index(start) + 1]
    check(after_start["same"] and after_start["again"], "the check after the client's start repeats the screen")
    drawn_last = [f for f in frames[:frames.index(after_start)] if not f["same"]][-1]
    alone = screen_of(shoot(page, after_start, os.path.join(work, "alone.png")))
    drawn = screen_of(shoot(page, drawn_last, os.path.join(work, "drawn.png")))
    check(alone.getpixel((120, 10)) == drawn.getpixel((120, 10)) != (255, 255, 255),
          "the frame after the start, shown alone, has no title bar")
    check(alone.tobytes() == drawn.tobytes(), "the frame after the start, shown alone, is not the screen drawn last")
    # The notes before a step are part of its frame.
    check("The tray client starts" in start["note"], "the client's start has the note %r" % start["note"])

    check_ids(work)

    # The button appears over the browser's menu bar on the tick after the browser opens.
    shown = frame_after(frames, "advance 1 tick", frame_after(frames, "browser open"))
    check_button(shoot(page, shown, os.path.join(work, "button.png")), os.path.join(work, "resources"))

    # The popup menu: its entries in order, in the page and on the screen.
    menu = frame_after(frames, "tap button")
    entries = [text for _, text in menu["entries"]]
    ys = [y for y, _ in menu["entries"]]
    check(entries == MENU_ENTRIES, "the menu's entries are %s" % entries)
    check(ys == sorted(ys) and len(set(ys)) == len(ys), "the menu's entries are not drawn top to bottom")
    menu_shot = shoot(page, menu, os.path.join(work, "menu.png"))
    if check(menu["menu"] is not None, "the menu frame draws no menu"):
        bands, ticks = menu_rows(menu_shot, menu["menu"])
        pattern = "".join(kind for kind, _, _ in bands)
        check(pattern == MENU_ROWS, "the menu shows entries and separators as %s, not %s" % (pattern, MENU_ROWS))
        # Only "Use Quorvix" (the third entry, fifth row) carries a check mark.
        marked = {band_of(bands, y) for y in ticks} if bands else set()
        check(marked == {MENU_ROWS.index("EE")}, "the check mark is beside rows %s" % sorted(marked))

    # The notice in Korean, in a message box over the browser.
    box = frame_after(frames, "press OK")
    check(NOTICE in box["box"], "the message box says %r" % box["box"])
    box_shot = shoot(page, box, os.path.join(work, "box.png"))
    # Each line of the text leaves ink on its baseline's band (glyphs, not blanks).
    for x, y in box["box_lines"]:
        inked = sum(1 for px in range(int(x), min(int(x) + 200, 240)) for py in range(int(y) - 10, int(y) + 2)
                    if max(box_shot.getpixel((SCREEN_AT + px, SCREEN_AT + py))) < 110)
        check(inked > 60, "the message box's line at y=%d left %d dark pixels" % (y, inked))
    check(len(box["box_lines"]) > 0, "the message box shows no text")

    if docs:
        here = os.path.dirname(os.path.abspath(__file__))
        menu_shot.save(os.path.join(here, "..", "..", "docs", "storyboard-menu.png"))
        box_shot.save(os.path.join(here, "..", "..", "docs", "storyboard-notice.png"))
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("storyboard: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
