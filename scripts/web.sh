#!/usr/bin/env bash
# The show in a web browser. Sets up what it needs (apt packages, as the other
# scripts do), builds the native assets when they are missing, builds the
# browser build into build-web/ and serves it on http://127.0.0.1:8000/
# (the port from $PORT), printing the URL.
#   scripts/web.sh            build and serve
#   scripts/web.sh --build    only build
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/build-web"
BUILD_ONLY=0
[ "${1:-}" = "--build" ] && BUILD_ONLY=1

PACKAGES=(emscripten nodejs)
missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    command -v "${pkg/nodejs/node}" >/dev/null 2>&1 || missing+=("$pkg")
  fi
done
"$ROOT/scripts/apt-install.sh" ${missing[@]+"${missing[@]}"}

# The assets are the native build's: generated once, then copied beside the page.
ASSETS=(font.png font_mask.png vortalune.png credits.png blue_cross.png pastel.png bumpy.png sprite01_mask.png
        ovrin_tex.png ovrin.mdl vortalune.ogg)
need_assets=0
for a in "${ASSETS[@]}"; do [ -f "$ROOT/data/$a" ] || need_assets=1; done
if [ "$need_assets" = 1 ]; then
  "$ROOT/scripts/setup.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
  cmake --build "$ROOT/build" --target assets
fi

"$ROOT/scripts/web-deps.sh" "$OUT"

# emscripten's tools find their node modules (acorn) there, whichever node runs them.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
emcmake cmake -S "$ROOT" -B "$OUT" -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node;--no-experimental-fetch" >/dev/null
cmake --build "$OUT" -j"$(nproc)"

# The assets and the list the page fetches them by.
mkdir -p "$OUT/data"
list=()
for f in "$ROOT"/data/*; do
  case "$(basename "$f")" in
    *.png|*.ogg|*.mdl|*.txt|*.tms|*.beats) cp -p "$f" "$OUT/data/"; list+=("\"data/$(basename "$f")\"") ;;
  esac
done
cp -p "$ROOT/settings.ini" "$OUT/settings.ini"
list+=("\"settings.ini\"")
(IFS=,; echo "[${list[*]}]") >"$OUT/assets.json"
echo "Built the page in $OUT"

if [ "$BUILD_ONLY" = 0 ]; then
  exec node "$ROOT/web/serve.mjs" "$OUT" "${PORT:-8000}"
fi
