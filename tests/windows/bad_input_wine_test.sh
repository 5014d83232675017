#!/usr/bin/env bash
# Hostile and unusual pictures through the Windows command line under Wine: the same tables
# as on Linux (tests/hostile_pictures.sh) decoded by GDI+, maps of 16-bit, signed, float and
# alpha samples read as their own samples (by the portable PNG, TIFF and OpenEXR readers) to
# the Linux build's textures in TIFF, PNG and OpenEXR, then names and paths: spaces,
# Latin-1, Greek, Cyrillic and Chinese letters (converted to the Linux build's bytes, also by
# the program as Windows before 10 1903 runs it, in the system code page), an image path at
# and past the job's 1023 bytes, a name past 255 letters, and output folders whose texture
# paths would pass MAX_PATH UTF-16 units. Every bad picture is refused with the program's
# message, exit status 1, no files, little memory and within the time limit.
#
#   bad_input_wine_test.sh DEFAULT_PREFIX PATH/TO/orbilune-cli.exe \
#       PATH/TO/orbilune-cli-code-page.exe PATH/TO/tests/windows/data
#
# The Wine prefix is made as for the dialog tests (wine-desktop.sh, whose
# ORBILUNE_TEST_WINEPREFIX applies here too). Needs ImageMagick's convert, Python 3, gzip and
# GNU time.
#
# Left out from the Linux table: a file without read permission (Wine runs as root here and
# refuses a prefix owned by another user, so the permission never applies), and the Linux
# limits NAME_MAX and PATH_MAX, whose Windows counterparts are below.
set -u
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
default_prefix=$1
cli=$2
cli_code_page=$3  # the same program, its manifest less the UTF-8 code page
data=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$here/../hostile_pictures.sh"

source "$here/../../scripts/lib/wine.sh"
export WINEPREFIX=${ORBILUNE_TEST_WINEPREFIX:-$default_prefix}
wine_environment
# Wine reads the program's arguments and names the files in the locale's character set:
# UTF-8, as the names below are written (the tables themselves count bytes in the C locale).
wine=(env LC_ALL=C.UTF-8 "${ORBILUNE_WINE:-wine}")
# Makes the prefix if need be, as the other Windows tests find it.
"$here/wine-desktop.sh" "$default_prefix" cmd /c exit >/dev/null 2>&1 ||
    { echo "no Wine prefix at $WINEPREFIX"; exit 1; }
work_windows=$("${wine[@]}" winepath -w "$work" 2>/dev/null | tr -d '\r')
[ -n "$work_windows" ] || { echo "winepath cannot name $work"; exit 1; }

# windows_path PATH: a path below $work as the program sees it.
windows_path() {
    local tail=${1#"$work"}
    echo "$work_windows${tail//\//\\}"
}

# run ARGS...: the program under Wine into a fresh OUT folder, paths below $work given as
# Windows paths; the C runtime's "\r\n" line ends become "\n".
run() {
    local arguments=() argument
    for argument; do
        [ "${argument#"$work"}" != "$argument" ] && argument=$(windows_path "$argument")
        arguments+=("$argument")
    done
    rm -rf "$work/out"
    mkdir "$work/out"
    measured "${wine[@]}" "$cli" "${arguments[@]}"
    sed -i 's/\r$//' "$work/stderr"
}

# Wine's GDI+ decodes a whole picture inside GdipCreateBitmapFromFile, through Wine's
# windowscodecs, which fails on a header of 200000 × 100000 before any size reaches the
# program: refused as unreadable, with as little memory.
over_memory=("$too_large" "$cannot_open")

# Valid pictures that Wine's windowscodecs (Wine 8) cannot decode, refused as unreadable.
known_gap() {
    case $1 in
    cmyk.tif) echo "WICConvertBitmapSource has no conversion from 32bppCMYK" ;;
    float.tif) echo "WICConvertBitmapSource has no conversion from 128bppRGBAFloat" ;;
    jpeg.tif) echo "Wine's libtiff is built without JPEG compression" ;;
    planar.tif) echo "the TIFF decoder takes no planar configuration 2" ;;
    esac
}

