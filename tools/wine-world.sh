#!/usr/bin/env bash
# Makes the template Wine prefix that the scenario runner's Wine world
# clones for each scenario (tools/qxsim/wine_session.h): the Windows
# programs built (tools/build-windows.sh), then a prefix made by
# tests/e2e/make-prefix.sh with them, the stand-ins and the agent
# (C:\qx\qxagent.exe). The template is made again only when it is missing
# or older than a binary or the script that makes it. Its path is the last
# line printed.
#
# Usage: bash tools/wine-world.sh     (QX_WINE_TEMPLATE names another place than
#                                     build/wine-world/template)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tools/deps.sh
qx_need_packages mingw-w64 g++-mingw-w64-x86-64-win32 wine wine64 xvfb xauth fonts-nanum
bash tools/build-windows.sh >&2
template=${QX_WINE_TEMPLATE:-$root/build/wine-world/template}
bin=$root/build/win32/bin
stamp=$template/.qx-template
# Anything newer than the stamp: a rebuilt binary, a changed recipe.
if [ -f "$stamp" ] && [ -z "$(find "$bin" tests/e2e/make-prefix.sh -type f -newer "$stamp" -print -quit)" ]; then
  echo "== wine world: the template is up to date" >&2
else
  echo "== wine world: making the template prefix" >&2
  started=$(date +%s)
  # Made beside its place and moved there whole, so that a run cut short
  # leaves no half-made template behind.
  mkdir -p "$(dirname "$template")"
  fresh=$(mktemp -d "$template.new.XXXXXX")
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if ! WINEPREFIX=$fresh bash tests/e2e/make-prefix.sh "$bin" > "$fresh.log" 2>&1; then
    cat "$fresh.log" >&2
    rm -rf "$fresh" "$fresh.log"
    exit 1
  fi
  rm -f "$fresh.log"
  touch "$fresh/.qx-template"
  rm -rf "$template"
  mv "$fresh" "$template"
  echo "   made in $(( $(date +%s) - started )) s" >&2
fi
echo "$template"
