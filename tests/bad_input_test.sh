#!/usr/bin/env bash
# Hostile and unusual pictures through the command line. Every bad one (special files, bombs
# inside the decoders' own buffers, pictures that crashed a reader or that it stopped short
# of, large files that are no picture among them) is refused with the system's message,
# exit status 1 (not a crash), no files, little memory and little time; every valid one of
# an unusual shape or layout gives ten textures of the picture's colour, and one picture in
# many layouts gives the plain PNG's textures byte for byte; names with spaces and non-ASCII
# letters work, and paths too long for the job or the system are refused. The pictures of the
# tables read in bands of rows (map_rows.h, through the generator's tests) give the whole
# decoding's rows, and a large map so read takes a few rows' memory.
# The pictures and the rows are in hostile_pictures.sh; the Windows program's table, which
# shares those common to every platform, is tests/windows/bad_input_wine_test.sh.
# Usage: bad_input_test.sh PATH/TO/orbilune-cli
# Needs ImageMagick's convert, avifenc, Python 3, gzip, GNU time and Perl (for the socket);
# drops to the user nobody when run as root.
set -u
export LC_ALL=C
cli=$1
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"
source "$(dirname "$0")/hostile_pictures.sh"

# The user nobody cannot reach a build folder below root's home: a copy of the command line
# and its module serves the runs that drop privileges.
mkdir "$work/bin"
cp "$cli" "$(dirname "$cli")/liborbilune_oiio_reader.so" "$work/bin/"
nobody_cli=$work/bin/$(basename "$cli")

# run [--as-nobody] ARGS...: the command line into a fresh OUT folder, with its status and
# peak memory.
run() {
    local command=("$cli")
    if [ "$1" = --as-nobody ]; then
        shift
        command=("$nobody_cli")
        [ "$(id -u)" = 0 ] && command=(setpriv --reuid=nobody --regid=nogroup --clear-groups "$nobody_cli")
    fi
    rm -rf "$work/out"
    mkdir "$work/out"
    chmod 777 "$work/out"
    measured "${command[@]}" "$@"
}

make_bad_pictures
cp "$work/good.png" "$work/locked.png"
chmod 000 "$work/locked.png"
cp "$work/good.jpg" "$work/locked.jpg"
chmod 000 "$work/locked.jpg"

bad_picture_rows
make_decoder_bombs
decoder_bomb_rows
make_reader_faults
reader_fault_rows
refused --as-nobody "$work/locked.png" "$cannot_open"  # no permission to read
refused --as-nobody "$work/locked.jpg" "$cannot_open"

# Files that are not regular files, refused at once: opening a FIFO without a writer would
# wait for one, and a device or a socket never ends or never opens.
mkfifo "$work/fifo.png"
perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ARGV[0], Listen => 1) or die' "$work/socket.png"
saved_timeout=$run_timeout
run_timeout=10
refused "$work/fifo.png" "$cannot_open"       # a FIFO with no writer
refused /dev/zero "$cannot_open"              # a character device without end
refused "$work/socket.png" "$cannot_open"     # a socket
run_timeout=$saved_timeout

make_valid_pictures
valid_picture_rows

make_layout_pictures
layout_rows
kept_layout_rows
make_orientation_pictures
orientation_rows
make_wide_sample_pictures
wide_sample_rows
make_deep_pictures
deep_sample_rows
make_sample_maps
kept_sample_rows
kept_sample_refusal_rows

# --- Maps read in bands of rows --------------------------------------------------------------
# The generator's own tests of a map read in bands (map_rows.h), over the pictures made here.
tests_program=$(dirname "$cli")/generator_tests

# gtest ROW-NAME TEST [VARIABLE=VALUE...]: one row: the generator's test TEST (of the MapRows
# suite) passes with the variables given, measured; its output in $work/stdout.
gtest() {
    local name=$1 test=$2
    shift 2
    measured env "$@" "$tests_program" --gtest_filter="MapRows.$test"
    if [ "$status" != 0 ] || ! grep -q '^\[  PASSED  \] 1 test' "$work/stdout"; then
        fail "$name: exit status $status"
        sed 's/^/    stdout: /' "$work/stdout" | grep -v '^    stdout: \[ \(RUN\|  OK\)' | head -20
        return 1
    fi
}

