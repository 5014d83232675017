# Sourced by every script that installs what it runs with: ensure_packages, and the lists of
# Debian 12 packages that more than one script installs (those of the native build are in
# scripts/install-deps.sh, which the other scripts call).

# ensure_packages PACKAGE...: installs those of the named packages that are not installed
# yet, with apt-get (as root, or through sudo), without prompts and without recommends.
# When every one is installed it does nothing, and fetches nothing.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    case "$(dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null)" in
      *"install ok installed"*) ;;
      *) missing+=("$package") ;;
    esac
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The Windows build: the cross compiler, its binutils (windres), the sources of GoogleTest
# and CLI11 (header only), zlib built for MinGW-w64 and stb's header stb_dxt.h (the texture
# writers').
windows_build_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
  libcli11-dev libz-mingw-w64-dev libstb-dev)

# Running it: Wine (64-bit only), its fonts and the X libraries its X11 driver loads, Xvfb
# (and xvfb-run), ImageMagick (import for screenshots, convert for the command line's
# pictures), Python 3 (the pictures ImageMagick cannot write) and GNU time.
windows_run_packages=(wine wine64 fonts-wine fonts-liberation xvfb xauth x11-utils imagemagick python3
  time libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libxxf86vm1)
