#!/usr/bin/env bash
# Faults of the output folder through the command line: a folder that is missing, read-only
# or taken away between two textures, a disk that fills, a read-only file in the way, and
# folder paths at the system's limits. Each fault gives its message and exit status 1, stops
# the run with no further file attempted, and leaves the textures written before it intact.
# Usage: output_faults_test.sh PATH/TO/orbilune-cli
# Drops to the user nobody when run as root; strace, where it works, shows which files the
# command line tried to open.
set -u
export LC_ALL=C
cli=$1
work=$(mktemp -d)
small=$work/small
cleanup() {
    mountpoint -q "$small" 2>/dev/null && umount "$small"
    chmod -R u+rwx "$work"
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
passed=0
failed=0
cannot_create="Couldnt create file"
cannot_write="Couldnt write to file"

# As in bad_input_test.sh: the user nobody runs a copy beside the scratch files.
mkdir "$work/bin"
cp "$cli" "$(dirname "$cli")/liborbilune_oiio_reader.so" "$work/bin/"
as_nobody=("$work/bin/$(basename "$cli")")
[ "$(id -u)" = 0 ] && as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${as_nobody[@]}")
tracer=()
strace -f -qq -o /dev/null true 2>/dev/null && tracer=(strace -f -qq -e trace=open,openat,creat -o "$work/trace")

# (ImageMagick's rose, 70 × 46, cut to an equirectangular 70 × 35: a map of another shape
# warns that it is stretched, a line on standard error before the first texture.)
convert rose: -crop 70x35+0+0 +repage -depth 8 PNG24:"$work/map.png"
chmod 644 "$work/map.png"
mkdir "$work/reference"
"$cli" --size 64 "$work/map.png" "$work/reference" 2>/dev/null || echo "FAILED: the reference run"

# run COMMAND... : runs it traced, with its status and its standard error in $work/stderr.
run() {
    rm -f "$work/trace"
    "${tracer[@]}" "$@" >/dev/null 2>"$work/stderr"
    status=$?
}

# check NAME MESSAGE ATTEMPTED INTACT FOLDER: the fault's row. The command line must have
# exited with 1 and MESSAGE, tried to open exactly the textures 1 to ATTEMPTED (when
# traced), and left textures 1 to INTACT in FOLDER equal to those of a good run.
check() {
    local name=$1 message=$2 attempted=$3 intact=$4 folder=$5 i
    local expected=""
    for ((i = 1; i <= attempted; i++)); do expected+="new$i.tga "; done
    if [ "$status" != 1 ]; then
        failed=$((failed + 1)); echo "FAILED: $name: exit status $status"
    elif ! grep -qxF "error: $message" "$work/stderr"; then
        failed=$((failed + 1)); echo "FAILED: $name: not the message '$message'"
    elif [ -f "$work/trace" ] && [ "$(attempted_files)" != "$expected" ]; then
        failed=$((failed + 1)); echo "FAILED: $name: opened $(attempted_files), expected $expected"
    else
        for ((i = 1; i <= intact; i++)); do
            if ! cmp -s "$folder/new$i.tga" "$work/reference/new$i.tga"; then
                failed=$((failed + 1)); echo "FAILED: $name: new$i.tga is not intact"
                return
            fi
        done
        passed=$((passed + 1))
        return
    fi
    sed 's/^/    stderr: /' "$work/stderr" | tr -d '\0' | head -5
}
attempted_files() {
    grep -o 'new[0-9]*\.tga' "$work/trace" | awk '!seen[$0]++' | tr '\n' ' '
}
fresh() { rm -rf "$1"; mkdir "$1"; chmod 777 "$1"; }

# --- The folder ------------------------------------------------------------------------------
run "$cli" --size 64 "$work/map.png" "$work/missing"
check "a missing folder" "The directory specified does not exist" 0 0 "$work"

fresh "$work/read-only"
chmod 555 "$work/read-only"
run "${as_nobody[@]}" --size 64 "$work/map.png" "$work/read-only"
check "a read-only folder" "$cannot_create" 1 0 "$work/read-only"
[ -z "$(ls -A "$work/read-only")" ] || { failed=$((failed + 1)); echo "FAILED: files in the read-only folder"; }

# The folder goes between the first texture and the second. The command line reports each
# texture on standard error once it is written; with that pipe full it waits there, after
# new1.tga and before new2.tga, until the folder is gone and the pipe is read.
taken_away() {  # taken_away HOW: HOW is mv or rm
    local how=$1 fifo=$work/progress i
    fresh "$work/out"
    rm -f "$fifo" "$work/trace"
    mkfifo "$fifo"
    exec 8<>"$fifo"
    dd if=/dev/zero of=/dev/fd/8 bs=4096 count=256 oflag=nonblock status=none 2>/dev/null
    "${tracer[@]}" "$cli" --size 64 "$work/map.png" "$work/out" 2>"$fifo" 8>&- &
    local pid=$!
    for ((i = 0; i < 600; i++)); do
        [ "$(stat -c %s "$work/out/new1.tga" 2>/dev/null)" = 12306 ] && break
        sleep 0.05
    done
    rm -rf "$work/gone"
    if [ "$how" = mv ]; then mv "$work/out" "$work/gone"; else rm -rf "$work/out"; fi
    exec 9<"$fifo"
    { tr -d '\0' <&9 >"$work/stderr"; } 8>&- &
    local reader=$!
    exec 8>&- 9<&-
    wait "$pid"
    status=$?
    wait "$reader"
}
taken_away mv
check "the folder moved away after new1.tga" "$cannot_create" 2 1 "$work/gone"
[ ! -e "$work/gone/new2.tga" ] || { failed=$((failed + 1)); echo "FAILED: new2.tga in the moved folder"; }
taken_away rm
check "the folder removed after new1.tga" "$cannot_create" 2 0 "$work"

# --- A full disk -----------------------------------------------------------------------------
# A file may grow to 8 KiB, less than one texture: the first write falls short, the part
# written stays.
fresh "$work/out"
run bash -c 'ulimit -f 8; trap "" XFSZ; exec "$@"' limited "$cli" --size 64 "$work/map.png" "$work/out"
check "a file size limit below one texture" "$cannot_write" 1 0 "$work/out"
[ "$(stat -c %s "$work/out/new1.tga")" = 8192 ] ||
    { failed=$((failed + 1)); echo "FAILED: the part of new1.tga written is gone"; }

# The third texture lands on a device that is always full.
fresh "$work/out"
ln -s /dev/full "$work/out/new3.tga"
run "$cli" --size 64 "$work/map.png" "$work/out"
check "a full device at new3.tga" "$cannot_write" 3 2 "$work/out"

# A real file system of 64 KiB, where root may mount one: four textures of 12 KiB in 16 KiB
# of pages fit, the fifth does not.
mkdir "$small"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=64k tmpfs "$small" 2>/dev/null; then
    run "$cli" --size 64 "$work/map.png" "$small"
    check "a file system that fills at new5.tga" "$cannot_write" 5 4 "$small"
    umount "$small"
else
    echo "skipped: a small file system (cannot mount one here)"
fi

# --- A file in the way -----------------------------------------------------------------------
fresh "$work/out"
printf 'older\n' >"$work/out/new3.tga"
chmod 444 "$work/out/new3.tga"
run "${as_nobody[@]}" --size 64 "$work/map.png" "$work/out"
check "a read-only new3.tga" "$cannot_create" 3 2 "$work/out"
[ "$(cat "$work/out/new3.tga")" = older ] || { failed=$((failed + 1)); echo "FAILED: new3.tga was changed"; }

# --- Folder paths at the limits --------------------------------------------------------------
# folder_of_length N: a folder path of exactly N bytes below $work, made of parts of at most
# 200 bytes.
folder_of_length() {
    local gap=$(($1 - ${#work})) path=$work i
    local parts=$(((gap + 200) / 201))
    local letters=$((gap - parts))
    for ((i = parts; i > 0; i--)); do
        local width=$((letters / i))
        letters=$((letters - width))
        path=$path/$(printf '%*s' "$width" '' | tr ' ' d)
    done
    echo "$path"
}
# The longest texture path, .../new10.tga, is 4095 bytes: PATH_MAX less the terminator.
deepest=$(folder_of_length $((4095 - 10)))
mkdir -p "$deepest"
"$cli" --size 64 "$work/map.png" "$deepest" 2>"$work/stderr"
status=$?
if [ "$status" = 0 ] && [ "${#deepest}" = 4085 ] && cmp -s "$deepest/new10.tga" "$work/reference/new10.tga"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); echo "FAILED: a folder path of 4085 bytes (exit status $status)"
fi
too_deep=$(folder_of_length $((4096 - 10)))
mkdir -p "$too_deep"
run "$cli" --size 64 "$work/map.png" "$too_deep"
check "a folder path one byte too long" "The output folder path is too long." 0 0 "$work"
[ -z "$(ls -A "$too_deep")" ] || { failed=$((failed + 1)); echo "FAILED: files in the folder too deep"; }
run "$cli" --size 64 "$work/map.png" "$work/$(printf '%*s' 256 '' | tr ' ' n)"
check "a folder name over NAME_MAX" "The output folder path is too long." 0 0 "$work"
mkdir "$work/Ausgabe für Karten — 出力"
"$cli" --size 64 "$work/map.png" "$work/Ausgabe für Karten — 出力" 2>"$work/stderr"
if cmp -s "$work/Ausgabe für Karten — 出力/new10.tga" "$work/reference/new10.tga"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); echo "FAILED: a folder named with spaces and non-ASCII letters"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
