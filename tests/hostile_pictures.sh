# Sourced by the bad-input tests of the command line (tests/bad_input_test.sh on Linux,
# tests/windows/bad_input_wine_test.sh under Wine): the hostile and unusual pictures, the
# rows of the tables that hold on every platform, and the checks behind each row.
#
# The sourcing script sets `work` (an empty folder of its own) and defines
#   run ARGS...   runs the command line with ARGS (file arguments as absolute paths below
#                 $work) into the fresh, empty folder $work/out, and sets `status` (the exit
#                 status), `peak_kb` (peak resident memory in KiB) and $work/stderr (with
#                 plain "\n" line ends);
# and may redefine known_gap and known_decoder_fault (below). Needs ImageMagick's convert,
# gzip and GNU time.

passed=0
failed=0
skipped=0

# A texture of --size 64 is 18 + 3 × 64 × 64 bytes.
texture_bytes=12306
# Peak resident memory a refused picture may cost, in KiB: OpenImageIO alone takes about
# 140 MB, a bomb that was decoded would take gigabytes.
memory_ceiling_kb=${ORBILUNE_MEMORY_CEILING_KB:-700000}
# A run that takes longer than this, in seconds, has hung.
run_timeout=${ORBILUNE_RUN_TIMEOUT:-120}

too_large="The image is too large: there is not enough memory to load it."
cannot_open="Couldnt open image file."
# What a picture far larger than any memory is refused with: its size, where the reader
# reports the size before it decodes. A platform whose decoder fails on it first, without
# saying why, adds its own message.
over_memory=("$too_large")

fail() {
    failed=$((failed + 1))
    echo "FAILED: $*"
    sed 's/^/    stderr: /' "$work/stderr" | head -5
}

# measured COMMAND...: runs COMMAND with the time limit and sets `status` and `peak_kb`.
# GNU time reports the largest of the process tree, so the limit's own process does not hide
# the command's peak. Standard output and error go to $work/stdout and $work/stderr.
measured() {
    /usr/bin/time -o "$work/time" -f %M timeout -k 10 "$run_timeout" "$@" \
        >"$work/stdout" 2>"$work/stderr"
    status=$?
    peak_kb=$(tail -1 "$work/time")
    [ "$status" = 124 ] && echo "timed out after $run_timeout s" >>"$work/stderr"
}

files_written() { find "$work/out" -mindepth 1 | wc -l; }

# known_gap NAME: prints why the platform's decoders cannot read the valid picture NAME,
# which is then expected to be refused as unreadable; prints nothing where they can.
known_gap() { :; }
# known_decoder_fault NAME: prints why the platform's own decoder crashes on the bad picture
# NAME, inside the system's code where the program cannot refuse it first; the row is then
# skipped, saying so.
known_decoder_fault() { :; }

summary() {
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" = 0 ]
}

