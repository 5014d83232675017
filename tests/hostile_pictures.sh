# Sourced by the bad-input tests of the command line (tests/bad_input_test.sh on Linux,
# tests/windows/bad_input_wine_test.sh under Wine): the hostile and unusual pictures, the
# rows of the tables that hold on every platform, and the checks behind each row.
#
# The sourcing script sets `work` (an empty folder of its own) and defines
#   run ARGS...   runs the command line with ARGS (file arguments as absolute paths below
#                 $work) into the fresh, empty folder $work/out, and sets `status` (the exit
#                 status), `peak_kb` (peak resident memory in KiB), `seconds` (the time it
#                 took) and $work/stderr (with plain "\n" line ends);
# and may redefine known_gap and known_decoder_fault (below). Needs ImageMagick's convert,
# gzip and GNU time; the rows of the Linux readers also Python 3 and avifenc.

passed=0
failed=0
skipped=0

# A texture of --size 64 is 18 + 3 × 64 × 64 bytes.
texture_bytes=12306
# Peak resident memory a refused picture, or a small one converted, may cost, in KiB:
# OpenImageIO alone takes about 140 MB, a bomb that was decoded would take gigabytes.
memory_ceiling_kb=${ORBILUNE_MEMORY_CEILING_KB:-700000}
# A run that takes longer than this, in seconds, has hung.
run_timeout=${ORBILUNE_RUN_TIMEOUT:-120}
# Seconds a refused picture may take to be refused.
time_ceiling=${ORBILUNE_TIME_CEILING:-20}

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

# measured COMMAND...: runs COMMAND with the time limit and sets `status`, `peak_kb` and
# `seconds` (whole seconds, rounded down). GNU time reports the largest of the process tree,
# so the limit's own process does not hide the command's peak. Standard output and error go
# to $work/stdout and $work/stderr.
measured() {
    /usr/bin/time -o "$work/time" -f '%M %e' timeout -k 10 "$run_timeout" "$@" \
        >"$work/stdout" 2>"$work/stderr"
    status=$?
    read -r peak_kb seconds <<<"$(tail -1 "$work/time")"
    seconds=${seconds%.*}
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
# one of the messages, exit status 1 (not a crash or a time-out), no files, little memory,
# in little time.
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
    elif [ "$seconds" -ge "$time_ceiling" ]; then
        fail "$name: refused after $seconds s"
    else
        passed=$((passed + 1))
    fi
}

# The options of every conversion below beside the size, and the suffix of the textures it
# writes: none, and TGA, unless a table says otherwise.
texture_options=()
texture_suffix=tga

