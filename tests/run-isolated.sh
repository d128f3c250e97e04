#!/bin/sh
# Runs one test program with a fresh, empty settings folder and the offscreen platform, so that
# no test reads or writes the user's settings or needs a display.
dir=$(mktemp -d "${TMPDIR:-/tmp}/talvex-test.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT INT TERM
XDG_CONFIG_HOME="$dir/config"
XDG_STATE_HOME="$dir/state"
mkdir -p "$XDG_CONFIG_HOME"
export XDG_CONFIG_HOME XDG_STATE_HOME
export QT_QPA_PLATFORM=offscreen
"$@"
