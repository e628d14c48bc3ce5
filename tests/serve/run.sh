#!/usr/bin/env bash
# The handheld's page in a real browser: qxsim serve on a fresh device, used
# in headless Chromium (driven by Selenium) as a person would: the registry
# it shows, the scenario it gives and going back are checked.
# Usage: bash tests/serve/run.sh [--docs]   (--docs also retakes the README's
# picture of the page, docs/serve-page.png)
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/deps.sh
qx_need_packages chromium chromium-driver python3-selenium fonts-nanum
cmake --preset default >/dev/null
cmake --build --preset default --target qxsim >/dev/null
exec /usr/bin/python3 tests/serve/browser_test.py build/default/tools/qxsim/qxsim "$@"
