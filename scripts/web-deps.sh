#!/usr/bin/env bash
# Builds the C libraries the browser (WebAssembly) build links against --
# libogg, libvorbis + libvorbisfile, zlib and libpng 1.6 -- from Debian's own
# source packages with emscripten, as optimized static wasm32 libraries in
# OUT_DIR/deps/{include,lib}. The sources are fetched with a private apt source
# list and private apt state under OUT_DIR, so the machine's apt setup is left
# alone. Idempotent: a finished OUT_DIR/deps (stamp OUT_DIR/deps/.done) makes
# this a no-op; unpacked sources in OUT_DIR/deps-src are reused.
#
# Usage: scripts/web-deps.sh [OUT_DIR]      (OUT_DIR defaults to <repo>/build-web)
#
# Compile steps take the lock file VORTALUNE_BUILD_LOCK
# (default /tmp/vortalune-build.lock) so they never run alongside another big
# build on the machine; set it to an empty string to build without the lock.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT_DIR="${1:-$ROOT/build-web}"
mkdir -p "$OUT_DIR"
OUT_DIR="$(cd "$OUT_DIR" && pwd)"
DEPS="$OUT_DIR/deps"
SRC_DIR="$OUT_DIR/deps-src"
BUILD_DIR="$OUT_DIR/deps-build"
APT_DIR="$OUT_DIR/deps-apt"

# Bump when the package list, the flags or the build steps change: an existing
# prefix whose stamp differs is rebuilt from scratch.
DEPS_VERSION="web-deps 1: libogg libvorbis zlib libpng1.6 (bookworm), -O2 static"

START=$SECONDS

if [ -f "$DEPS/.done" ] && [ "$(cat "$DEPS/.done")" = "$DEPS_VERSION" ]; then
  echo "web deps: up to date in $DEPS (include/, lib/)"
  exit 0
fi

# --- host tools -------------------------------------------------------------
# emscripten brings emcc/emcmake and node; dpkg-dev unpacks source packages.
PACKAGES=(
  emscripten dpkg-dev cmake make
  xz-utils bzip2 debian-archive-keyring
)
missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
"$ROOT/scripts/apt-install.sh" ${missing[@]+"${missing[@]}"}

# emcc's JS optimizer needs Debian's node-acorn from /usr/share/nodejs. Debian's
# own node searches there; a node from elsewhere (e.g. a repacked upstream
# build) does not, and then every optimized link fails with
# "Cannot find module 'acorn'" -- including CMake's and configure's test links,
# which would silently turn feature checks off.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
NODE="$(command -v node || command -v nodejs)"
# emscripten's check_type_size is a try_run (the size is the exit code), so
# CMake must be able to run programs under node. emcmake's default emulator
# passes --experimental-wasm-threads, which node 20 rejects (exit 9); plain
# node 18+ has a global fetch(), which emscripten 3.1.6's loader then prefers
# for reading the .wasm file and fails on a file path (exit 7). Either way
# libogg stops with "No 16 bit type found on this platform!".
EMULATOR="$NODE;--no-experimental-fetch"

LOCK="${VORTALUNE_BUILD_LOCK-/tmp/vortalune-build.lock}"
locked() {
  if [ -n "$LOCK" ]; then flock "$LOCK" "$@"; else "$@"; fi
}

# --- sources ----------------------------------------------------------------
# Each package is unpacked (with Debian's patches applied) in
# deps-src/<package>/<package>-<upstream version>/.
SOURCE_PACKAGES=(libogg libvorbis zlib libpng1.6)