# Bad pictures on which Wine's own decoder crashes inside GdipCreateBitmapFromFile.
known_decoder_fault() {
    case $1 in
    tile-bomb.tif) echo "a tile of 65536 × 65536 pixels (2^32, 0 in 32 bits) makes Wine 8's" \
        "windowscodecs read past its tile buffer" ;;
    esac
}

make_bad_pictures
bad_picture_rows
make_valid_pictures
valid_picture_rows
# Maps read as their own samples: through the portable PNG, TIFF and OpenEXR readers, to the
# Linux build's textures; the broken TIFF pictures and bombs refused by that reader too.
make_sample_maps
kept_sample_rows
kept_sample_refusal_rows

# --- Names and lengths -----------------------------------------------------------------------
# converts_into FOLDER: the one-pixel picture converted into FOLDER (a path below $work,
# written as given), and nowhere else.
converts_into() {
    local folder=$1 name=${1#"$work"/} i
    run --size 64 "$work/1x1.png" "$folder"
    if [ "$status" != 0 ]; then
        fail "into $name: exit status $status"
        return
    fi
    for i in 1 2 3 4 5 6 7 8 9 10; do
        if [ "$(stat -c %s "$folder/new$i.tga" 2>/dev/null)" != "$texture_bytes" ]; then
            fail "into $name: new$i.tga missing or of the wrong size"
            return
        fi
    done
    if [ "$(find "$work" -name 'new*.tga' | wc -l)" != 10 ]; then
        fail "into $name: textures written elsewhere too"
        return
    fi
    rm -f "$folder"/new*.tga
    passed=$((passed + 1))
}

# folder_refused FOLDER MESSAGE: the output folder is refused with MESSAGE and nothing is
# written anywhere (never a shortened path, which would name another folder).
folder_refused() {
    local folder=$1 name=${1#"$work"/}
    run --size 64 "$work/1x1.png" "$folder"
    if [ "$status" != 1 ]; then
        fail "into $name: exit status $status, expected 1"
    elif ! grep -qxF "error: $2" "$work/stderr"; then
        fail "into $name: not the message '$2'"
    elif [ -n "$(find "$work" -name 'new*.tga')" ]; then
        fail "into $name: wrote $(find "$work" -name 'new*.tga' | head -1)"
    else
        passed=$((passed + 1))
    fi
}

# windows_path_of_length N NAME: a path below $work whose Windows form is N bytes long.
windows_path_of_length() {
    path_of_length $(($1 - ${#work_windows} + ${#work})) "$2"
}

# Spaces, in the picture's name and the folder's.
cp "$work/1x1.png" "$work/map with spaces.png"
converts "$work/map with spaces.png" "200 100 50" 0
mkdir "$work/out with spaces"
converts_into "$work/out with spaces"
# A folder given with a trailing backslash.
converts_into "$work/out with spaces/"

# Latin-1 letters, and "œ" and "€", which code page 1252 spells with bytes that a conversion
# byte for byte (as Latin-1) gets wrong.
name="carte é à ç ñ ö ß œ €"
cp "$work/1x1.png" "$work/$name.png"
converts "$work/$name.png" "200 100 50" 0
mkdir "$work/sortie é œ €"
converts_into "$work/sortie é œ €"

# The ten textures the Linux build writes for data/map-97x61.bmp at --size 512, one after
# the other (the dialog tests hold them one by one).
linux_textures_sha256=b6de693ae770269310f1de5c1644d495f349e38ff6bbad899fb56ac33771f693

# converts_like_linux PICTURE FOLDER: the test map, copied to PICTURE, converts into FOLDER
# (both below $work, made here) to the Linux build's bytes.
converts_like_linux() {
    local picture=$1 folder=$2 i textures=()
    local name="${cli##*/}: ${picture#"$work"/} into ${folder#"$work"/}"
    mkdir -p "$(dirname "$picture")" "$folder"
    cp "$data/map-97x61.bmp" "$picture"
    run --size 512 "$picture" "$folder"
    for i in 1 2 3 4 5 6 7 8 9 10; do textures+=("$folder/new$i.tga"); done
    if [ "$status" != 0 ]; then
        fail "$name: exit status $status"
    elif [ "$(cat "${textures[@]}" 2>/dev/null | sha256sum | cut -d' ' -f1)" != "$linux_textures_sha256" ]; then
        fail "$name: not the Linux build's textures"
    else
        passed=$((passed + 1))
    fi
    rm -rf "$picture" "$folder"
}

# Letters outside every western code page, through the wide command line: the program as
# shipped (Wine honours its UTF-8 code page) and in the system code page (1252 under Wine).
shipped=$cli
for cli in "$shipped" "$cli_code_page"; do
    converts_like_linux "$work/Χάρτης/Χάρτης.bmp" "$work/Έξοδος"
    converts_like_linux "$work/Карта мира.bmp" "$work/Выход"
    converts_like_linux "$work/地图.bmp" "$work/输出"
    converts_like_linux "$work/地图 Χάρτης Карта é€/地图 Χάρτης Карта é€.bmp" "$work/出 Έξοδος Выход œ"
done
# The portable readers open such names too: a float TIFF and a 16-bit PNG read as their own
# samples, to the Linux build's textures (the hashes of kept_sample_rows).
cp "$work/sample-maps/float.tif" "$work/sample-maps/地图 Χάρτης Карта é€.tif"
cp "$work/sample-maps/rgb16.png" "$work/sample-maps/Χάρτης œ.png"
for cli in "$shipped" "$cli_code_page"; do
    kept_samples "地图 Χάρτης Карта é€.tif" tiff 0259ffd2d450f206
    kept_samples "Χάρτης œ.png" png 2512d8b735452888
done
cli=$shipped

# The help names the decoder of this platform.
run --help
if [ "$status" = 0 ] && grep -qF "GDI+" "$work/stdout" && ! grep -qF "OpenImageIO" "$work/stdout"; then
    passed=$((passed + 1))
else
    fail "--help: status $status, does not name GDI+ alone: $(grep -F IMAGE "$work/stdout" | tail -1)"
fi

# The job holds an image path of 1023 bytes and its terminator; Wine opens long paths.
longest=$(windows_path_of_length 1023 map.png)
mkdir -p "$(dirname "$longest")"
cp "$work/1x1.png" "$longest"
if [ "$(windows_path "$longest" | wc -c)" = 1024 ]; then
    converts "$longest" "200 100 50" 0
else
    fail "could not make a Windows path of 1023 bytes"
fi
too_long=$(windows_path_of_length 1024 map.png)
mkdir -p "$(dirname "$too_long")"
cp "$work/1x1.png" "$too_long"
refused "$too_long" "The image path is too long."                # never cut into another name
# No Windows file system holds a name of over 255 letters.
refused "$work/$(printf '%*s' 256 '' | tr ' ' n).png" "The image path is too long."

# The textures are written through paths of under MAX_PATH (260) bytes: a folder of 249
# bytes takes "\new10.tga"; one of 250 is refused before anything is written.
fits=$(windows_path_of_length 251 x)
fits=${fits%/x}
over=$(windows_path_of_length 252 x)
over=${over%/x}
mkdir -p "$fits" "$over"
converts_into "$fits"
folder_refused "$over" "The output folder path is too long."
folder_refused "$(windows_path_of_length 400 x)" "The output folder path is too long."
# Counted in UTF-16 units, not bytes: Greek letters are two bytes each, one unit.
# greek_folder UNITS: a folder below $work whose Windows path is UNITS units long, in
# folders of at most 100 letters (200 bytes: Linux counts a name's bytes).
greek_folder() {
    local letters=$(($1 - ${#work_windows} - 1)) i path=$work/
    for ((i = 0; i < letters; i++)); do
        [ $((i % 101)) = 100 ] && path+=/ || path+=α
    done
    echo "$path"
}
mkdir -p "$(greek_folder 249)" "$(greek_folder 250)"
converts_into "$(greek_folder 249)"
folder_refused "$(greek_folder 250)" "The output folder path is too long."

summary
