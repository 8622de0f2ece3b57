#!/bin/sh
# Runs a program against a private virtual X server of its own.
#   run_with_xvfb.sh PROGRAM [ARGS...]
# Exits 77 (CTest's "skipped") when Xvfb is not installed. The program's
# desktop files (recent files, settings) go to a scratch directory.
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is not installed: skipping the GUI tests"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvant-xvfb.XXXXXX") || exit 1
xvfb=""
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# -displayfd: Xvfb picks a free display and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
tries=0
while [ ! -s "$work/display" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 150 ] || ! kill -0 "$xvfb" 2>/dev/null; then
    echo "Xvfb did not start:"
    cat "$work/xvfb.log"
    exit 1
  fi
  sleep 0.1
done
display=$(head -n 1 "$work/display")
mkdir -p "$work/data" "$work/config" "$work/cache"

env -u WAYLAND_DISPLAY DISPLAY=":$display" GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
  GSETTINGS_BACKEND=memory GIO_USE_VFS=local GTK_THEME=Adwaita \
  XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
  "$@"
