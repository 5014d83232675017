#!/usr/bin/env bash
# The command line as a user meets it: its checks and messages, exit statuses, the files it
# writes and its progress. Usage: cli_test.sh PATH/TO/orbilune-cli
set -u
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        sed 's/^/    stderr: /' "$work/stderr" | head -5
    fi
}

# run EXPECTED_STATUS(0 or nonzero) ARGS...: runs the command line into a fresh OUT folder.
run() {
    rm -rf "$work/out"
    mkdir "$work/out"
    "$cli" "$@" >"$work/stdout" 2>"$work/stderr"
    status=$?
}
no_files() { [ -z "$(ls -A "$work/out")" ]; }
says() { grep -qxF "error: $1" "$work/stderr"; }
ten_files_of() {
    local size=$1 i
    for i in 1 2 3 4 5 6 7 8 9 10; do
        [ "$(stat -c %s "$work/out/new$i.tga" 2>/dev/null)" = "$size" ] || return 1
    done
}

convert -size 64x32 xc: +noise Random "$work/map.png"
convert "$work/map.png" "$work/map.jpg"
half() { head -c $(($(stat -c %s "$1") / 2)) "$1"; }  # cut inside the pixel data
half "$work/map.png" >"$work/cut.png"
half "$work/map.jpg" >"$work/cut.jpg"
printf 'not a picture\n' >"$work/notes.png"
: >"$work/empty.png"

run --help
check "--help exits 0 and shows the usage" [ "$status" = 0 ]
check "--help names the options" grep -q -- "--bilinear" "$work/stdout"

run "$work/map.png" "$work/out"
check "a run exits 0" [ "$status" = 0 ]
check "a run writes ten 512 textures" ten_files_of 786450
check "progress: one step per texture" [ "$(grep -c '^wrote new' "$work/stderr")" = 10 ]

run --size 1024 --bilinear "$work/map.jpg" "$work/out"
check "--size 1024 --bilinear" ten_files_of 3145746

run --size 128 --filter AREA "$work/map.png" "$work/out"
check "--filter area (any case)" ten_files_of 49170

for clash in "--filter area --bilinear" "--filter box" "--filter"; do
    run --size 64 $clash "$work/map.png" "$work/out"
    check "$clash is refused" [ "$status" != 0 ]
    check "$clash writes nothing" no_files
done

run --size 64 "$work/map.png" "$work/out with space"
check "a missing folder is refused" [ "$status" != 0 ]
check "a missing folder says so" says "The directory specified does not exist"

mkdir -p "$work/out with space"
"$cli" --size 64 "$work/map.png" "$work/out with space" 2>"$work/stderr"
check "a folder with a space in its name works" [ -f "$work/out with space/new10.tga" ]

