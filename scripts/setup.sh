#!/usr/bin/env bash
# Installs the Debian packages Vortalune needs, then configures and builds it.
# Idempotent: installs only what is missing. Usage: scripts/setup.sh [build-dir] [cmake args...]
# VORTALUNE_TARGETS (space-separated target names) builds only those, with what
# they need; unset, everything is built.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build}"
shift || true

PACKAGES=(
  build-essential cmake pkg-config
  libsdl1.2-dev libsdl-image1.2-dev
  libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  libegl-dev libgles-dev libegl-mesa0
  libvorbis-dev libpng-dev libfreetype-dev fonts-dejavu-core
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps
  ffmpeg
  clang libclang-rt-14-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

"$ROOT/scripts/apt-install.sh" ${missing[@]+"${missing[@]}"}

cmake -S "$ROOT" -B "$BUILD_DIR" "$@" >/dev/null
if [ -n "${VORTALUNE_TARGETS:-}" ]; then
  read -r -a targets <<<"$VORTALUNE_TARGETS"
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}"
else
  cmake --build "$BUILD_DIR" -j"$(nproc)"
fi
