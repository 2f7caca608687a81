#!/usr/bin/env bash
# The show in a web browser. Sets up what it needs (apt packages, as the other
# scripts do), builds the native asset tools and their assets when any is
# missing (only those, not the native show, tests or benchmarks), builds the
# browser build in build-web/ and puts the page with everything a web host
# needs, and nothing else, in build-web/site/. Serves that folder on
# http://127.0.0.1:8000/ (the port from $PORT), printing the URL.
#   scripts/web.sh            build and serve
#   scripts/web.sh --build    only build; prints the folder to upload
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
  VORTALUNE_TARGETS=assets "$ROOT/scripts/setup.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
fi

"$ROOT/scripts/web-deps.sh" "$OUT"

# emscripten's tools find their node modules (acorn) there, whichever node runs them.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
emcmake cmake -S "$ROOT" -B "$OUT" -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node;--no-experimental-fetch" >/dev/null
cmake --build "$OUT" -j"$(nproc)"

# The site: the page, the program, the assets and the list the page fetches
# them by (each with its size, for the progress bar), built aside and swapped
# in whole, so a served folder is never half old, half new.
SITE="$OUT/site"
NEXT="$OUT/site.next"
rm -rf "$NEXT"
mkdir -p "$NEXT/data"
cp -p "$ROOT/web/index.html" "$OUT/vortalune.js" "$OUT/vortalune.wasm" "$NEXT/"
entry() { echo "{\"name\":\"$1\",\"size\":$(stat -c %s "$NEXT/$1")}"; }
list=()
# What the show reads: the images, the track, the model, the beat map, the
# timing table and the flights (not the tool's keys, side copies or backups).
for f in "$ROOT"/data/*; do
  name="$(basename "$f")"
  if [[ "$name" =~ ^((pos|rot)_path[0-9]+\.txt|[^.]+\.(png|ogg|mdl|tms|beats))$ ]]; then
    cp -p "$f" "$NEXT/data/"
    list+=("$(entry "data/$name")")
  fi
done
cp -p "$ROOT/settings.ini" "$NEXT/settings.ini"
list+=("$(entry settings.ini)")
(IFS=,; echo "[${list[*]}]") >"$NEXT/assets.json"
cat >"$NEXT/README.txt" <<'EOF'
Vortalune's page: put every file of this folder, as it is, on any static web
host and open index.html. The host must send .wasm files as application/wasm
(most do). Opened straight from the disk (file://) the browser will not load it.
EOF
rm -rf "$SITE"
mv "$NEXT" "$SITE"
echo "Built the page in $SITE ($(du -sh "$SITE" | cut -f1)): upload that folder's files"

if [ "$BUILD_ONLY" = 0 ]; then
  exec node "$ROOT/web/serve.mjs" "$SITE" "${PORT:-8000}"
fi
