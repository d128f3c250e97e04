#!/bin/bash
# CI: the Qt-free half of Talvex (the Lisp process: redirector, process layer, command-line rules)
# cross-built for 64-bit Windows with MinGW-w64, and its tests run under wine. Debian has no Qt for
# Windows, so the program itself is not built here. Installs the cross compiler and wine when they
# are missing (uses sudo when not run as root); developers need neither for the README's commands.
# Usage: scripts/ci-windows.sh [BUILD_DIR]   (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-win}")

packages="g++-mingw-w64-x86-64-posix wine64"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "Installing:$missing"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

# Every source of the program as the Windows compiler sees it, Qt half included. Debian's Qt headers
# are configured for Linux, so this proves nothing about Qt on Windows; it catches what the
# compiler finds in the program's own code there (Windows API use, overloads that depend on the
# size of long) in files that no other build here compiles.
qt=/usr/include/x86_64-linux-gnu/qt6
ls src/*/*.cpp | grep -v '_posix\.cpp$' | xargs -P "$(nproc)" -I{} \
  x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Wno-attributes \
    -DTALVEX_APP_ID='"dev.talvex.Talvex"' -DTALVEX_BUILD_STAMP='"check"' \
    -Isrc -I$qt -I$qt/QtCore -I$qt/QtGui -I$qt/QtWidgets {}
echo "ci-windows: every source compiles for Windows"

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DTALVEX_QT=OFF -DTALVEX_BENCH=OFF
cmake --build "$build"

# The same settings as the tests get from CTest: a prefix of the build's own, no debug chatter,
# none of the optional components a new prefix would try to fetch.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(grep -m1 '^TALVEX_WINE:' "$build/CMakeCache.txt" | cut -d= -f2-)
[ -x "$wine" ] || { echo "ci-windows: wine was not found" >&2; exit 1; }
# Ends this prefix's wine server (and nothing else) however the run ends.
trap '"$(dirname "$wine")/wineserver64" -k 2>/dev/null || true' EXIT
# The first start makes the prefix (about 11 s); done here, so that no test's time includes it.
"$wine" wineboot --init
ctest --test-dir "$build" --output-on-failure --no-tests=error
