#!/usr/bin/env bash
# Runs the Windows program under Wine, building it first if it is not there.
#
#   scripts/run-windows.sh                     on the current desktop ($DISPLAY), in the
#                                              Wine prefix $WINEPREFIX (default ~/.wine)
#   scripts/run-windows.sh --screenshot FILE   on a private Xvfb display in a fresh Wine
#                                              prefix (with Marlett, for the caption's
#                                              buttons): saves a PNG of the dialog as it
#                                              starts, then ends the program
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/wine.sh

screenshot=""
if [ "${1:-}" = "--screenshot" ]; then
  screenshot=$(realpath -m "${2:?--screenshot needs a file name}")
fi

ensure_packages "${windows_run_packages[@]}"
[ -x build-windows/bin/orbilune.exe ] || scripts/build-windows.sh
program=$(realpath build-windows/bin/orbilune.exe)

if [ -z "$screenshot" ]; then
  wine_environment
  exec wine "$program"
fi

work=$(mktemp -d)
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The screen is the virtual desktop, just larger than the dialog, so the pointer (at the
# screen's centre) rests on it and Wine shows the dialog active.
size=520x260
start_xvfb "$size"
export WINEPREFIX=$work/prefix
make_wine_prefix "$size"
add_marlett
wine "$program" >/dev/null 2>&1 &
for i in $(seq 100); do
  sleep 0.2
  # The dialog is up once the desktop shows more than its background colour.
  [ "$(import -window root -format '%k' info: 2>/dev/null || echo 1)" -gt 2 ] && break
done
sleep 1  # let it finish painting
import -window root "$screenshot"
echo "saved $screenshot"
