#!/usr/bin/env bash
# The storyboard in a real browser: writes the road's storyboard, renders
# chosen frames with headless Chromium and checks the pictures (the tray
# button's pixels, the popup menu's entries in order, the Korean notice, a
# frame shown alone with its screen and notes, ids unique across scenarios).
# Usage: bash tests/storyboard/run.sh [--docs]   (--docs also retakes the
# README's two frames into docs/)
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/deps.sh
qx_need_packages chromium python3 python3-pil fonts-nanum
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim qxrcgen >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/default/tools/qxsim/qxsim --html "$work/road.html" scenarios/road.qxs >/dev/null
# Scenarios whose names would give their frames the same ids: the same
# base name in two folders, and "s-2" beside line 2 of "s".
mkdir -p "$work/a" "$work/b"
for story in s a/s b/s s-2; do printf 'note %s\nadvance 1 tick\nadvance 1 tick\n' "$story" >"$work/$story.qxs"; done
build/default/tools/qxsim/qxsim --html "$work/ids.html" "$work/s.qxs" "$work/a/s.qxs" "$work/b/s.qxs" \
  "$work/s-2.qxs" >/dev/null
build/default/tools/rcgen/qxrcgen "$work/resources"
/usr/bin/python3 tests/storyboard/check.py "$work" "$@"