for bad in "missing.png:The file specified does not exist" \
           "notes.png:Couldnt open image file." \
           "empty.png:Couldnt open image file." \
           "cut.png:Couldnt open image file." \
           "cut.jpg:Couldnt open image file."; do
    file=${bad%%:*}
    message=${bad#*:}
    run "$work/$file" "$work/out"
    check "$file exits non-zero" [ "$status" != 0 ]
    check "$file says: $message" says "$message"
    check "$file writes nothing" no_files
done

run --size 500 "$work/map.png" "$work/out"
check "a size that is not offered is refused" [ "$status" != 0 ]
check "a refused size writes nothing" no_files

run "$work/map.png"
check "a missing argument is refused" [ "$status" != 0 ]

# The checking pictures, from the textures of a run kept apart.
mkdir "$work/textures"
"$cli" --size 64 "$work/map.png" "$work/textures" 2>/dev/null
picture_is() { identify -format '%m %w %h' "$1" 2>/dev/null | grep -qx "$2"; }
run to-map "$work/textures" "$work/out/map.png" --width 200
check "to-map writes the map" picture_is "$work/out/map.png" "PNG 200 100"
run to-map "$work/textures" "$work/out/map.tif" --filter nearest
check "to-map takes the format from the name" picture_is "$work/out/map.tif" "TIFF 364 182"
run net "$work/textures" "$work/out/net.jpg" --graticule
check "net writes the net" picture_is "$work/out/net.jpg" "JPEG 736 364"
run globe "$work/textures" "$work/out/globes.tga" --size 40 --center 10,20 --center=-120,-90
check "globe writes a row of views" picture_is "$work/out/globes.tga" "TGA 80 40"
run pattern "$work/out/pattern.png" --width 300
check "pattern writes the test map" picture_is "$work/out/pattern.png" "PNG 300 150"

for bad in "to-map $work/missing $work/out/m.png:The directory specified does not exist" \
           "net $work/out $work/out/n.png:The folder does not hold the ten textures new1 to new10 (.tga, .png, .tif, .exr, .dds or .ktx2)." \
           "globe $work/textures $work/out/g.xyz:The picture format is not known from the file name." \
           "net $work/textures $work/out/n.exr:The file name's format cannot hold the picture's 8-bit RGB: name the file .tga, .png or .tif." \
           "to-map $work/textures $work/out/m.exr:The file name's format cannot hold the picture's 8-bit RGB: name the file .tga, .png or .tif."; do
    run ${bad%%:*}
    check "${bad%%:*} exits 1" [ "$status" = 1 ]
    check "${bad%%:*} says: ${bad#*:}" says "${bad#*:}"
    check "${bad%%:*} writes nothing" no_files
done
head -c 100 "$work/textures/new1.tga" >"$work/textures/new2.tga"
run to-map "$work/textures" "$work/out/m.png"
check "a cut texture is refused" says "Couldnt read the textures: they must be ten square pictures of one size and one layout."
for bad in "--center 10" "--center 10,100" "--size 8"; do
    run globe "$work/textures" "$work/out/g.png" $bad
    check "globe $bad is refused" [ "$status" != 0 ]
    check "globe $bad writes nothing" no_files
done

# Data maps: what the default output drops is said, and other outputs keep it.
convert -size 64x32 gradient:black-white -depth 16 -define png:bit-depth=16 "$work/heights.png"
convert -size 64x32 xc:none -fill 'rgba(255,255,255,0.5)' -draw 'circle 32,16 32,26' PNG32:"$work/cloud.png"
convert -size 64x40 xc: +noise Random "$work/square.png"
warns() { grep -qF "warning: $1" "$work/stderr"; }
run --size 64 "$work/heights.png" "$work/out"
check "a 16-bit grey map converts" [ "$status" = 0 ]
check "the default output says it cuts 16 bits" warns "the map's 16-bit samples are cut to 8 bits"
check "the default output says a grey map takes RGB" warns "the grey map is written as RGB"
run --size 64 "$work/cloud.png" "$work/out"
check "the default output says it drops alpha" warns "the map's alpha is dropped"
run --size 64 "$work/square.png" "$work/out"
check "a map not 2:1 is said to be stretched" warns "the map is 64 x 40, not twice as wide as high"
run --size 64 --format png --channels auto --depth auto "$work/heights.png" "$work/out"
kept() { identify -format '%m %w %h %z %[channels]' "$1" 2>/dev/null | grep -qx "$2"; }
check "--depth auto keeps 16-bit grey" kept "$work/out/new1.png" "PNG 64 64 16 gray"
check "nothing is dropped, nothing said" [ -z "$(grep warning "$work/stderr")" ]
cp -r "$work/out" "$work/heights-textures"
run to-map "$work/heights-textures" "$work/out/back.png" --width 64
check "to-map writes the textures' depth and channels" kept "$work/out/back.png" "PNG 64 32 16 gray"
# to-map's format is the file name's: a name whose format cannot hold the samples is refused,
# naming the extensions that hold them.
for name in back.exr back.jpg back.tga; do
    run to-map "$work/heights-textures" "$work/out/$name" --width 64
    check "to-map to $name says which names hold 16-bit grey" \
        says "The file name's format cannot hold the picture's 16-bit grey: name the file .png or .tif."
    check "to-map to $name writes nothing" no_files
done
# A format that cannot hold what is asked is refused before the map is read: the picture
# here is no picture at all, and that is not what is said.
run --format tga --depth 16 "$work/notes.png" "$work/out"
check "TGA of 16 bits exits 1" [ "$status" = 1 ]
check "TGA of 16 bits says what would work" grep -qF "error: TGA holds 8-bit grey, RGB and RGBA" "$work/stderr"
check "TGA of 16 bits writes nothing" no_files

# Tiles: a quadtree a diamond and the index; a run started again makes only what is missing,
# to the same bytes; --diamonds takes a share of the planet.
run --size 128 --tiles 64 --border 1 "$work/map.png" "$work/out"
check "--tiles writes every level's tiles and the index" \
    [ "$(find "$work/out" -name '*.tga' | wc -l)" = 50 ] && [ -f "$work/out/tiles.json" ]
check "a tile is the tile size and its rings" [ "$(stat -c %s "$work/out/new7/1/1_0.tga")" = $((18 + 3 * 66 * 66)) ]
cp "$work/out/new7/1/1_0.tga" "$work/tile"
rm "$work/out/new7/1/1_0.tga"
"$cli" --size 128 --tiles 64 --border 1 "$work/map.png" "$work/out" >"$work/stdout" 2>"$work/stderr"
check "a run started again makes the missing tile alone" [ "$(grep -c '^wrote new' "$work/stderr")" = 1 ]
check "to the same bytes" cmp -s "$work/tile" "$work/out/new7/1/1_0.tga"
check "and leaves no passing names" [ -z "$(find "$work/out" -name '*.part')" ]
run --size 64 --diamonds 2,9-10 "$work/map.png" "$work/out"
check "--diamonds writes those textures alone" [ "$(ls "$work/out" | tr '\n' ' ')" = "new10.tga new2.tga new9.tga " ]
for bad in "--tiles 48:The tile size must be a power of two." \
           "--size 64 --tiles 128:The tiles must not be larger than the textures: --tiles at most --size." \
           "--diamonds 0,11:--diamonds takes numbers from 1 to 10, such as 1,3,6-10." \
           "--linear --depth int16 --format tiff:--linear averages sRGB colour in linear light, and signed 16-bit samples are heights: leave out --linear with --depth int16." \
           "--format dds --compress bc1 --border 1:Block compression takes sides that are multiples of 4 texels: give an even --border, and --tiles of 4 or more, with --compress." \
           "--format ktx2 --compress bc4 --tiles 2:Block compression takes sides that are multiples of 4 texels: give an even --border, and --tiles of 4 or more, with --compress." \
           "--mosaic 2:--mosaic takes the grid's columns and rows, such as 4x2." \
           "--mosaic 4x1 $work/map.png:--mosaic 4x1 takes 4 files (or one file listing them), not 2." \
           "--memory 1 --size 2048:The memory budget is too small for this run: it needs at least 77 MiB (--memory)."; do
    run ${bad%%:*} "$work/map.png" "$work/out"
    check "${bad%%:*} says: ${bad#*:}" says "${bad#*:}"
    check "${bad%%:*} writes nothing" no_files
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
