#!/usr/bin/env bash
# The Windows program's test suite under Wine: installs MinGW-w64, Wine and Xvfb, builds
# into build-windows/ and runs every test there (the generator's tests against the GDI+
# backend, the front end's unit tests, the dialog tests and the command line's table of bad
# and unusual pictures and paths) with ctest, in a fresh
# temporary Wine prefix on a private Xvfb display: no network, no prompts.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/wine.sh

ensure_packages "${windows_build_packages[@]}" "${windows_run_packages[@]}"
scripts/build-windows.sh

work=$(mktemp -d)
cleanup() {
  exec 8>&- || true
  wineserver -k 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb 1024x768
export WINEPREFIX=$work/prefix
export ORBILUNE_TEST_WINEPREFIX=$WINEPREFIX  # the dialog tests' prefix too
make_wine_prefix 1024x768
# Wine's services and desktop start with the first program and stop after the last one.
# A program that waits on a pipe we hold open keeps them up for the whole run, so no test
# program pays for their start-up (ctest allows test discovery 5 seconds).
mkfifo "$work/hold"
wine cmd /c "set /p line=" <"$work/hold" >/dev/null 2>&1 &
exec 8>"$work/hold"
wine cmd /c exit

# One test at a time: the dialog tests share the desktop, the mouse and the keyboard. Wine
# now and then fails to start a program at all (exit status 1 within a hundredth of a
# second, nothing printed), so a failed test runs once more; a fault of ours fails twice.
ctest --test-dir build-windows --output-on-failure -j1 --repeat until-pass:2 "$@"
