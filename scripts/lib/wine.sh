# Sourced by the scripts and tests that run the Windows build under Wine: the environment
# every run shares, a fresh Wine prefix, and a private Xvfb display. The Wine program is
# $ORBILUNE_WINE when set, else wine. The packages are windows_run_packages of packages.sh.

# wine_environment: no debugging output, and no Mono or Gecko installers (so nothing is
# fetched and nothing asks); values already in the environment are kept.
wine_environment() {
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# make_wine_prefix [SIZE]: a fresh 64-bit Wine prefix at $WINEPREFIX. Given a SIZE (such as
# 1024x768), its programs share one virtual desktop of that size (Wine then draws captions
# and close boxes itself, with no window manager), and the prefix is marked as made so
# ($WINEPREFIX/.orbilune-desktop, which tests/windows/wine-desktop.sh looks for). Returns
# once Wine's processes for the prefix have ended.
make_wine_prefix() {
  local size=${1:-} wine=${ORBILUNE_WINE:-wine}
  wine_environment
  export WINEARCH=win64
  "$wine" wineboot -i >/dev/null 2>&1
  if [ -n "$size" ]; then
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$size" /f >/dev/null 2>&1
  fi
  wineserver -w
  if [ -n "$size" ]; then
    touch "$WINEPREFIX/.orbilune-desktop"
  fi
}

# add_marlett: Marlett, from fonts-wine, into the Fonts folder of the prefix at $WINEPREFIX.
# Windows draws the caption's buttons with this symbol font (the close box's cross is its
# letter "r"), and every Windows desktop has it; Wine 8 as Debian packages it puts none of
# its own fonts (/usr/share/wine/fonts) into a new prefix and does not read them from there.
# Wine's other fonts stay out: its Tahoma, wider than Windows' at 8 points, would wrap
# labels of the dialog that fit on Windows.
add_marlett() {
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
}

# start_xvfb SIZE: starts Xvfb on a free display of the given size and exports DISPLAY;
# XVFB_PID is its pid, for the caller to end it.
start_xvfb() {
  local size=$1 display=90 i
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
  done
  Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$display"
  for i in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}
