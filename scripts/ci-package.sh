#!/bin/bash
# CI: Talvex as users install it. Installs into a staging folder and checks what lands there,
# validates the desktop entry and AppStream data, builds and lints the Debian package, installs
# it on this machine, starts the installed program under Xvfb, closes it, and removes the package.
# Usage: scripts/ci-package.sh [BUILD_DIR]   (a configured and built tree; default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

work=$(mktemp -d "${TMPDIR:-/tmp}/talvex-package.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "ci-package: $*" >&2; exit 1; }
step() { echo; echo "== $*"; }

step "install into a staging folder"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr
(cd "$stage" && find . -type f | sort)
desktop=$(find "$stage/usr/share/applications" -name '*.desktop')
[ "$(echo "$desktop" | wc -l)" -eq 1 ] || fail "expected one desktop entry, found: $desktop"
app_id=$(basename "$desktop" .desktop)
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ "$icon" = "$app_id" ] || fail "Icon=$icon does not match the desktop entry's id $app_id"
for size in 16 32 48 64 128 256; do
  png=$stage/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  [ -f "$png" ] || fail "missing $png"
  file "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not a $size px PNG"
done
[ -f "$stage/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "missing the scalable icon"
for f in usr/bin/talvex "usr/share/metainfo/$app_id.metainfo.xml" usr/share/man/man1/talvex.1.gz \
         usr/share/doc/talvex/copyright; do
  [ -f "$stage/$f" ] || fail "missing /$f"
done
leaked=$(find "$stage" \( -name 'tst_*' -o -name 'bench_*' -o -name 'fakelisp*' -o -name '*.a' \) -print)
[ -z "$leaked" ] || fail "test or benchmark files installed: $leaked"
LC_ALL=C.UTF-8 MANROFFSEQ="" MANWIDTH=80 man --warnings -E UTF-8 -l "$stage/usr/share/man/man1/talvex.1.gz" >/dev/null 2>"$work/man.err" \
  || fail "the manual page does not format"
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "the manual page has formatting warnings"; }

step "desktop-file-validate"
desktop-file-validate "$desktop"

step "appstreamcli validate"
appstreamcli validate --no-net "$stage/usr/share/metainfo/$app_id.metainfo.xml"

step "Debian package"
rm -f "$build"/talvex_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/talvex_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one talvex_*.deb, found: ${debs[*]}"
deb=${debs[0]}
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
version=$(dpkg-deb -f "$deb" Version)
changelog=$(dpkg-parsechangelog -l resources/debian/changelog -S Version)
[ "$version" = "$changelog" ] || fail "package version $version, but the changelog's last entry is $changelog"

step "lintian"
lintian --fail-on error --display-info --pedantic "$deb"

step "apt-get install"
(cd "$build" && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "./$(basename "$deb")")
[ -x /usr/bin/talvex ] || fail "/usr/bin/talvex was not installed"

step "start the installed program under Xvfb, then close it"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
# A Lisp already chosen, so no first-start dialog comes up.
# Settings and recovery journals of its own: journals that the user's own runs left would bring
# up the recovery offer, which takes the keys meant for the menu.
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
mkdir -p "$XDG_CONFIG_HOME/Quenmark"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings]\n"Lisp"="/usr/bin/sbcl"\n' \
  >"$XDG_CONFIG_HOME/Quenmark/Talvex.reg"
# A session of its own, so that every process it leaves behind can be found.
(cd "$work" && exec setsid /usr/bin/talvex >"$work/talvex.log" 2>&1) &
talvex=$!
pids+=("$talvex")
sleep 0.2
session=$(ps -o sid= -p "$talvex" | tr -d ' ' || true)
[ -n "$session" ] || { cat "$work/talvex.log"; fail "the program ended at once"; }
wid=""
for _ in $(seq 150); do
  wid=$(xdotool search --onlyvisible --name '^Talvex$' 2>/dev/null | tail -n 1) && [ -n "$wid" ] && break
  kill -0 "$talvex" 2>/dev/null || break
  sleep 0.2
done
[ -n "$wid" ] || { cat "$work/talvex.log"; fail "the installed program showed no window"; }
props=$(xprop -id "$wid" WM_CLASS _NET_WM_ICON)
echo "${props:0:160} ..."
# The desktop finds the entry by the window's class on X11. Sizes above 48 px come only from the
# installed icon of the entry's name (the built-in copy stops there).
wm_class=$(sed -n 's/^StartupWMClass=//p' "/usr/share/applications/$app_id.desktop")
grep -q "^WM_CLASS(STRING) = .*, \"$wm_class\"\$" <<<"$props" || fail "window class is not $wm_class"
grep -q 'Icon (128 x 128)' <<<"$props" || fail "the window does not show the installed icon $icon"
sleep 3
kill -0 "$talvex" 2>/dev/null || { cat "$work/talvex.log"; fail "the program ended on its own"; }
# The Lisp is a child of the program, in a session of its own (it has no controlling terminal).
lisp=$(pgrep -P "$talvex" -x sbcl || true)
[ -n "$lisp" ] || fail "SBCL was not started"
[ "$(ps -o sid= -p "$lisp" | tr -d ' ')" = "$lisp" ] || fail "SBCL does not lead a session of its own"
# File > Exit: the normal close.
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key --clearmodifiers x
code=""
for _ in $(seq 150); do
  kill -0 "$talvex" 2>/dev/null || { code=0; wait "$talvex" || code=$?; break; }
  sleep 0.1
done
cat "$work/talvex.log"
[ -n "$code" ] || fail "the program did not end within 15 s of being closed"
[ "$code" -eq 1 ] || fail "exit code $code after a normal close; 1 expected"
# What the program leaves goes within a moment: its guard process and the Lisp's session.
left=""
for _ in $(seq 20); do
  left=$( (pgrep -s "$session" -a; pgrep -s "$lisp" -a) || true)
  [ -z "$left" ] && break
  sleep 0.1
done
[ -z "$left" ] || fail "processes left behind: $left"
echo "the installed program showed its window and ended with exit code 1"

step "apt-get remove"
files=$(dpkg -L talvex | while read -r f; do [ -f "$f" ] && echo "$f"; done)
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y --purge talvex
for f in $files; do [ ! -e "$f" ] || fail "$f is still there after removal"; done
echo "ci-package: all package checks passed"