unpacked() { # package -> path of its unpacked tree, or nothing
  local d
  for d in "$SRC_DIR/$1"/*/; do
    if [ -f "$d/debian/control" ]; then echo "${d%/}"; return; fi
  done
}

need_fetch=()
for pkg in "${SOURCE_PACKAGES[@]}"; do
  [ -n "$(unpacked "$pkg")" ] || need_fetch+=("$pkg")
done

if ((${#need_fetch[@]})); then
  mkdir -p "$APT_DIR/lists/partial" "$APT_DIR/cache/archives/partial"
  KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
  cat > "$APT_DIR/sources.list" <<EOF
deb-src [signed-by=$KEYRING] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$KEYRING] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$KEYRING] http://deb.debian.org/debian-security bookworm-security main
EOF
  APT_OPTS=(
    -o "Dir::Etc::SourceList=$APT_DIR/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$APT_DIR/lists"
    -o "Dir::Cache=$APT_DIR/cache"
  )
  # As root apt downloads as the _apt user, who cannot write into our folders.
  if [ "$(id -u)" -eq 0 ]; then APT_OPTS+=(-o APT::Sandbox::User=root); fi

  if ! compgen -G "$APT_DIR/lists/*Sources*" >/dev/null; then
    echo "web deps: reading Debian's source index"
    apt-get "${APT_OPTS[@]}" -qq update
  fi

  for pkg in "${need_fetch[@]}"; do
    echo "web deps: fetching $pkg"
    rm -rf "$SRC_DIR/$pkg"
    mkdir -p "$SRC_DIR/$pkg"
    # The newest version (often from bookworm-security) first; when its files
    # cannot be had, the one in the bookworm release itself.
    if ! (cd "$SRC_DIR/$pkg" && apt-get "${APT_OPTS[@]}" -qq source "$pkg") > "$SRC_DIR/$pkg.log" 2>&1; then
      echo "web deps: newest $pkg not available, taking bookworm's"
      rm -rf "$SRC_DIR/$pkg"
      mkdir -p "$SRC_DIR/$pkg"
      if ! (cd "$SRC_DIR/$pkg" && apt-get "${APT_OPTS[@]}" -qq source "$pkg/bookworm") >> "$SRC_DIR/$pkg.log" 2>&1; then
        cat "$SRC_DIR/$pkg.log" >&2
        echo "web deps: could not fetch the source of $pkg" >&2
        exit 1
      fi
    fi
    if [ -z "$(unpacked "$pkg")" ]; then
      cat "$SRC_DIR/$pkg.log" >&2
      echo "web deps: $pkg did not unpack" >&2
      exit 1
    fi
  done
fi

# --- build ------------------------------------------------------------------
# Always from a clean prefix and clean build trees: a half-finished earlier run
# leaves nothing behind that could be picked up.
rm -rf "$DEPS" "$BUILD_DIR"
mkdir -p "$DEPS/include" "$DEPS/lib" "$BUILD_DIR"

# Only our own prefix for pkg-config, never the host's .pc files.
export PKG_CONFIG_LIBDIR="$DEPS/lib/pkgconfig"
export PKG_CONFIG_PATH=""

JOBS="$(nproc)"
OPT="-O2"
CMAKE_COMMON=(
  -Wno-dev
  -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_C_FLAGS_RELEASE=$OPT -DNDEBUG"
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$EMULATOR"
  "-DCMAKE_INSTALL_PREFIX=$DEPS"
  -DCMAKE_INSTALL_LIBDIR=lib
  -DCMAKE_INSTALL_INCLUDEDIR=include
  -DBUILD_SHARED_LIBS=OFF
)

cmake_package() { # name source-dir extra-cmake-args...
  local name="$1" src="$2"
  shift 2
  local build="$BUILD_DIR/$name"
  echo "web deps: building $name"
  locked emcmake cmake -S "$src" -B "$build" "${CMAKE_COMMON[@]}" "$@" > "$build.log" 2>&1 \
    || { cat "$build.log" >&2; exit 1; }
  locked cmake --build "$build" -j"$JOBS" >> "$build.log" 2>&1 || { cat "$build.log" >&2; exit 1; }
  cmake --install "$build" >> "$build.log" 2>&1 || { cat "$build.log" >&2; exit 1; }
}

# zlib: its CMake project always builds a shared library (which emscripten
# turns into a second static one with the same name) and the example programs,
# so its own configure script is used instead, built out of the source tree.
ZLIB_SRC="$(unpacked zlib)"
echo "web deps: building zlib"
mkdir -p "$BUILD_DIR/zlib"
(
  cd "$BUILD_DIR/zlib"
  CFLAGS="$OPT" locked emconfigure "$ZLIB_SRC/configure" --static --prefix="$DEPS" \
    --libdir="$DEPS/lib" --includedir="$DEPS/include"
  locked emmake make -j"$JOBS" libz.a
  emmake make install
) > "$BUILD_DIR/zlib.log" 2>&1 || { cat "$BUILD_DIR/zlib.log" >&2; exit 1; }

cmake_package libogg "$(unpacked libogg)" \
  -DBUILD_TESTING=OFF -DINSTALL_DOCS=OFF

cmake_package libvorbis "$(unpacked libvorbis)" \
  "-DOGG_INCLUDE_DIR=$DEPS/include" \
  "-DOGG_LIBRARY=$DEPS/lib/libogg.a"

# emscripten reports an x86 processor, which would switch on libpng's SSE2
# code; wasm has none of it.
cmake_package libpng "$(unpacked libpng1.6)" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
  "-DZLIB_INCLUDE_DIR=$DEPS/include" \
  "-DZLIB_LIBRARY=$DEPS/lib/libz.a"

# Manual pages, documentation and libpng-config (a host script) are not needed
# for a cross build.
rm -rf "$DEPS/share/man" "$DEPS/share/doc" "$DEPS/bin"
rmdir "$DEPS/share" 2>/dev/null || true

for lib in libogg.a libvorbis.a libvorbisfile.a libz.a libpng16.a; do
  if [ ! -f "$DEPS/lib/$lib" ]; then
    echo "web deps: $lib missing after the build" >&2
    exit 1
  fi
done

echo "$DEPS_VERSION" > "$DEPS/.done"
echo "web deps: built in $DEPS (include/, lib/) in $((SECONDS - START)) s"
