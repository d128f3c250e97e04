#!/bin/sh
# Installs every Debian package that building, testing, packaging and the end-to-end Lisps need.
# Idempotent: does nothing when all are present; uses sudo when not run as root.
set -e
PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqscintilla2-qt6-dev libchm-dev
  sbcl clisp ecl guile-3.0 newlisp picolisp clojure
  xvfb xdotool xauth fp-utils strace
  clang libclang-rt-14-dev
  fonts-dejavu-core
  dpkg-dev file desktop-file-utils appstream lintian x11-utils procps
"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
