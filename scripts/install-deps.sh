#!/usr/bin/env bash
# Installs what the native build and its tests need from Debian 12's packages.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail
source "$(dirname "$0")/lib/packages.sh"

ensure_packages "${native_packages[@]}" "$@"