# refused [RUN-OPTION] FILE MESSAGE...: one row of the table of bad pictures: refused with
# one of the messages, exit status 1 (not a crash or a time-out), no files, little memory.
# A leading option beginning with "--" goes to run.
refused() {
    local options=()
    [ "${1#--}" != "$1" ] && options=("$1") && shift
    local file=$1 name=${1#"$work"/} patterns=() message fault
    shift
    fault=$(known_decoder_fault "${name##*/}")
    if [ -n "$fault" ]; then
        echo "skipped: $name: $fault"
        skipped=$((skipped + 1))
        return
    fi
    for message in "$@"; do patterns+=(-e "error: $message"); done
    run "${options[@]}" --size 64 "$file" "$work/out"
    if [ "$status" != 1 ]; then
        fail "$name: exit status $status, expected 1"
    elif ! grep -qxF "${patterns[@]}" "$work/stderr"; then
        fail "$name: not the message '$1'"
    elif [ "$(files_written)" != 0 ]; then
        fail "$name: wrote $(files_written) files"
    elif [ "$peak_kb" -gt "$memory_ceiling_kb" ]; then
        fail "$name: peak memory $peak_kb KiB"
    else
        passed=$((passed + 1))
    fi
}

# converts FILE "R G B" TOLERANCE: one row of the table of valid pictures: ten textures whose
# first texel (every texel: the pictures are of one colour) is within TOLERANCE of R G B.
converts() {
    local file=$1 expected=($2) tolerance=$3 i
    local name=${file#"$work"/}
    if [ -n "$(known_gap "${name##*/}")" ]; then
        refused "$file" "$cannot_open"
        return
    fi
    run --size 64 "$file" "$work/out"
    if [ "$status" != 0 ]; then
        fail "$name: exit status $status"
        return
    fi
    for i in 1 2 3 4 5 6 7 8 9 10; do
        if [ "$(stat -c %s "$work/out/new$i.tga" 2>/dev/null)" != "$texture_bytes" ]; then
            fail "$name: new$i.tga missing or of the wrong size"
            return
        fi
    done
    local bgr=($(od -An -tu1 -j18 -N3 "$work/out/new7.tga"))
    local got=("${bgr[2]}" "${bgr[1]}" "${bgr[0]}")
    for i in 0 1 2; do
        local difference=$((got[i] - expected[i]))
        if [ "${difference#-}" -gt "$tolerance" ]; then
            fail "$name: colour ${got[*]}, expected ${expected[*]}"
            return
        fi
    done
    passed=$((passed + 1))
}

# path_of_length N NAME: a path of exactly N bytes below $work ending in /NAME, through
# folders of at most 200 bytes each.
path_of_length() {
    local gap=$(($1 - ${#work} - 1 - ${#2})) path=$work i
    local folders=$(((gap + 200) / 201))
    local letters=$((gap - folders))
    for ((i = folders; i > 0; i--)); do
        local width=$((letters / i))
        letters=$((letters - width))
        path=$path/$(printf '%*s' "$width" '' | tr ' ' d)
    done
    echo "$path/$2"
}

# --- Making bad files ----------------------------------------------------------------------
cut_at() { head -c "$2" "$1"; }
# patch FILE OFFSET PRINTF-BYTES: overwrites bytes in place.
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
# The offset of the first marker (printf bytes) in FILE.
offset_of() { LC_ALL=C grep -obUaP "$2" "$1" | head -1 | cut -d: -f1; }
# be32 N: four printf escapes, big-endian.
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
# CRC-32 of standard input: gzip's trailer holds it, little-endian.
crc32() { gzip -c | tail -c 8 | head -c 4 | od -An -tu4 | tr -d ' '; }
# png_chunk TYPE DATA: a chunk with a correct CRC, as printf escapes (so are TYPE and DATA).
png_chunk() {
    local length
    length=$(printf "$2" | wc -c)
    printf '%s%s%s%s' "$(be32 "$length")" "$1" "$2" "$(be32 "$(printf "$1$2" | crc32)")"
}
# png_header W H DEPTH COLOUR [INTERLACE]: a PNG of nothing but its header (and IEND).
png_header() {
    local ihdr
    ihdr=$(be32 "$1")$(be32 "$2")$(printf '\\x%02x\\x%02x\\x00\\x00\\x%02x' "$3" "$4" "${5:-0}")
    printf "\\x89PNG\\r\\n\\x1a\\n$(png_chunk IHDR "$ihdr")$(png_chunk IEND '')"
}
# tiff_header W H [TILE]: an uncompressed 8-bit grey TIFF declaring W × H (in one strip, or
# in tiles of TILE × TILE) over 16 bytes of data.
tiff_header() {
    local entries=(  # tag, type (3 short, 4 long), value
        0x100 4 "$1"   # ImageWidth
        0x101 4 "$2"   # ImageLength
        0x102 3 8      # BitsPerSample
        0x103 3 1      # Compression: none
        0x106 3 1      # BlackIsZero
    )
    if [ -z "${3:-}" ]; then
        entries+=(
            0x111 4 122    # StripOffsets: just past this directory
            0x115 3 1      # SamplesPerPixel
            0x116 4 "$2"   # RowsPerStrip
            0x117 4 16     # StripByteCounts
        )
    else
        entries+=(
            0x115 3 1      # SamplesPerPixel
            0x142 4 "$3"   # TileWidth
            0x143 4 "$3"   # TileLength
            0x144 4 134    # TileOffsets: just past this directory
            0x145 4 16     # TileByteCounts
        )
    fi
    local count=$((${#entries[@]} / 3)) i
    local tiff='II*\x00\x08\x00\x00\x00'$(printf '\\x%02x\\x00' "$count")
    for ((i = 0; i < ${#entries[@]}; i += 3)); do
        tiff+=$(printf '\\x%02x\\x%02x\\x%02x\\x00\\x01\\x00\\x00\\x00' \
            $((entries[i] & 255)) $((entries[i] >> 8)) "${entries[i + 1]}")$(le32 "${entries[i + 2]}")
    done
    printf "$tiff"'\x00\x00\x00\x00'
    head -c 16 /dev/zero
}

# make_bad_pictures: the broken pictures and the bombs, and the good ones they came from.
make_bad_pictures() {
    # Good pictures of the four formats, from ImageMagick's built-in 70 × 46 photograph; the
    # PNG of 8 bits per channel goes through Orbilune's own reader on Linux, the others
    # through OpenImageIO there and through GDI+ on Windows.
    convert rose: -depth 8 PNG24:"$work/good.png"
    convert rose: "$work/good.jpg"
    convert rose: "$work/good.bmp"
    convert rose: -depth 8 "$work/good.tif"
    # Deterministic garbage: compressed data looks random.
    convert rose: rgb:- | gzip -9n | head -c 4000 >"$work/garbage"

    local format good signature
    for format in png jpg bmp tif; do
        good=$work/good.$format
        : >"$work/empty.$format"
        cut_at "$good" $(($(stat -c %s "$good") / 2)) >"$work/cut.$format"
        case $format in png) signature=8 ;; jpg) signature=3 ;; bmp) signature=2 ;; tif) signature=4 ;; esac
        { cut_at "$good" "$signature"; cat "$work/garbage"; } >"$work/garbage.$format"
        cp "$good" "$work/header.$format"
    done
    patch "$work/header.png" 16 '\x7f'                     # IHDR width changed: its CRC fails
    png_header 70 46 8 5 >"$work/colour5.png"               # colour type 5 does not exist
    local sof
    sof=$(offset_of "$work/good.jpg" '\xff\xc0')
    patch "$work/header.jpg" $((sof + 4)) '\x99'            # SOF: 153 bits per sample
    cp "$work/good.jpg" "$work/components.jpg"
    patch "$work/components.jpg" $((sof + 9)) '\x00'        # SOF: no components
    patch "$work/header.bmp" 28 '\x07\x00'                  # 7 bits per pixel
    patch "$work/header.tif" 4 '\x00\xff\xff\xff'           # first directory past the end
    printf 'not a picture\n' >"$work/notes.png"
    mkdir "$work/folder.png"

    # Decompression bombs: a few bytes that declare a picture far larger than memory, or one
    # that fits but whose data is not there.
    png_header 200000 100000 8 2 >"$work/bomb.png"
    png_header 2147483646 1 8 6 >"$work/wide.png"           # one row of 8 GiB
    png_header 1000001 1 8 2 >"$work/libpng-limit.png"      # past libpng's limit of 10^6
    png_header 60000 60000 8 2 >"$work/bomb-fits.png"
    png_header 60000 60000 16 2 >"$work/bomb16.png"
    png_header 60000 60000 8 2 1 >"$work/bomb-interlaced.png"
    # Before any image data, an ancillary chunk that declares nearly 2 GiB and holds nothing
    # (the header alone is 33 bytes): a reader that allocates what a chunk declares is lost.
    local kind
    for kind in "16 6 1" "1 0 0" "8 3 0"; do
        { png_header 70 46 $kind | head -c 33; printf "$(be32 2147483600)iCCPmap\0\0x"; } \
            >"$work/huge-chunk-${kind// /-}.png"
    done
    cp "$work/good.jpg" "$work/bomb.jpg"
    patch "$work/bomb.jpg" $((sof + 5)) '\xff\xff\xff\xff'  # 65535 × 65535
    cp "$work/good.bmp" "$work/bomb.bmp"
    patch "$work/bomb.bmp" 18 "$(le32 200000)$(le32 100000)"
    cp "$work/good.bmp" "$work/bomb-fits.bmp"
    patch "$work/bomb-fits.bmp" 18 "$(le32 60000)$(le32 60000)"
    convert -size 5x3 xc:red "$work/bomb.gif"
    patch "$work/bomb.gif" 32 '\xff\xff\xff\xff'           # its one frame 65535 × 65535
    tiff_header 200000 100000 >"$work/bomb.tif"
    tiff_header 65000 65000 >"$work/bomb-fits.tif"
    tiff_header 2147483647 1 >"$work/wide.tif"
    tiff_header 60000 60000 16 >"$work/bomb-tiled.tif"
    tiff_header 16 16 65536 >"$work/tile-bomb.tif"          # one tile of 4 GiB for 256 pixels
}

# The table of bad pictures that every platform refuses alike.
bad_picture_rows() {
    local format bomb
    for format in png jpg bmp tif; do
        refused "$work/empty.$format" "$cannot_open"    # nothing at all
        refused "$work/cut.$format" "$cannot_open"      # cut in the middle of the pixel data
        refused "$work/header.$format" "$cannot_open"   # one field of the header broken
        refused "$work/garbage.$format" "$cannot_open"  # a valid signature, then garbage
    done
    refused "$work/colour5.png" "$cannot_open"          # a header with a valid CRC but no sense
    refused "$work/components.jpg" "$cannot_open"       # a frame of no components
    refused "$work/notes.png" "$cannot_open"            # text named .png
    refused "$work/folder.png" "$cannot_open"           # a folder given as the picture
    refused "$work/bomb.png" "${over_memory[@]}"        # 200000 × 100000: 80 GB of pixels
    refused "$work/wide.png" "$cannot_open"             # past libpng's limits, like libpng
    refused "$work/libpng-limit.png" "$cannot_open"
    refused "$work/huge-chunk-16-6-1.png" "$cannot_open"  # 16-bit RGBA, interlaced
    refused "$work/huge-chunk-1-0-0.png" "$cannot_open"   # 1-bit grey
    refused "$work/huge-chunk-8-3-0.png" "$cannot_open"   # palette: its PLTE never comes
    refused "$work/bomb.tif" "${over_memory[@]}"        # 200000 × 100000
    refused "$work/tile-bomb.tif" "$cannot_open"        # reading a pixel reads its whole tile
    # OpenImageIO refuses pictures of over 32 GB in the file's own layout as unreadable.
    refused "$work/bomb.bmp" "${over_memory[@]}" "$cannot_open"
    # These fit in a large machine's memory, so they are refused either for their size or,
    # where the memory was reserved, for the missing data, before it was ever touched.
    for bomb in bomb-fits.png bomb16.png bomb-interlaced.png bomb.jpg bomb-fits.bmp \
                bomb-fits.tif bomb-tiled.tif wide.tif bomb.gif; do
        refused "$work/$bomb" "$too_large" "$cannot_open"
    done
}

# make_valid_pictures: pictures of unusual shape or layout, all of one colour.
colour='rgb(200,100,50)'  # asymmetric: a swap of red and blue shows
make_valid_pictures() {
    solid() { convert -size "$1" "xc:$colour" "${@:2}"; }
    grey() { convert -size "$1" 'xc:rgb(120,120,120)' -type Grayscale "${@:2}"; }
    solid 1x1 -depth 8 PNG24:"$work/1x1.png"
    solid 1x7 -depth 8 "$work/1xN.bmp"
    solid 9x1 -depth 8 "$work/Nx1.tif"
    solid 9x1 -quality 100 "$work/Nx1.jpg"
    grey 5x3 -depth 8 PNG8:"$work/grey.png"
    grey 5x3 -depth 16 "$work/grey16.tif"
    grey 5x3 -quality 100 "$work/grey.jpg"
    solid 5x3 -depth 8 PNG8:"$work/palette.png"
    solid 5x3 -type Palette BMP3:"$work/palette.bmp"
    solid 5x3 -depth 16 PNG48:"$work/rgb16.png"
    solid 5x3 -depth 16 "$work/rgb16.tif"
    convert -size 5x3 'xc:rgba(200,100,50,0.5)' -depth 8 PNG32:"$work/alpha.png"
    convert -size 5x3 'xc:rgba(200,100,50,0.5)' -depth 8 "$work/alpha.tif"
    solid 5x3 -quality 100 -colorspace CMYK "$work/cmyk.jpg"
    solid 40x24 -quality 100 -interlace Plane "$work/progressive.jpg"
    solid 40x24 -depth 8 -interlace PNG PNG24:"$work/interlaced.png"
    convert -size 6x4 "xc:$colour" -size 6x4 xc:blue -depth 8 "$work/pages.tif"
    solid 5x3 "$work/palette.gif"
    solid 61x31 -depth 8 -compress LZW "$work/lzw.tif"
    solid 61x31 -depth 8 -compress RLE BMP3:"$work/rle.bmp"
    convert -size 5x3 'xc:rgba(200,100,50,0)' -depth 8 PNG32:"$work/transparent.png"
    convert -size 5x3 'xc:rgba(200,100,50,0.5)' -define bmp:format=bmp4 BMP:"$work/alpha.bmp"
    solid 5x3 -define bmp:subtype=RGB565 BMP:"$work/rgb565.bmp"
    solid 61x31 -depth 8 -define tiff:tile-geometry=16x16 "$work/tiled.tif"
    solid 61x31 -depth 8 -compress Zip "$work/deflate.tif"
    solid 61x31 -depth 8 -compress JPEG -quality 100 "$work/jpeg.tif"
    solid 5x3 -depth 8 -interlace Plane "$work/planar.tif"
    solid 5x3 -colorspace CMYK "$work/cmyk.tif"
    # ImageMagick warns of the predictor tag it leaves out for floats.
    solid 5x3 -depth 32 -define quantum:format=floating-point "$work/float.tif" 2>/dev/null
    cp "$work/1x1.png" "$work/png-named.jpg"
    cp "$work/rgb16.png" "$work/png16-named.tif"
    cp "$work/progressive.jpg" "$work/jpeg-named.png"
}

# The table of valid pictures of unusual shape or layout.
valid_picture_rows() {
    converts "$work/1x1.png" "200 100 50" 0                  # one pixel
    converts "$work/1xN.bmp" "200 100 50" 0                  # one column
    converts "$work/Nx1.tif" "200 100 50" 0                  # one row
    converts "$work/Nx1.jpg" "200 100 50" 2
    converts "$work/grey.png" "120 120 120" 2                 # grey
    converts "$work/grey16.tif" "120 120 120" 2               # grey of 16 bits
    converts "$work/grey.jpg" "120 120 120" 2
    converts "$work/palette.png" "200 100 50" 0              # palette
    converts "$work/palette.bmp" "200 100 50" 0
    converts "$work/palette.gif" "200 100 50" 0
    converts "$work/rgb16.png" "200 100 50" 0                # 16 bits per channel
    converts "$work/rgb16.tif" "200 100 50" 0
    converts "$work/alpha.png" "200 100 50" 0                # alpha ignored, never multiplied in
    converts "$work/alpha.tif" "200 100 50" 0
    converts "$work/cmyk.jpg" "200 100 50" 2                 # CMYK
    converts "$work/progressive.jpg" "200 100 50" 2
    converts "$work/interlaced.png" "200 100 50" 0           # Adam7
    converts "$work/pages.tif" "200 100 50" 0                # two pages: the first is the map
    converts "$work/lzw.tif" "200 100 50" 0
    converts "$work/rle.bmp" "200 100 50" 0
    converts "$work/transparent.png" "200 100 50" 0          # wholly transparent: colours kept
    converts "$work/alpha.bmp" "200 100 50" 0                # 32 bits with alpha
    converts "$work/rgb565.bmp" "200 100 50" 4               # 16 bits, 5-6-5
    converts "$work/tiled.tif" "200 100 50" 0                # tiles, partial at the edges
    converts "$work/deflate.tif" "200 100 50" 0
    converts "$work/jpeg.tif" "200 100 50" 2                 # JPEG inside TIFF
    converts "$work/planar.tif" "200 100 50" 0               # one plane per channel
    converts "$work/cmyk.tif" "200 100 50" 0
    converts "$work/float.tif" "200 100 50" 1                # 32-bit float channels
    converts "$work/png-named.jpg" "200 100 50" 0            # misnamed: the content decides
    converts "$work/png16-named.tif" "200 100 50" 0
    converts "$work/jpeg-named.png" "200 100 50" 2
}
