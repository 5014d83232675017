#!/usr/bin/env bash
# Hostile and unusual pictures through the command line. Every bad one (special files, bombs
# inside the decoders' own buffers, pictures that crashed a reader or that it stopped short
# of, large files that are no picture among them) is refused with the system's message,
# exit status 1 (not a crash), no files, little memory and little time; every valid one of
# an unusual shape or layout gives ten textures of the picture's colour, and one picture in
# many layouts gives the plain PNG's textures byte for byte; names with spaces and non-ASCII
# letters work, and paths too long for the job or the system are refused.
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
