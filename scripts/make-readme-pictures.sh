#!/usr/bin/env bash
# Makes the pictures that README.md shows, from the sample map assets/earth-2048x1024.jpg:
#   assets/filters-side-by-side.png  one crop of new2.tga at --size 512 with each --filter
#                                    (nearest, bilinear, area), texels enlarged 4 times;
#   assets/sample-net.jpg            `net --graticule` of the sample map at 512, bilinear;
#   assets/sample-globes.jpg         `globe` of the same textures, five views in a row;
#   assets/pattern-net.jpg           `net` of the test map from `pattern`, at 256, bilinear
#                                    (JPEG: its smooth colours take over 400 KB as PNG).
# orbilune-cli makes the textures, nets and globes; scripts/make_readme_pictures.py crops,
# lays out and compresses them (with OpenCV).
# Installs python3-numpy and python3-opencv when missing, and builds the command line with
# scripts/build.sh when build/bin/orbilune-cli is missing.
# Usage: scripts/make-readme-pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh python3-numpy python3-opencv >&2
cli=build/bin/orbilune-cli
[ -x "$cli" ] || scripts/build.sh >&2

map=assets/earth-2048x1024.jpg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run COMMAND...: runs it quietly, showing what it printed only if it fails.
run() {
    "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; echo "failed: $*" >&2; exit 1; }
}

for filter in nearest bilinear area; do
    mkdir "$work/$filter"
    run "$cli" --size 512 --filter "$filter" "$map" "$work/$filter"
done
run "$cli" net --graticule "$work/bilinear" "$work/net.png"
run "$cli" globe "$work/bilinear" "$work/globes.png" --size 320 \
    --center 0,0 --center 90,30 --center 180,0 --center -90,-30 --center 0,90
run "$cli" pattern "$work/pattern.png"
mkdir "$work/pattern"
run "$cli" --size 256 --filter bilinear "$work/pattern.png" "$work/pattern"
run "$cli" net "$work/pattern" "$work/pattern-net.png"

/usr/bin/python3 scripts/make_readme_pictures.py "$work" assets