# Every picture of the tables of layouts, orientations and samples gives the whole decoding's
# rows in bands, kept or not, narrowed or not, or is read whole (a BMP, a turned TIFF, ...).
if gtest "the tables' pictures in bands" ReadsThePicturesOfTheCommandLinesTablesAsTheWholeDecoding \
    ORBILUNE_MAP_ROWS_PICTURES="$work/plain.png:$work/layouts:$work/oriented:$work/deep:$work/sample-maps:$(
        printf '%s:' "$work"/high-byte*)"; then
    passed=$((passed + 1))
    grep -F 'read in bands' "$work/stdout"
fi

# A map of 20000 × 10000 pixels (800 MB of words whole) read in bands, four rows at a time,
# holds its reader's buffers (about 700 KB) and those rows: its peak memory is that of the same
# program opening nothing but for 16 rows (of 80 KB of words), and of one that opens it and
# reads no row but for 8.
python3 - "$work/large.png" <<'PYTHON'
import struct, sys, zlib
width, height = 20000, 10000
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
pattern = bytes((i * 7 + (i // 3) * 13) & 255 for i in range(3 * width + 256))
with open(sys.argv[1], 'wb') as out:
    out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)))
    deflate = zlib.compressobj(1)
    pending = b''
    for y in range(height):
        pending += deflate.compress(b'\0' + pattern[y % 256:y % 256 + 3 * width])
        if len(pending) >= 1 << 20:
            out.write(chunk(b'IDAT', pending))
            pending = b''
    out.write(chunk(b'IDAT', pending + deflate.flush()) + chunk(b'IEND', b''))
PYTHON
row_kb=$((20000 * 4 / 1024))
declare -A large_peak_kb
for read in nothing none all; do
    gtest "the large map, reading $read" ReadsTheMapTheCommandLinesTableMeasures \
        ORBILUNE_MAP_ROWS_MEASURED="$work/large.png" ORBILUNE_MAP_ROWS_READ=$read || break
    large_peak_kb[$read]=$peak_kb
    [ "$read" = all ] && grep -F 'rows ' "$work/stdout"
done
if [ "${large_peak_kb[all]:-}" ]; then
    echo "the large map in bands: peak ${large_peak_kb[nothing]} KiB opening nothing," \
        "${large_peak_kb[none]} KiB opened, ${large_peak_kb[all]} KiB read, ${seconds} s"
    if [ -n "${ORBILUNE_SANITIZED:-}" ]; then
        passed=$((passed + 1))  # read whole and right; the sanitizers' allocator holds freed blocks
    elif [ $((large_peak_kb[all] - large_peak_kb[nothing])) -gt $((16 * row_kb)) ]; then
        fail "the large map in bands: ${large_peak_kb[all]} KiB, over 16 rows more than ${large_peak_kb[nothing]} KiB"
    elif [ $((large_peak_kb[all] - large_peak_kb[none])) -gt $((8 * row_kb)) ]; then
        fail "the large map in bands: ${large_peak_kb[all]} KiB, over 8 rows more than opened (${large_peak_kb[none]} KiB)"
    else
        passed=$((passed + 1))
    fi
fi
rm -f "$work/large.png"

# --- Names and lengths -----------------------------------------------------------------------
# Spaces and non-ASCII letters in the picture's name and the output folder's.
cp "$work/1x1.png" "$work/map with spaces — Érd Ωμέγα 地図.png"
converts "$work/map with spaces — Érd Ωμέγα 地図.png" "200 100 50" 0
longest=$(path_of_length 1023 map.png)   # the job holds 1023 bytes and the terminator
mkdir -p "$(dirname "$longest")"
cp "$work/1x1.png" "$longest"
[ "${#longest}" = 1023 ] && converts "$longest" "200 100 50" 0 || fail "could not make a path of 1023 bytes"
too_long=$(path_of_length 1024 map.png)
mkdir -p "$(dirname "$too_long")"
cp "$work/1x1.png" "$too_long"
refused "$too_long" "The image path is too long."                # never cut into another name
refused "$work/$(printf '%*s' 256 '' | tr ' ' n).png" "The image path is too long."  # NAME_MAX
refused "$(path_of_length 5000 map.png)" "The image path is too long."              # PATH_MAX

summary
