#!/usr/bin/env bash
# Runs a Windows test program under Wine the way the dialog tests need it: in a Wine
# prefix of their own whose programs share one virtual desktop (Wine then draws captions
# and close boxes itself, with no window manager), on an X display (Xvfb when none is set).
#
#   wine-desktop.sh DEFAULT_PREFIX PROGRAM.exe [ARGUMENTS...]
#
# ORBILUNE_TEST_WINEPREFIX, when set, names the prefix instead of DEFAULT_PREFIX.
set -euo pipefail

default_prefix=$1
shift
source "$(dirname "$0")/../../scripts/lib/wine.sh"
export WINEPREFIX=${ORBILUNE_TEST_WINEPREFIX:-$default_prefix}
wine_environment  # no Mono or Gecko prompts
wine=${ORBILUNE_WINE:-wine}

if [ -z "${DISPLAY:-}" ]; then
  # Our own display for this one program; Wine's processes must not outlive it.
  status=0
  ORBILUNE_OWN_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$0" "$WINEPREFIX" "$@" || status=$?
  exit "$status"
fi

# Made once per prefix; the lock keeps parallel callers from making it twice.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -e "$WINEPREFIX/.orbilune-desktop" ]; then
    make_wine_prefix 1024x768
  fi
) 9>"$WINEPREFIX.lock"

status=0
"$wine" "$@" || status=$?
if [ -n "${ORBILUNE_OWN_DISPLAY:-}" ]; then
  wineserver -k || true
fi
exit "$status"
