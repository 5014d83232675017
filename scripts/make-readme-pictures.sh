#!/usr/bin/env bash
# Makes the pictures that README.md shows, from the sample map assets/earth-2048x1024.jpg and
# two data maps:
#   assets/filters-side-by-side.png  one crop of new2.tga at --size 512 with each --filter
#                                    (nearest, bilinear, area), texels enlarged 4 times;
#   assets/sample-net.jpg            `net --graticule` of the sample map at 512, bilinear;
#   assets/sample-globes.jpg         `globe` of the same textures, five views in a row;
#   assets/pattern-net.jpg           `net` of the test map from `pattern`, at 256, bilinear
#                                    (JPEG: its smooth colours take over 400 KB as PNG);
#   assets/relief-net.jpg            `net --shade` of the ETOPO5 relief (Debian's
#                                    ferret-datasets) converted at 512, area, into signed
#                                    16-bit TIFF textures;
#   assets/clouds-globes.jpg         `globe` of a synthetic cloud map with alpha converted at
#                                    512, area, into RGBA textures: alone (alpha over the
#                                    checkerboard), then laid over the sample map's textures.
#   assets/seam-border.png           the seam between new1 and new6 (the Guianas) under a
#                                    GPU's clamp-to-edge bilinear magnification, from PNG
#                                    textures at 64, area, with --border 0 and --border 1.
# orbilune-cli makes the textures, nets and globes; scripts/make_readme_pictures.py makes the
# data maps, lays the cloud textures over the colour ones, then crops, lays out and
# compresses the pictures (with OpenCV), and draws the seam as a GPU samples it.
# Installs python3-numpy, python3-opencv and ferret-datasets when missing, and builds the
# command line as scripts/build.sh does when $BUILD/bin/orbilune-cli is missing.
# Usage: [BUILD=build] scripts/make-readme-pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh python3-numpy python3-opencv ferret-datasets >&2
build=${BUILD:-build}
cli=$build/bin/orbilune-cli
if [ ! -x "$cli" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
    cmake --build "$build" >&2
fi

map=assets/earth-2048x1024.jpg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python=(/usr/bin/python3 scripts/make_readme_pictures.py)

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

# Data maps: heights kept as signed 16-bit samples, clouds with their alpha.
run "${python[@]}" maps "$work"
mkdir "$work/relief" "$work/clouds"
run "$cli" --size 512 --filter area --format tiff --channels grey --depth int16 "$work/etopo5.tif" "$work/relief"
run "$cli" net --shade "$work/relief" "$work/relief-net.png"
run "$cli" --size 512 --filter area --format png --channels rgba "$work/clouds.png" "$work/clouds"
run "$cli" globe "$work/clouds" "$work/clouds-globe.png" --size 320 --center -75,-25
run "${python[@]}" composite "$work"
run "$cli" globe "$work/clouded" "$work/clouded-globes.png" --size 320 \
    --center -75,-25 --center 20,15 --center 120,0

# One seam as a GPU's bilinear filter shows it, without and with a ring of border texels.
for border in 0 1; do
    mkdir "$work/seam$border"
    run "$cli" --size 64 --filter area --format png --border "$border" "$map" "$work/seam$border"
done

"${python[@]}" layout "$work" assets
"${python[@]}" seam "$work" assets
