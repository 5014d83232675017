#!/usr/bin/env bash
# Sourced by the *-windows.sh scripts: installs the Debian 12 packages they name that are
# not installed yet (as root, or through sudo), without prompts and without recommends.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The cross compiler, its binutils (windres), the sources of GoogleTest and CLI11 (header only).
build_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
  libcli11-dev)

# Wine (64-bit only), its fonts and the X libraries its X11 driver loads, Xvfb, ImageMagick
# (import for screenshots, convert for the command line's pictures) and GNU time.
run_packages=(wine wine64 fonts-wine fonts-liberation xvfb xauth x11-utils imagemagick time
  libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libxxf86vm1)

# A fresh Wine prefix at $WINEPREFIX whose programs share one virtual desktop of the given
# size (Wine then draws captions and close boxes itself, with no window manager). No Mono
# or Gecko installers run, so nothing is fetched and nothing asks.
make_wine_prefix() {
  local size=$1
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export WINEARCH=win64
  wine wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$size" /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.orbilune-desktop"  # tests/windows/wine-desktop.sh takes it as made
}

# Starts Xvfb on a free display of the given size and exports DISPLAY; XVFB_PID is its pid.
start_xvfb() {
  local size=$1 display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
  done
  Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$display"
  local i
  for i in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}