# converted FILE: converts FILE at N = 64 into $work/out, within the memory a refusal may
# take; false (the row settled: a known gap refused, or a failure counted) unless that went
# well.
converted() {
    local name=${1#"$work"/}
    if [ -n "$(known_gap "${name##*/}")" ]; then
        refused "$1" "$cannot_open"
        return 1
    fi
    run --size 64 "${texture_options[@]}" "$1" "$work/out"
    if [ "$status" != 0 ]; then
        fail "$name: exit status $status"
        return 1
    elif [ "$peak_kb" -gt "$memory_ceiling_kb" ]; then
        fail "$name: peak memory $peak_kb KiB"
        return 1
    fi
}

# converts FILE "R G B" TOLERANCE: one row of the table of valid pictures: ten textures whose
# first texel (every texel: the pictures are of one colour) is within TOLERANCE of R G B.
converts() {
    local file=$1 expected=($2) tolerance=$3 i
    local name=${file#"$work"/}
    converted "$file" || return 0
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

# python_picture KIND ARGUMENTS...: files whose bytes want zlib or CRCs (Python's standard
# library writes them):
#   tiff-strips PPM FILE whole|more|short|cut: the binary PPM's picture as a deflate TIFF in
#       strips of two rows, its directory first; the second strip's data holds its rows and
#       3000 bytes more (more), stops 20 bytes before its rows end (short), or is cut to half
#       its compressed bytes (cut);
#   tiff-tiles PPM FILE whole|short: likewise in deflate tiles of 16 × 16 with the horizontal
#       predictor, the first tile's data stopping 20 bytes short;
#   tiff-two-pages PPM FILE: the picture as an uncompressed TIFF, then a second page that
#       declares 60000 × 60000 pixels and holds none;
#   apng-canvas FILE: an animated PNG whose canvas (its header) is 16383 × 16383, over frames
#       of one pixel and image data of one row;
#   deep-samples FOLDER: the pictures of make_deep_pictures that ImageMagick cannot write.
python_picture() {
    python3 - "$@" <<'PYTHON'
import struct, sys, zlib

kind, args = sys.argv[1], sys.argv[2:]

def ppm(path):
    data = open(path, 'rb').read()
    fields, at = [], 2
    while len(fields) < 3:
        while data[at] in b' \t\r\n':
            at += 1
        end = at
        while data[end] not in b' \t\r\n':
            end += 1
        fields.append(int(data[at:end]))
        at = end
    return fields[0], fields[1], data[at + 1:]

def tiff(pages):
    # pages: (tags, blocks), tags a list of (tag, type, values) where values None stands for
    # the blocks' offsets; each page's directory, its long values and its blocks in turn.
    out, at, patches = bytearray(b'II*\0\0\0\0\0'), 4, []
    for tags, blocks in pages:
        struct.pack_into('<I', out, at, len(out))
        directory = len(out)
        out += b'\0' * (2 + 12 * len(tags) + 4)
        struct.pack_into('<H', out, directory, len(tags))
        offsets_at = None
        for i, (tag, kind_, values) in enumerate(sorted(tags, key=lambda t: t[0])):
            entry = directory + 2 + 12 * i
            count = len(blocks) if values is None else len(values)
            packed = b''.join(struct.pack('<H' if kind_ == 3 else '<I', v) for v in (values or [0] * count))
            struct.pack_into('<HHI', out, entry, tag, kind_, count)
            if len(packed) <= 4:
                out[entry + 8:entry + 8 + len(packed)] = packed
                place = entry + 8
            else:
                struct.pack_into('<I', out, entry + 8, len(out))
                place = len(out)
                out += packed
            if values is None:
                offsets_at = place
        at = directory + 2 + 12 * len(tags)
        for i, block in enumerate(blocks):
            struct.pack_into('<I', out, offsets_at + 4 * i, len(out))
            out += block
    return bytes(out)

def rgb_tags(width, height, compression, extra):
    return [(256, 4, [width]), (257, 4, [height]), (258, 3, [8, 8, 8]), (259, 3, [compression]),
            (262, 3, [2]), (277, 3, [3])] + extra

if kind == 'tiff-strips':
    width, height, pixels = ppm(args[0])
    row, blocks = 3 * width, []
    for number, top in enumerate(range(0, height, 2)):
        raw = pixels[top * row:min(height, top + 2) * row]
        if number == 1 and args[2] == 'more':
            raw += bytes(range(256)) * 12
        if number == 1 and args[2] == 'short':
            raw = raw[:-20]
        block = zlib.compress(raw)
        if number == 1 and args[2] == 'cut':
            block = block[:len(block) // 2]
        blocks.append(block)
    tags = rgb_tags(width, height, 8, [(273, 4, None), (278, 4, [2]), (279, 4, [len(b) for b in blocks])])
    open(args[1], 'wb').write(tiff([(tags, blocks)]))
elif kind == 'tiff-tiles':
    width, height, pixels = ppm(args[0])
    blocks = []
    for top in range(0, height, 16):
        for left in range(0, width, 16):
            tile = b''.join(pixels[(y * width + left) * 3:(y * width + min(width, left + 16)) * 3].ljust(48, b'\0')
                            if y < height else b'\0' * 48 for y in range(top, top + 16))
            # Each sample less the one to its left, row by row.
            tile = bytes((tile[i] - (tile[i - 3] if i % 48 >= 3 else 0)) & 255 for i in range(len(tile)))
            if not blocks and args[2] == 'short':
                tile = tile[:-20]
            blocks.append(zlib.compress(tile))
    tags = rgb_tags(width, height, 8, [(317, 3, [2]), (322, 4, [16]), (323, 4, [16]), (324, 4, None),
                                       (325, 4, [len(b) for b in blocks])])
    open(args[1], 'wb').write(tiff([(tags, blocks)]))
elif kind == 'tiff-two-pages':
    width, height, pixels = ppm(args[0])
    first = rgb_tags(width, height, 1, [(273, 4, None), (278, 4, [height]), (279, 4, [len(pixels)])])
    second = rgb_tags(60000, 60000, 1, [(273, 4, None), (278, 4, [60000]), (279, 4, [16])])
    open(args[1], 'wb').write(tiff([(first, [pixels]), (second, [b'\0' * 16])]))
elif kind == 'apng-canvas':
    def chunk(name, data):
        return struct.pack('>I', len(data)) + name + data + struct.pack('>I', zlib.crc32(name + data))
    side = 16383
    frame = struct.pack('>IIIIIHHBB', 0, 1, 1, 0, 0, 1, 10, 0, 0)
    open(args[0], 'wb').write(
        b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0)) +
        chunk(b'acTL', struct.pack('>II', 2, 0)) + chunk(b'fcTL', frame) +
        chunk(b'IDAT', zlib.compress(b'\0' + b'\x80' * 3 * side)) +
        chunk(b'fcTL', struct.pack('>I', 2) + frame[4:]) +
        chunk(b'fdAT', struct.pack('>I', 3) + zlib.compress(b'\0\x10\x20\x30')) + chunk(b'IEND', b''))
elif kind == 'deep-samples':
    width, height = 13, 7
    count = width * height
    def write(name, data):
        open(args[0] + '/' + name, 'wb').write(data)
    def chunk(name, data):
        return struct.pack('>I', len(data)) + name + data + struct.pack('>I', zlib.crc32(name + data))
    def png(name, colour, depth, channels, samples):
        row = width * channels
        code = '>%d%s' % (row, 'H' if depth == 16 else 'B')
        rows = b''.join(b'\0' + struct.pack(code, *samples[y * row:(y + 1) * row]) for y in range(height))
        header = struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, 0)
        write(name, b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows)) +
              chunk(b'IEND', b''))
    def fits(name, bits, planes, samples):  # each plane's bottom row first
        axes = [width, height] + ([planes] if planes > 1 else [])
        cards = ['SIMPLE  = %20s' % 'T', 'BITPIX  = %20d' % bits, 'NAXIS   = %20d' % len(axes)]
        cards += ['NAXIS%d  = %20d' % (i + 1, length) for i, length in enumerate(axes)]
        header = ''.join(card.ljust(80) for card in cards + ['END']).encode()
        code = {16: 'h', 32: 'i', -32: 'f', -64: 'd'}[bits]
        data = b''.join(struct.pack('>%d%s' % (width, code), *samples[y * width * planes + p::planes][:width])
                        for p in range(planes) for y in reversed(range(height)))
        write(name, header.ljust(2880, b' ') + data.ljust(-(-len(data) // 2880) * 2880, b'\0'))
    def tiff_of(name, bits, sample_format, code, channels, samples):
        raw = struct.pack('<%d%s' % (len(samples), code), *samples)
        tags = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * channels), (259, 3, [1]),
                (262, 3, [2 if channels == 3 else 1]), (273, 4, None), (277, 3, [channels]),
                (278, 4, [height]), (279, 4, [len(raw)]), (339, 3, [sample_format] * channels)]
        write(name, tiff([(tags, [raw])]))
    def exr(name, channels, half, samples):  # uncompressed scan lines, channels stored by name
        def attribute(name, kind, data):
            return name.encode() + b'\0' + kind.encode() + b'\0' + struct.pack('<I', len(data)) + data
        order = sorted(range(len(channels)), key=lambda c: channels[c])
        box = struct.pack('<4i', 0, 0, width - 1, height - 1)
        listed = b''.join(channels[c].encode() + b'\0' + struct.pack('<iB3xii', 1 if half else 2, 0, 1, 1)
                          for c in order)
        header = (b'v/1\x01' + struct.pack('<I', 2) + attribute('channels', 'chlist', listed + b'\0') +
                  attribute('compression', 'compression', b'\0') + attribute('dataWindow', 'box2i', box) +
                  attribute('displayWindow', 'box2i', box) + attribute('lineOrder', 'lineOrder', b'\0') +
                  attribute('pixelAspectRatio', 'float', struct.pack('<f', 1)) +
                  attribute('screenWindowCenter', 'v2f', struct.pack('<2f', 0, 0)) +
                  attribute('screenWindowWidth', 'float', struct.pack('<f', 1)) + b'\0')
        n = len(channels)
        code = '<%d%s' % (width, 'e' if half else 'f')
        lines = [b''.join(struct.pack(code, *samples[y * width * n + c:(y + 1) * width * n:n]) for c in order)
                 for y in range(height)]
        offsets = [len(header) + 8 * height + sum(8 + len(line) for line in lines[:y]) for y in range(height)]
        write(name, header + struct.pack('<%dQ' % height, *offsets) +
              b''.join(struct.pack('<ii', y, len(line)) + line for y, line in enumerate(lines)))
    def pfm(name, channels, samples):  # the bottom row first
        row = width * channels
        write(name, b'%s\n%d %d\n-1.0\n' % (b'PF' if channels == 3 else b'Pf', width, height) +
              b''.join(struct.pack('<%df' % row, *samples[y * row:(y + 1) * row]) for y in reversed(range(height))))
    # 16 bits: 10-bit values with their bits repeated (what a 10-bit AVIF holds), high and low
    # bytes unlike; RGBA, and RGB, grey, grey and alpha of its channels; 8 bits of their high bytes.
    tenBits = [(i * 269 + 91) % 1024 for i in range(4 * count)]
    rgba = [v << 6 | v >> 4 for v in tenBits]
    layouts = {'rgba': (6, 4, rgba), 'rgb': (2, 3, [v for i, v in enumerate(rgba) if i % 4 != 3]),
               'grey': (0, 1, rgba[0::4]), 'ga': (4, 2, [v for i, v in enumerate(rgba) if i % 4 in (0, 3)])}
    for layout, (colour, channels, samples) in layouts.items():
        png(layout + '16.png', colour, 16, channels, samples)
        png(layout + '8.png', colour, 8, channels, [v >> 8 for v in samples])
    # Signed 16 bits, heights below zero among them.
    signed = [(i * 2731 + 12345) % 65536 - 32768 for i in range(count)]
    fits('int16.fits', 16, 1, signed)
    tiff_of('int16.tif', 16, 2, 'h', 1, signed)
    # Floats: whole numbers of -2000 to 2000 (held exactly by half floats and 32-bit integers).
    heights = [(i * 467) % 4001 - 2000 for i in range(3 * count)]
    grey = heights[:count]
    fits('float.fits', -32, 1, grey)
    fits('double.fits', -64, 1, grey)
    fits('int32.fits', 32, 1, grey)
    tiff_of('float.tif', 32, 3, 'f', 1, grey)
    tiff_of('half.tif', 16, 3, 'e', 1, grey)
    tiff_of('int32.tif', 32, 2, 'i', 1, grey)
    exr('float.exr', ['Y'], False, grey)
    exr('half.exr', ['Y'], True, grey)
    pfm('float.pfm', 1, grey)
    fits('float-rgb.fits', -32, 3, heights)
    tiff_of('float-rgb.tif', 32, 3, 'f', 3, heights)
    exr('float-rgb.exr', ['R', 'G', 'B'], False, heights)
    pfm('float-rgb.pfm', 3, heights)
PYTHON
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
    # A GIF's logical screen of 16383 × 16383 around an image of 5 × 3: the reader lays out
    # the whole screen (a gigabyte), filled with nothing the file holds.
    convert -size 5x3 "xc:$colour" "$work/screen-bomb.gif"
    patch "$work/screen-bomb.gif" 6 '\xff\x3f\xff\x3f'
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
    refused "$work/bomb.tif" "${over_memory[@]}"        # 200000 × 100000
    refused "$work/tile-bomb.tif" "$cannot_open"        # reading a pixel reads its whole tile
    refused "$work/screen-bomb.gif" "$cannot_open"      # a screen the image leaves empty
    # OpenImageIO refuses pictures of over 32 GB in the file's own layout as unreadable.
    refused "$work/bomb.bmp" "${over_memory[@]}" "$cannot_open"
    # These fit in a large machine's memory, so they are refused either for their size or,
    # where the memory was reserved, for the missing data, before it was ever touched.
    for bomb in bomb-fits.png bomb16.png bomb-interlaced.png bomb.jpg bomb-fits.bmp \
                bomb-fits.tif bomb-tiled.tif wide.tif bomb.gif; do
        refused "$work/$bomb" "$too_large" "$cannot_open"
    done
}

# --- Bombs inside the decoders' own buffers -------------------------------------------------
# Files of a few bytes, or a few hundred kilobytes, that make a decoder fill or allocate a
# buffer of its own, far larger than the file, before it finds the data wanting: each is
# refused cheaply whatever the machine's memory. (Rows for the Linux readers; under Wine the
# system's own decoders meet these files.)
make_decoder_bombs() {
    # PNG: before any image data, an ancillary chunk that declares nearly 2 GiB and holds
    # nothing (the header alone is 33 bytes), in layouts that libpng once read.
    local kind
    for kind in "16 6 1" "1 0 0" "8 3 0"; do
        { png_header 70 46 $kind | head -c 33; printf "$(be32 2147483600)iCCPmap\\0\\0x"; } \
            >"$work/huge-chunk-${kind// /-}.png"
    done
    # Progressive JPEG: the scans of a small picture under a frame of 30000 × 20000, whose
    # coefficients libjpeg would hold (3.6 GB) and touch scan by scan; the same cut short;
    # and a picture of 4096 × 4096 with twenty thousand more scans of one byte each, every
    # one of which libjpeg would run over the whole picture.
    convert -size 512x256 plasma:fractal -seed 1 -quality 90 -interlace Plane "$work/progressive-small.jpg" 2>/dev/null
    local sof
    sof=$(offset_of "$work/progressive-small.jpg" '\xff\xc2')
    cp "$work/progressive-small.jpg" "$work/coefficient-bomb.jpg"
    patch "$work/coefficient-bomb.jpg" $((sof + 5)) "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' 0x4e 0x20 0x75 0x30)"
    cut_at "$work/coefficient-bomb.jpg" $(($(stat -c %s "$work/coefficient-bomb.jpg") / 2)) >"$work/coefficient-bomb-cut.jpg"
    local scan='\xff\xda\x00\x08\x01\x01\x00\x01\x01\x00\x00'
    convert -size 4096x4096 "xc:$colour" -quality 90 -interlace Plane "$work/progressive-large.jpg"
    { cut_at "$work/progressive-large.jpg" $(($(stat -c %s "$work/progressive-large.jpg") - 2))
      printf "%.0s$scan" $(seq 20000)
      printf '\xff\xd9'; } >"$work/twenty-thousand-scans.jpg"
    # BMP and TIFF: one row of 300 million pixels, which a reader would fill before anything
    # else; a BMP of runs declaring 60000 × 60000 that ends at once (its skipped pixels
    # would all have to be filled).
    cp "$work/good.bmp" "$work/row-bomb.bmp"
    patch "$work/row-bomb.bmp" 18 "$(le32 300000000)$(le32 1)"
    tiff_header 300000000 1 >"$work/row-bomb.tif"
    convert -size 16x16 "xc:$colour" -type Palette -compress RLE BMP3:"$work/rle-bomb.bmp"
    patch "$work/rle-bomb.bmp" 18 "$(le32 60000)$(le32 60000)"
    local data
    data=$(od -An -tu4 -j10 -N4 "$work/rle-bomb.bmp" | tr -d ' ')
    { cut_at "$work/rle-bomb.bmp" "$data"; printf '\x00\x01'; } >"$work/rle-bomb-ended.bmp"
    # Formats whose readers fill the whole picture before reading it: DDS (4.8 GB before)
    # and Cineon (converted 6 GB of nothing) declaring 40000 × 40000.
    convert -size 16x16 "xc:$colour" -define dds:compression=none DDS:"$work/bomb.dds"
    patch "$work/bomb.dds" 12 "$(le32 40000)$(le32 40000)"
    convert -size 16x16 "xc:$colour" "$work/bomb.cin"
    patch "$work/bomb.cin" 200 "$(be32 40000)$(be32 40000)"
    # Canvases around frames of one pixel, 16383 × 16383: an animated WebP of 176 bytes and
    # an animated PNG whose data holds one row.
    convert -size 1x1 xc:red -size 1x1 xc:blue -define webp:lossless=true "$work/canvas-bomb.webp"
    patch "$work/canvas-bomb.webp" 24 '\xfe\x3f\x00\xfe\x3f\x00'
    python_picture apng-canvas "$work/canvas-bomb.png"
    # DPX and Cineon headers whose user data says 2 GB: the readers allocated it and copied
    # it into the metadata as the file opened (a fuzzed 3 KB DPX cost 1.7 GB).
    convert -size 16x16 "xc:$colour" "$work/user-data-bomb.dpx"
    patch "$work/user-data-bomb.dpx" 32 "$(be32 2000000000)"
    convert -size 16x16 "xc:$colour" "$work/user-data-bomb.cin"
    patch "$work/user-data-bomb.cin" 16 "$(be32 2000000000)"
}

decoder_bomb_rows() {
    refused "$work/huge-chunk-16-6-1.png" "$cannot_open"  # 16-bit RGBA, interlaced
    refused "$work/huge-chunk-1-0-0.png" "$cannot_open"   # 1-bit grey
    refused "$work/huge-chunk-8-3-0.png" "$cannot_open"   # palette: its PLTE never comes
    refused "$work/coefficient-bomb.jpg" "$cannot_open"
    refused "$work/coefficient-bomb-cut.jpg" "$cannot_open"
    refused "$work/twenty-thousand-scans.jpg" "$cannot_open"
    refused "$work/row-bomb.bmp" "$cannot_open"
    refused "$work/row-bomb.tif" "$cannot_open"
    refused "$work/rle-bomb-ended.bmp" "$cannot_open"
    refused "$work/bomb.dds" "$cannot_open"
    refused "$work/bomb.cin" "$cannot_open"
    refused "$work/canvas-bomb.webp" "$cannot_open"
    refused "$work/canvas-bomb.png" "$cannot_open"
    refused "$work/user-data-bomb.dpx" "$cannot_open"
    refused "$work/user-data-bomb.cin" "$cannot_open"
}

# --- Faults inside the readers ---------------------------------------------------------------
# Pictures that once crashed a reader, had it stop short of the picture and report success
# (rows never decoded written as black), or keep it busy for a minute on a file that is no
# picture. (Rows for the Linux readers.)
make_reader_faults() {
    # HEIF and AVIF whose primary item declares 30000 × 30000 over a picture of 64 × 64: the
    # reader copied 30000 rows out of the small picture and crashed.
    local format
    for format in heic avif; do
        convert -size 64x64 "xc:$colour" "$work/declared-larger.$format"
        patch "$work/declared-larger.$format" $(($(offset_of "$work/declared-larger.$format" ispe) + 8)) \
            "$(be32 30000)$(be32 30000)"
    done
    # An icon whose PNG libpng cannot open (a header, then its end): the reader divided by
    # the channels it never got. Bitmap icons on which it writes past the picture (a mask of
    # 13 bits a row, below 32 bits a pixel) or reads past its palette (the directory's 2
    # colours for 8-bit indices).
    png_header 60000 60000 8 6 >"$work/icon-of-a-broken.png"
    { printf "\\x00\\x00\\x01\\x00\\x01\\x00\\x10\\x10\\x00\\x00$(le16 1)$(le16 32)$(le32 "$(stat -c %s "$work/icon-of-a-broken.png")")$(le32 22)"
      cat "$work/icon-of-a-broken.png"; } >"$work/icon-of-a-broken-png.ico"
    ico_layout "$work/icon-odd-mask.ico" 24
    ico_layout "$work/icon-short-palette.ico" 8 2
    # TIFF whose deflate data stops short of the rows its strip or tile declares, or is cut.
    convert -size 48x32 plasma:fractal -seed 1 -depth 8 PPM:"$work/plasma.ppm" 2>/dev/null
    python_picture tiff-strips "$work/plasma.ppm" "$work/strip-short.tif" short
    python_picture tiff-strips "$work/plasma.ppm" "$work/strip-cut.tif" cut
    python_picture tiff-tiles "$work/plasma.ppm" "$work/tile-short.tif" short
    # A gigabyte of nothing (a sparse file) named for formats known by name alone, or for
    # formats never read: each reader of those names took up to 70 s on it, or (an MPEG-4
    # stream) 2 GB, or (OpenImageIO's "null" pictures) converted it.
    local name
    for name in dicom.dcm movie.m4v maya.iff maya.z volume.vdb null.null targa.tga rla.rla camera.cr2; do
        truncate -s 1G "$work/nothing-$name"
    done
}

reader_fault_rows() {
    refused "$work/declared-larger.heic" "$cannot_open"
    refused "$work/declared-larger.avif" "$cannot_open"
    refused "$work/icon-of-a-broken-png.ico" "$cannot_open"
    refused "$work/icon-odd-mask.ico" "$cannot_open"
    refused "$work/icon-short-palette.ico" "$cannot_open"
    refused "$work/strip-short.tif" "$cannot_open"
    refused "$work/strip-cut.tif" "$cannot_open"
    refused "$work/tile-short.tif" "$cannot_open"
    local file
    for file in "$work"/nothing-*; do
        refused "$file" "$cannot_open"
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

# --- One picture in many layouts -------------------------------------------------------------
# A picture of the eight colours whose channels are 0 or 255 (so that every layout holds it
# exactly, fields of 4 or 5 bits and samples of 16 included), laid out so that left differs
# from right and top from bottom, as a plain 8-bit PNG and in many other layouts, some
# misnamed or without a name's extension: each must give the plain PNG's ten textures byte
# for byte. Channel orders, masks, row orders, palettes and compressions show in the colours.
layout_width=13
layout_height=7
# layout_index X Y: which colour is at X, Y: bit 0 red, bit 1 green, bit 2 blue.
layout_index() { echo $((($1 + 3 * $2) % 8)); }
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
byte_count() { printf "$1" | wc -c; }

# bmp_layout FILE HEADER-SIZE BITS COMPRESSION ROWS [RED GREEN BLUE [ALPHA] MASKS]: the
# picture as a BMP written here, byte by byte: a header of 12 (OS/2), 40 (INFO), 108 (V4)
# or 124 (V5) bytes; 4, 8, 16, 24 or 32 bits; compression 0 (none), 1 (RLE8), 2 (RLE4), 3
# (masks) or 6 (masks with alpha); ROWS bottom-up or top-down. A V4 or V5 header carries
# the masks given even where the compression says to ignore them.
bmp_layout() {
    local file=$1 header=$2 bits=$3 compression=$4 rows=$5
    shift 5
    local masks=("$@") w=$layout_width h=$layout_height
    local palette='' data='' r x y i value row count
    [ ${#masks[@]} = 0 ] && masks=(0 0 0)
    [ ${#masks[@]} = 3 ] && masks+=(0)
    if [ "$bits" -le 8 ]; then
        for ((i = 0; i < 8; i++)); do
            palette+=$(printf '\\x%02x\\x%02x\\x%02x' $((i >> 2 & 1 ? 255 : 0)) $((i >> 1 & 1 ? 255 : 0)) $((i & 1 ? 255 : 0)))
            [ "$header" != 12 ] && palette+='\x00'
        done
    fi
    for ((r = 0; r < h; r++)); do
        y=$([ "$rows" = top-down ] && echo $r || echo $((h - 1 - r)))
        local indices=()
        for ((x = 0; x < w; x++)); do indices+=("$(layout_index $x $y)"); done
        row=''
        case $compression in
        1 | 2)  # the first pixel as a run, the rest as they are, then the end of the line
            count=$((w - 1))
            if [ "$compression" = 1 ]; then
                row+=$(printf '\\x01\\x%02x\\x00\\x%02x' "${indices[0]}" "$count")
                for ((x = 1; x < w; x++)); do row+=$(printf '\\x%02x' "${indices[x]}"); done
                [ $((count % 2)) = 1 ] && row+='\x00'
            else
                row+=$(printf '\\x01\\x%02x\\x00\\x%02x' $((indices[0] << 4)) "$count")
                for ((x = 1; x < w; x += 2)); do row+=$(printf '\\x%02x' $((indices[x] << 4 | ${indices[x + 1]:-0}))); done
                [ $(((count + 1) / 2 % 2)) = 1 ] && row+='\x00'
            fi
            row+='\x00\x00'
            ;;
        *)
            case $bits in
            4) for ((x = 0; x < w; x += 2)); do row+=$(printf '\\x%02x' $((indices[x] << 4 | ${indices[x + 1]:-0}))); done ;;
            8) for ((x = 0; x < w; x++)); do row+=$(printf '\\x%02x' "${indices[x]}"); done ;;
            24)
                for ((x = 0; x < w; x++)); do
                    i=${indices[x]}
                    row+=$(printf '\\x%02x\\x%02x\\x%02x' $((i >> 2 & 1 ? 255 : 0)) $((i >> 1 & 1 ? 255 : 0)) $((i & 1 ? 255 : 0)))
                done
                ;;
            16 | 32)
                local red=${masks[0]} green=${masks[1]} blue=${masks[2]}
                if [ "$compression" = 0 ]; then  # the default masks
                    red=$([ "$bits" = 16 ] && echo 0x7C00 || echo 0xFF0000)
                    green=$([ "$bits" = 16 ] && echo 0x3E0 || echo 0xFF00)
                    blue=$([ "$bits" = 16 ] && echo 0x1F || echo 0xFF)
                fi
                for ((x = 0; x < w; x++)); do
                    i=${indices[x]}
                    value=$(((i & 1 ? red : 0) | (i >> 1 & 1 ? green : 0) | (i >> 2 & 1 ? blue : 0) | masks[3]))
                    row+=$([ "$bits" = 16 ] && le16 "$value" || le32 "$value")
                done
                ;;
            esac
            while [ $(($(byte_count "$row") % 4)) != 0 ]; do row+='\x00'; done
            ;;
        esac
        data+=$row
    done
    [ "$compression" = 1 ] || [ "$compression" = 2 ] && data+='\x00\x01'
    local info
    if [ "$header" = 12 ]; then
        info=$(le32 12)$(le16 "$w")$(le16 "$h")$(le16 1)$(le16 "$bits")
    else
        info=$(le32 "$header")$(le32 "$w")$(le32 "$([ "$rows" = top-down ] && echo $((-h)) || echo "$h")")
        info+=$(le16 1)$(le16 "$bits")$(le32 "$compression")$(le32 "$(byte_count "$data")")$(le32 2835)$(le32 2835)
        info+=$(le32 "$([ "$bits" -le 8 ] && echo 8 || echo 0)")$(le32 0)
        if [ "$header" = 40 ]; then
            [ "$compression" = 3 ] && info+=$(le32 "${masks[0]}")$(le32 "${masks[1]}")$(le32 "${masks[2]}")
            [ "$compression" = 6 ] && info+=$(le32 "${masks[0]}")$(le32 "${masks[1]}")$(le32 "${masks[2]}")$(le32 "${masks[3]}")
        else
            info+=$(le32 "${masks[0]}")$(le32 "${masks[1]}")$(le32 "${masks[2]}")$(le32 "${masks[3]}")
            info+=$(le32 0x73524742)$(printf '\\x00%.0s' {1..48})  # sRGB, no end points or gamma
            [ "$header" = 124 ] && info+=$(le32 4)$(le32 0)$(le32 0)$(le32 0)
        fi
    fi
    local offset=$((14 + $(byte_count "$info$palette")))
    printf "BM$(le32 $((offset + $(byte_count "$data"))))\\x00\\x00\\x00\\x00$(le32 $offset)$info$palette$data" >"$file"
}

# ico_layout FILE [BITS [COLOURS]]: the picture as an icon: a BMP of 32 bits (opaque), 24 or
# 8 (a palette of its 8 colours) without its file header, its height doubled for the mask of
# transparency that follows it; the directory counts COLOURS colours (0: none said).
ico_layout() {
    local bits=${2:-32} colours=${3:-0}
    bmp_layout "$work/icon.bmp" 40 "$bits" 0 bottom-up 0 0 0 0xFF000000
    local dib_bytes=$(($(stat -c %s "$work/icon.bmp") - 14)) mask_bytes=$((layout_height * 4))
    {
        printf "\\x00\\x00\\x01\\x00\\x01\\x00$(printf '\\x%02x\\x%02x' "$layout_width" "$layout_height")"
        printf "\\x$(printf %02x "$colours")\\x00$(le16 1)$(le16 "$bits")$(le32 $((dib_bytes + mask_bytes)))$(le32 22)"
        tail -c +15 "$work/icon.bmp" | head -c 8  # the header's size and the width
        printf "$(le32 $((2 * layout_height)))"
        tail -c +27 "$work/icon.bmp"
        head -c "$mask_bytes" /dev/zero
    } >"$1"
}

# softimage_layout FILE runs|literals: the layout picture as a Softimage PIC of one packet of
# red, green and blue, each row coded as a run of one (a 16-bit count) per pixel, or as one
# packet of literal pixels.
softimage_layout() {
    local y x pixels=$work/layouts/p6.ppm row_bytes=$((3 * layout_width))
    {
        printf '\x53\x80\xf6\x34\x40\x6d\x70\xa4'  # the signature and a version
        head -c 80 /dev/zero                       # no comment
        printf "PICT\\x00\\x$(printf %02x "$layout_width")\\x00\\x$(printf %02x "$layout_height")"
        printf '\x3f\x80\x00\x00\x00\x03\x00\x00\x00\x08\x02\xe0'  # aspect 1, full frames, the packet
        for ((y = 0; y < layout_height; y++)); do
            if [ "$2" = literals ]; then
                printf "\\x$(printf %02x $((layout_width - 1)))"
                tail -c +13 "$pixels" | head -c $(((y + 1) * row_bytes)) | tail -c "$row_bytes"
            else
                for ((x = 0; x < layout_width; x++)); do
                    printf '\x80\x00\x01'
                    tail -c +13 "$pixels" | head -c $((y * row_bytes + 3 * x + 3)) | tail -c 3
                done
            fi
        done
    } >"$1"
}

# make_layout_pictures: the plain PNG, its ten textures, and the picture in every layout.
make_layout_pictures() {
    local x y i ppm
    mkdir -p "$work/layouts"
    ppm="P6\\n$layout_width $layout_height\\n255\\n"
    for ((y = 0; y < layout_height; y++)); do
        for ((x = 0; x < layout_width; x++)); do
            i=$(layout_index $x $y)
            ppm+=$(printf '\\x%02x\\x%02x\\x%02x' $((i & 1 ? 255 : 0)) $((i >> 1 & 1 ? 255 : 0)) $((i >> 2 & 1 ? 255 : 0)))
        done
    done
    printf "$ppm" >"$work/layouts/p6.ppm"
    local from=$work/layouts/p6.ppm to=$work/layouts
    convert "$from" -depth 8 PNG24:"$work/plain.png"
    # PNG
    convert "$from" PNG8:"$to/palette.png"
    convert "$from" -depth 16 PNG48:"$to/rgb16.png"
    convert "$from" -depth 8 -alpha on PNG32:"$to/rgba.png"
    convert "$from" -depth 16 -alpha on -interlace PNG PNG64:"$to/rgba16-interlaced.png"
    # BMP written by ImageMagick
    convert "$from" BMP3:"$to/im-24.bmp"
    convert "$from" -type Palette BMP3:"$to/im-palette.bmp"
    convert "$from" -type Palette -compress RLE BMP3:"$to/im-rle8.bmp"
    convert "$from" -alpha on -define bmp:format=bmp4 BMP:"$to/im-v4-32.bmp"
    convert "$from" -define bmp:subtype=RGB565 BMP:"$to/im-565.bmp"
    convert "$from" -define bmp:subtype=RGB555 BMP:"$to/im-555.bmp"
    convert "$from" -alpha on -define bmp:subtype=ARGB4444 BMP:"$to/im-4444.bmp"
    convert "$from" BMP2:"$to/im-os2.bmp"
    # BMP written here: every header, row order, mask order and compression
    bmp_layout "$to/os2-24.bmp" 12 24 0 bottom-up
    bmp_layout "$to/os2-8.bmp" 12 8 0 bottom-up
    bmp_layout "$to/info-24-top-down.bmp" 40 24 0 top-down
    bmp_layout "$to/info-32.bmp" 40 32 0 bottom-up
    bmp_layout "$to/info-32-red-low.bmp" 40 32 3 bottom-up 0xFF 0xFF00 0xFF0000
    bmp_layout "$to/info-32-alpha-masks.bmp" 40 32 6 top-down 0xFF00 0xFF0000 0xFF000000 0xFF
    bmp_layout "$to/v4-32-masks.bmp" 108 32 3 top-down 0xFF000000 0xFF 0xFF00 0xFF0000
    bmp_layout "$to/v4-32-10-bit.bmp" 108 32 3 bottom-up 0x3FF00000 0xFFC00 0x3FF 0xC0000000
    bmp_layout "$to/v5-32-red-low.bmp" 124 32 3 bottom-up 0xFF 0xFF00 0xFF0000 0xFF000000
    bmp_layout "$to/v5-32-masks-ignored.bmp" 124 32 0 bottom-up 0xFF 0xFF00 0xFF0000 0xFF000000
    bmp_layout "$to/info-16-555.bmp" 40 16 0 bottom-up
    bmp_layout "$to/info-16-565.bmp" 40 16 3 bottom-up 0xF800 0x7E0 0x1F
    bmp_layout "$to/info-16-565-blue-high.bmp" 40 16 3 top-down 0x1F 0x7E0 0xF800
    bmp_layout "$to/v4-16-4444.bmp" 108 16 3 bottom-up 0xF00 0xF0 0xF 0xF000
    bmp_layout "$to/v5-16-1555.bmp" 124 16 3 bottom-up 0x7C00 0x3E0 0x1F 0x8000
    bmp_layout "$to/info-8.bmp" 40 8 0 bottom-up
    bmp_layout "$to/info-4-top-down.bmp" 40 4 0 top-down
    bmp_layout "$to/info-rle8.bmp" 40 8 1 bottom-up
    bmp_layout "$to/info-rle4.bmp" 40 4 2 bottom-up
    # TIFF: compressions, layouts, palettes and extra samples (alpha in any of its meanings)
    convert "$from" -depth 8 "$to/rgb.tif"
    convert "$from" -depth 16 -endian MSB "$to/rgb16-big-endian.tif"
    convert "$from" -depth 8 -compress LZW "$to/lzw.tif"
    convert "$from" -depth 8 -compress Zip "$to/deflate.tif"
    convert "$from" -depth 8 -compress RLE "$to/packbits.tif"
    convert "$from" -depth 8 -interlace Plane "$to/planar.tif"
    convert "$from" -depth 8 -define tiff:tile-geometry=16x16 "$to/tiled.tif"
    convert "$from" -type Palette "$to/palette.tif"
    convert "$from" -depth 8 -alpha on -define tiff:alpha=unassociated "$to/alpha-unassociated.tif"
    convert "$from" -depth 8 -alpha on -define tiff:alpha=associated "$to/alpha-associated.tif"
    convert "$from" -depth 8 -alpha on -define tiff:alpha=unspecified "$to/alpha-unassigned.tif"
    convert "$from" -depth 16 -alpha on -interlace Plane "$to/alpha16-planar.tif"
    convert "$from" -depth 32 -define quantum:format=floating-point "$to/float.tif" 2>/dev/null
    # TIFF written here: a deflate strip that holds its rows and more (read whole, as
    # libtiff's tools read it), deflate tiles with the predictor, and a second page that
    # declares 60000 × 60000 and holds nothing (only the first page is read). An
    # Orientation tag (row 0 at the bottom, column 0 at the right) is not applied: every
    # picture is used as stored.
    python_picture tiff-strips "$from" "$to/strip-holding-more.tif" more
    python_picture tiff-tiles "$from" "$to/tiles-predictor.tif" whole
    python_picture tiff-two-pages "$from" "$to/second-page-huge.tif"
    convert "$from" -depth 8 -orient BottomRight "$to/orientation-tag.tif"
    # Other formats
    convert "$from" "$to/palette.gif"
    convert "$from" -compress none PPM:"$to/p3.ppm"
    convert "$from" -depth 16 PPM:"$to/p6-16.ppm"
    convert "$from" PFM:"$to/float.pfm"
    # Targa from every origin (ImageMagick writes the rows top first and marks the origin by
    # the picture's orientation: each is turned to match), plain and run-length coded, with
    # and without the version-2 footer; top-left without a footer is what Orbilune writes.
    convert "$from" -orient TopLeft TGA:"$to/top-left.tga"
    convert "$from" -flip -orient BottomLeft TGA:"$to/bottom-left.tga"
    convert "$from" -flop -orient TopRight TGA:"$to/top-right.tga"
    convert "$from" -flip -flop -orient BottomRight TGA:"$to/bottom-right.tga"
    convert "$from" -orient TopLeft -compress RLE TGA:"$to/top-left-rle.tga"
    convert "$from" -flip -orient BottomLeft -compress RLE TGA:"$to/bottom-left-rle.tga"
    local origin
    for origin in top-left bottom-left top-left-rle bottom-left-rle; do
        { cat "$to/$origin.tga"; printf '\0\0\0\0\0\0\0\0TRUEVISION-XFILE.\0'; } >"$to/$origin-footer.tga"
    done
    # WebP: lossless; half transparent (the colours as stored, never multiplied by the
    # alpha); an animation whose first frame is the picture; bytes after the file's end.
    convert "$from" -define webp:lossless=true WEBP:"$to/lossless.webp"
    convert "$from" -alpha set -channel A -evaluate set 50% +channel -define webp:lossless=true \
        WEBP:"$to/half-transparent.webp"
    convert "$from" \( "$from" -flip \) -define webp:lossless=true WEBP:"$to/animated.webp"
    { cat "$to/lossless.webp"; head -c 1000 /dev/zero; } >"$to/bytes-after-the-end.webp"
    # AVIF, lossless: plain; rotated and mirrored by the file's properties, which are not
    # applied (every picture is used as stored); an animation whose still picture is the
    # picture, its track declaring 16383 × 16383 (only the still picture is read).
    avifenc -l "$work/plain.png" "$to/lossless.avif" >/dev/null
    avifenc -l --irot 1 "$work/plain.png" "$to/rotated.avif" >/dev/null
    avifenc -l --imir 0 "$work/plain.png" "$to/mirrored.avif" >/dev/null
    convert "$from" -flip "$work/flipped.png"
    avifenc -l "$work/plain.png" "$work/flipped.png" "$to/animated.avif" >/dev/null
    local track version
    track=$(offset_of "$to/animated.avif" tkhd)
    version=$(od -An -tu1 -j $((track + 4)) -N 1 "$to/animated.avif" | tr -d ' ')
    patch "$to/animated.avif" $((track + (version == 1 ? 92 : 80))) "$(be32 $((16383 << 16)))$(be32 $((16383 << 16)))"
    # FITS: colour planes of 8 and 16 bits and of floats, stored bottom row first.
    convert "$from" "$to/colour.fits"
    convert "$from" -depth 16 "$to/sixteen-bit.fits"
    convert "$from" -depth 32 -define quantum:format=floating-point "$to/float.fits"
    convert "$from" PSD:"$to/layers.psd"
    convert "$from" SGI:"$to/plain.sgi"
    convert "$from" -define dds:compression=none DDS:"$to/plain.dds"
    convert "$from" -depth 16 DPX:"$to/sixteen-bit.dpx"
    convert "$from" HDR:"$to/rgbe.hdr"
    ico_layout "$to/icon.ico"
    # An icon holding a PNG.
    { printf "\\x00\\x00\\x01\\x00\\x01\\x00$(printf '\\x%02x\\x%02x' "$layout_width" "$layout_height")"
      printf "\\x00\\x00$(le16 1)$(le16 32)$(le32 "$(stat -c %s "$to/rgba.png")")$(le32 22)"
      cat "$to/rgba.png"; } >"$to/icon-of-a-png.ico"
    # A PNG whose eXIf chunk says to turn it (orientation 6), which is not applied.
    { head -c 33 "$work/plain.png"
      printf "$(png_chunk eXIf "$exif_orientation_6")"
      tail -c +34 "$work/plain.png"; } >"$to/exif-orientation.png"
    softimage_layout "$to/runs.pic" runs
    softimage_layout "$to/literals.pic" literals
    # Misnamed, or named without an extension: the content decides.
    cp "$to/top-left-footer.tga" "$to/targa-2-named.jpg"
    cp "$to/p6.ppm" "$to/p6-named.png"
    cp "$to/p3.ppm" "$to/p3-unnamed"
    cp "$to/p6-16.ppm" "$to/p6-16-named.tif"
    cp "$to/float.pfm" "$to/pfm-unnamed"
    cp "$to/info-32-red-low.bmp" "$to/bmp-named.png"
    cp "$to/rgb16.png" "$to/png-unnamed"
    cp "$to/lzw.tif" "$to/tiff-named.bmp"
    cp "$to/palette.gif" "$to/gif-unnamed"
    cp "$to/lossless.webp" "$to/webp-named.gif"
    cp "$to/layers.psd" "$to/psd-unnamed"
    cp "$to/plain.sgi" "$to/sgi-named.tga"
    cp "$to/plain.dds" "$to/dds-unnamed"
    cp "$to/sixteen-bit.dpx" "$to/dpx-named.exr"
    cp "$to/rgbe.hdr" "$to/hdr-unnamed"
    cp "$to/icon.ico" "$to/ico-named.bmp"
    # Netpbm followed by a gigabyte of nothing (a sparse file), which the reader would hold.
    local netpbm
    for netpbm in p6.ppm float.pfm; do
        cp "$to/$netpbm" "$to/then-a-gigabyte-$netpbm"
        truncate -s +1G "$to/then-a-gigabyte-$netpbm"
    done
    run --size 64 "$work/plain.png" "$work/out"
    mkdir "$work/plain-textures"
    cp "$work/out"/new*.tga "$work/plain-textures/"
}

# same_textures FILE [REFERENCE]: one row of the table of layouts: ten textures, byte for
# byte those of the plain PNG, or of the picture REFERENCE (converted once for the rows that
# follow each other with it).
reference_converted=
same_textures() {
    local file=$1 name=${1#"$work"/} expected=$work/plain-textures whose="the plain PNG's" i
    if [ -n "${2:-}" ]; then
        expected=$work/reference-textures
        whose="those of ${2#"$work"/}"
        if [ "$reference_converted" != "$2 ${texture_options[*]}" ]; then
            rm -rf "$expected"
            run --size 64 "${texture_options[@]}" "$2" "$work/out"
            cp -r "$work/out" "$expected"
            reference_converted="$2 ${texture_options[*]}"
        fi
    fi
    converted "$file" || return 0
    for i in 1 2 3 4 5 6 7 8 9 10; do
        if ! cmp -s "$work/out/new$i.$texture_suffix" "$expected/new$i.$texture_suffix"; then
            fail "$name: new$i.$texture_suffix differs from $whose"
            return
        fi
    done
    passed=$((passed + 1))
}

# --- Orientation ---------------------------------------------------------------------------
# Every picture is used as its file stores it, as GDI+ loads it, whatever its metadata says
# of turning it (EXIF, the TIFF tag, HEIF's properties). Where the picture is lossy, it gives
# the textures of the same file without that metadata; the layouts hold the lossless ones.
# An EXIF block (big-endian TIFF) of one entry: orientation 6, turned a quarter clockwise.
exif_orientation_6='MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'

make_orientation_pictures() {
    local from=$work/layouts/p6.ppm to=$work/oriented
    mkdir -p "$to"
    convert "$from" -quality 95 "$to/plain.jpg"
    { head -c 2 "$to/plain.jpg"
      printf "\\xff\\xe1\\x00\\x22Exif\\x00\\x00$exif_orientation_6"
      tail -c +3 "$to/plain.jpg"; } >"$to/exif-orientation.jpg"
    # libtiff's RGBA interface, through which YCbCr TIFF is read, turns by the tag.
    local orientation
    for orientation in TopLeft RightTop BottomRight LeftBottom; do
        convert "$from" -compress JPEG -quality 95 -colorspace YCbCr -depth 8 -orient "$orientation" \
            "$to/ycbcr-$orientation.tif"
    done
}

orientation_rows() {
    same_textures "$work/oriented/exif-orientation.jpg" "$work/oriented/plain.jpg"
    local orientation
    for orientation in RightTop BottomRight LeftBottom; do
        same_textures "$work/oriented/ycbcr-$orientation.tif" "$work/oriented/ycbcr-TopLeft.tif"
    done
}

# Samples of 16 bits whose low byte is above the high one (0xC8FF, 0x64FF, 0x32FF): every
# reader keeps the high byte, as GDI+ does, giving 200 100 50 (rounding would give 201 101
# 51). A valid progressive JPEG of 4000 × 3000 of one colour, whose held coefficients take
# 36 MB, carries about one bit of data a block: as little as a real file can.
make_wide_sample_pictures() {
    local sixteen='#C8FF64FF32FF'
    convert -size 5x3 "xc:$sixteen" -depth 16 PNG48:"$work/high-byte.png"
    convert -size 5x3 "xc:$sixteen" -depth 16 -interlace PNG PNG48:"$work/high-byte-interlaced.png"
    convert -size 5x3 "xc:$sixteen" -depth 16 "$work/high-byte.tif"
    convert -size 5x3 "xc:$sixteen" -depth 16 -define tiff:tile-geometry=16x16 "$work/high-byte-tiled.tif"
    convert -size 5x3 "xc:$sixteen" -depth 16 PPM:"$work/high-byte.ppm"
    convert -size 5x3 "xc:$sixteen" -depth 16 PSD:"$work/high-byte.psd"
    convert -size 4000x3000 "xc:$colour" -quality 90 -interlace Plane "$work/flat-progressive.jpg"
}

wide_sample_rows() {
    local file
    for file in high-byte.png high-byte-interlaced.png high-byte.tif high-byte-tiled.tif high-byte.ppm \
                high-byte.psd; do
        converts "$work/$file" "200 100 50" 0
    done
    converts "$work/flat-progressive.jpg" "200 100 50" 2
}

# --- Samples kept at their own depth ---------------------------------------------------------
# Pictures of 16-bit, signed 16-bit and float samples, and of alpha, in many formats, converted
# into TIFF textures of their own samples (which TIFF holds all of), nearest copying samples
# exactly: each must give the textures of the reference of its samples byte for byte. The
# references: PNG files written here, read by Orbilune's PNG reader (held to libpng), for 8
# and 16 bits; FITS, by Orbilune's FITS reader, for signed 16 bits and floats (whole numbers,
# which half floats and 32-bit integers hold too).
make_deep_pictures() {
    local to=$work/deep
    mkdir -p "$to"
    python_picture deep-samples "$to"
    convert "$to/rgb16.png" -depth 16 "$to/rgb16.tif"
    convert "$to/rgb16.png" -depth 16 -endian MSB "$to/rgb16-big-endian.tif"
    convert "$to/rgb16.png" -depth 16 -compress Zip -define tiff:tile-geometry=16x16 "$to/rgb16-tiled.tif"
    convert "$to/rgb16.png" -depth 16 -compress none -interlace Plane "$to/rgb16-planar.tif"
    local format
    for format in PPM SGI DPX FITS JP2; do
        convert "$to/rgb16.png" -depth 16 "$format:$to/rgb16.${format,,}"
    done
    convert "$to/rgb16.png" -depth 16 -compress RLE PSD:"$to/rgb16.psd"  # OpenImageIO reads no zip in PSD
    avifenc -l -d 10 "$to/rgb16.png" "$to/rgb10.avif" >/dev/null 2>&1  # warns that 16 bits become 10
    for format in PGM TIFF FITS; do
        convert "$to/grey16.png" -depth 16 "$format:$to/grey16.${format,,}"
        convert "$to/grey8.png" -depth 8 "$format:$to/grey8.${format,,}"
    done
    convert "$to/ga16.png" -depth 16 -define tiff:alpha=unassociated "$to/ga16.tif"
    convert "$to/ga8.png" -depth 8 -define tiff:alpha=unassociated "$to/ga8.tif"
    convert "$to/rgba16.png" -depth 16 -define tiff:alpha=unassociated "$to/rgba16.tif"
    convert "$to/rgba16.png" -depth 16 SGI:"$to/rgba16.sgi"
    convert "$to/rgba16.png" -depth 16 DPX:"$to/rgba16.dpx"
    convert "$to/rgba8.png" -depth 8 -define tiff:alpha=unassociated "$to/rgba8.tif"
    convert "$to/rgba8.png" -orient TopLeft TGA:"$to/rgba8.tga"
    convert "$to/rgba8.png" SGI:"$to/rgba8.sgi"
    convert "$to/rgba8.png" JP2:"$to/rgba8.jp2"
    convert "$to/rgba8.png" -define bmp:format=bmp4 BMP:"$to/rgba8.bmp"
    convert "$to/rgba8.png" -define webp:lossless=true -define webp:exact=true WEBP:"$to/rgba8.webp"
    avifenc -l "$to/rgba8.png" "$to/rgba8.avif" >/dev/null
}

deep_sample_rows() {
    local row file
    texture_options=(--format tiff --channels auto --depth auto --filter nearest)
    texture_suffix=tif
    for row in \
        "rgb16.png rgb16.tif rgb16-big-endian.tif rgb16-tiled.tif rgb16-planar.tif rgb16.ppm rgb16.psd rgb16.sgi
            rgb16.dpx rgb16.fits rgb16.jp2 rgb10.avif" \
        "grey16.png grey16.pgm grey16.tiff grey16.fits" \
        "ga16.png ga16.tif" \
        "rgba16.png rgba16.tif rgba16.sgi rgba16.dpx" \
        "grey8.png grey8.pgm grey8.tiff grey8.fits" \
        "ga8.png ga8.tif" \
        "rgba8.png rgba8.tif rgba8.tga rgba8.sgi rgba8.jp2 rgba8.bmp rgba8.webp rgba8.avif" \
        "int16.fits int16.tif" \
        "float.fits double.fits int32.fits float.tif half.tif int32.tif float.exr half.exr float.pfm" \
        "float-rgb.fits float-rgb.tif float-rgb.exr float-rgb.pfm"; do
        set -- $row
        for file in "${@:2}"; do
            same_textures "$work/deep/$file" "$work/deep/$1"
        done
    done
    texture_options=()
    texture_suffix=tga
}

layout_rows() {
    local file
    for file in "$work/layouts"/*; do
        same_textures "$file"
    done
}

# The layouts again, read as their own samples (8 or 16-bit, float, with alpha) for float
# RGB textures: each must give the plain PNG's likewise.
kept_layout_rows() {
    local file
    texture_options=(--format tiff --channels rgb --depth float --filter nearest)
    texture_suffix=tif
    for file in "$work/layouts"/*; do
        same_textures "$file" "$work/plain.png"
    done
    texture_options=()
    texture_suffix=tga
}

# --- A map's own samples, as the Linux build reads them --------------------------------------
# Maps of 16-bit, signed 16-bit and float samples and of alpha, in PNG, TIFF (LZW with the
# predictor, deflate tiles in big-endian order, PackBits planes, BigTIFF, floats with the
# floating-point predictor) and OpenEXR (ZIP, float and half), 128 × 64, converted with their
# own samples (--channels auto --depth auto) into TIFF, PNG or OpenEXR textures by every
# filter. The textures of the four runs of a map and format, one after the other, hash to
# the Linux build's: held here on Linux, and on Windows, whose command line reads these maps
# through the portable readers (GDI+ reads them as 8 bits, or not at all).
make_sample_maps() {
    local to=$work/sample-maps
    mkdir -p "$to"
    python3 - "$to" <<'PYTHON'
import struct, sys, zlib

width, height = 128, 64
def png(name, colour, depth, channels, sample):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    code = '>%d%s' % (width * channels, 'H' if depth == 16 else 'B')
    rows = b''.join(b'\0' + struct.pack(code, *[sample(x, y, c) for x in range(width) for c in range(channels)])
                    for y in range(height))
    header = struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, 0)
    open(sys.argv[1] + '/' + name, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                                               chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
# Smooth ramps of every slope, and noise in the low bits (integers alone: the same everywhere).
def sixteen(x, y, c):
    ramp = (x * (311 + 97 * c) + y * (523 - 61 * c)) % 65536
    return ramp ^ ((x * 7919 + y * 104729 + c * 1299709) % 1021)
png('rgb16.png', 2, 16, 3, sixteen)
png('ga16.png', 4, 16, 2, sixteen)
png('grey16.png', 0, 16, 1, sixteen)
png('rgba8.png', 6, 8, 4, lambda x, y, c: sixteen(x, y, c) >> 8 if c < 3 else (x * 2 + y * 4) % 256)
PYTHON
    convert "$to/rgb16.png" -depth 16 -compress LZW -define tiff:predictor=2 "$to/rgb16-lzw.tif"
    convert "$to/rgb16.png" -depth 16 -compress Zip -endian MSB -define tiff:tile-geometry=32x16 "$to/rgb16-tiles.tif"
    convert "$to/rgb16.png" \( "$to/grey16.png" \) -compose CopyOpacity -composite -depth 16 -compress RLE \
        -interlace Plane -define tiff:alpha=unassociated "$to/rgba16-planes.tif"
    convert "$to/grey16.png" -depth 16 TIFF64:"$to/grey16-bigtiff.tif"
    convert "$to/grey16.png" -depth 16 -define quantum:format=signed -compress Zip "$to/int16.tif"
    convert "$to/rgb16.png" -depth 32 -define quantum:format=floating-point -compress LZW \
        -define tiff:predictor=3 "$to/float.tif"
    # OpenEXR maps of the program's own writing, float and half.
    run --size 64 --format exr --channels auto --depth auto "$to/float.tif" "$work/out"
    cp "$work/out/new3.exr" "$to/float.exr"
    run --size 64 --format exr --channels auto --depth 16 "$to/rgba8.png" "$work/out"
    cp "$work/out/new3.exr" "$to/half.exr"
}

# kept_samples MAP FORMAT HASH: one row: MAP's textures in FORMAT by every filter hash to
# HASH (the first 16 hexadecimal digits of the SHA-256 of the forty files, in order).
kept_samples() {
    local map=$1 format=$2 filter got="" suffix=$2
    [ "$format" = tiff ] && suffix=tif
    for filter in nearest bilinear area mode; do
        run --size 64 --format "$format" --channels auto --depth auto --filter "$filter" \
            "$work/sample-maps/$map" "$work/out"
        if [ "$status" != 0 ]; then
            fail "$map as $format, filter $filter: exit status $status"
            sed 's/^/    stderr: /' "$work/stderr" | tail -5
            return
        fi
        got+=$(cat "$work/out"/new{1,2,3,4,5,6,7,8,9,10}."$suffix" | sha256sum | cut -c1-16)
    done
    got=$(printf '%s' "$got" | sha256sum | cut -c1-16)
    if [ "$got" != "$3" ]; then
        fail "$map as $format: textures hash to $got, not the Linux build's $3"
    else
        passed=$((passed + 1))
    fi
}

kept_sample_rows() {
    kept_samples rgb16.png png 2512d8b735452888
    kept_samples rgb16.png tiff f138983eb76d95b1
    kept_samples rgb16.png exr 1a344b088e460f50
    kept_samples rgba8.png png 1830be214fb9377d
    kept_samples rgba8.png tiff 3e885eba0ea70cde
    kept_samples rgba8.png exr ceb0ec0185a292b3
    kept_samples ga16.png png 83784eb50e3b8fc1
    kept_samples ga16.png tiff b93b7ef0b20e249c
    kept_samples rgb16-lzw.tif tiff f138983eb76d95b1
    kept_samples rgb16-lzw.tif png 2512d8b735452888
    kept_samples rgb16-tiles.tif tiff f138983eb76d95b1
    kept_samples rgb16-tiles.tif exr 1a344b088e460f50
    kept_samples rgba16-planes.tif tiff 480dd07be546565a
    kept_samples grey16-bigtiff.tif tiff e220755a92c98dd6
    kept_samples grey16-bigtiff.tif png e35396dfba6a3955
    kept_samples int16.tif tiff 6fbd4dc09e534cbb
    kept_samples int16.tif exr d0f0134e18f8bc69
    kept_samples float.tif tiff 0259ffd2d450f206
    kept_samples float.tif exr 5cf6734f9903326e
    kept_samples float.exr exr fe5058d581b84198
    kept_samples float.exr tiff 5233e495bf161a70
    kept_samples half.exr exr 87765824ebcbf776
}

# The broken TIFF pictures and bombs again, read as their own samples (by the portable TIFF
# reader on every platform): each refused alike, named apart from the rows above (the
# platform's own decoder, which a row may skip, never sees them).
kept_sample_refusal_rows() {
    local to=$work/kept-refused name bomb
    mkdir -p "$to"
    for name in empty cut header garbage bomb bomb-fits wide bomb-tiled tile-bomb; do
        cp "$work/$name.tif" "$to/kept-$name.tif"
    done
    tiff_header 300000000 1 >"$to/kept-row-bomb.tif"
    convert -size 48x32 plasma:fractal -seed 1 -depth 8 PPM:"$to/plasma.ppm" 2>/dev/null
    python_picture tiff-strips "$to/plasma.ppm" "$to/kept-strip-short.tif" short
    python_picture tiff-strips "$to/plasma.ppm" "$to/kept-strip-cut.tif" cut
    python_picture tiff-tiles "$to/plasma.ppm" "$to/kept-tile-short.tif" short
    for name in empty cut header garbage tile-bomb row-bomb strip-short strip-cut tile-short; do
        refused --channels=auto "$to/kept-$name.tif" "$cannot_open"
    done
    # As grey bytes, the pixels of 200000 × 100000 fit in a large machine's memory: refused
    # for their size, or for the data missing.
    for bomb in bomb bomb-fits wide bomb-tiled; do
        refused --channels=auto "$to/kept-$bomb.tif" "$too_large" "$cannot_open"
    done
}
