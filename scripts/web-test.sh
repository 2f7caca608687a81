#!/usr/bin/env bash
# The browser build's tests (tests/web/): builds the page (scripts/web.sh
# --build), then drives it in headless Chromium and holds its frames to the
# native capture program's. Installs what it needs: chromium-headless-shell
# (and npm when there is none) with apt, puppeteer-core with npm.
#   scripts/web-test.sh [native-build-dir]     (default build/; needs a display
#                                              for the native capture: Xvfb when unset)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NATIVE="$(cd "${1:-$ROOT/build}" && pwd)"

missing=()
dpkg-query -W -f='${Status}' chromium-headless-shell 2>/dev/null | grep -q "install ok installed" ||
  missing+=(chromium-headless-shell)
command -v npm >/dev/null 2>&1 || missing+=(npm)
"$ROOT/scripts/apt-install.sh" ${missing[@]+"${missing[@]}"}

# The page's assets are the native build's own, generated there.
cmake --build "$NATIVE" --target assets
(cd "$ROOT/tests/web" && npm ci --no-audit --no-fund --loglevel=error)

cd "$ROOT"
export VORTALUNE_NATIVE_BUILD="$NATIVE"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" node --test tests/web/
fi
exec node --test tests/web/
