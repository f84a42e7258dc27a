#!/usr/bin/env bash
# The web_page test: builds the page with Emscripten, installs the pinned
# puppeteer-core when it is missing, and drives the page in headless Chromium
# (page_test.mjs). Exits with 77 (skipped), saying why, when Emscripten, Node
# 18 or later, Chromium or the npm registry is not available.
# Usage: run_test.sh VOCREL_CLEAN WORK_DIR [SCREENSHOT]
set -euo pipefail
web=$(cd "$(dirname "$0")/.." && pwd)
clean=$1
work=$2
screenshot=${3:-}

skip() {
  echo "web_page: skipped: $*"
  exit 77
}
command -v emcmake >/dev/null ||
  skip "Emscripten is not installed (web/build.sh installs it: apt-get install emscripten)"
command -v node >/dev/null || skip "Node is not installed (apt-get install nodejs)"
node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)' ||
  skip "Node $(node --version) is older than 18, which puppeteer-core needs"
chromium=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
[ -n "$chromium" ] || skip "Chromium is not installed (apt-get install chromium)"

if [ ! -f "$web/node_modules/puppeteer-core/package.json" ]; then
  command -v npm >/dev/null || skip "npm is not installed (apt-get install npm)"
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error) ||
    skip "npm ci could not install puppeteer-core (no access to the npm registry?)"
fi

mkdir -p "$work"
"$web/build.sh" "$work/site" "$work/wasm" # up to date unless the sources changed
node "$web/test/page_test.mjs" "$work/site" "$clean" "$work" "$chromium" $screenshot
