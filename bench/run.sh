#!/usr/bin/env bash
# The benchmark, in one command, from a checkout alone: installs what it needs, builds,
# generates the test map with orbilune-make-map (nothing large is committed), then for each
# face size and filter times
#   - orbilune-cli, the whole run (decode, generate, write), and its peak memory;
#   - generation alone (orbilune-generation-bench);
#   - a straightforward implementation: the plain one-texel-at-a-time rasteriser on one
#     thread, same decoder, same writes (orbilune-generation-bench --plain);
#   - the peers from Debian's packages on the same job (bench/peers/): OpenCV remap,
#     libvips mapim (its index built beforehand, timed apart), GDAL gdalwarp and Hugin nona;
# and prints a Markdown table of texels per second and of time relative to the
# straightforward run ("peers"); then a second table of the area filter against bilinear,
# whole runs taken in turn (area, bilinear, area, ...), and of the Windows build's whole runs
# under Wine beside the Linux ones (cross-built with scripts/build-windows.sh) ("filters");
# then a third of data maps ("data"): the same map made as 8-bit RGB, 16-bit grey, 8-bit RGBA
# and 16-bit RGB, each converted with nearest, bilinear and area into TIFF textures of its own
# depth and channels (--format tiff --channels auto --depth auto), the four layouts run in
# turn, with each run's time and peak memory and its time against the 8-bit RGB run's; and
# the same runs' processor time (user and system, all threads), which another load on the
# machine disturbs less than wall time.
#
# Every time is the best of --repeats runs (default 3).
# Usage: bench/run.sh [--sizes "512 1024 2048"] [--map WIDTHxHEIGHT] [--repeats N] [--no-peers]
#        [--no-windows] [--tables "peers filters data"]
# Environment: WORK (default bench/work), where the maps, the outputs and Wine's prefix go;
# BUILD (default build), the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
sizes="512 1024 2048"
map_size="8192x4096"
peers_on=1
windows_on=1
repeats=3
tables="peers filters data"
while [ $# -gt 0 ]; do
    case $1 in
        --sizes) sizes=$2; shift 2 ;;
        --map) map_size=$2; shift 2 ;;
        --no-peers) peers_on=0; shift ;;
        --no-windows) windows_on=0; shift ;;
        --repeats) repeats=$2; shift 2 ;;
        --tables) tables=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [--sizes \"512 1024 2048\"] [--map WxH] [--repeats N] [--no-peers] [--no-windows] [--tables \"peers filters data\"]" >&2; exit 2 ;;
    esac
done
table_on() { case " $tables " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }
table_on peers || peers_on=0
table_on filters || windows_on=0
peers=$repo/bench/peers
work=${WORK:-$repo/bench/work}
build=${BUILD:-build}
mkdir -p "$work"

source scripts/lib/packages.sh
source scripts/lib/wine.sh
extra=(time)
[ "$peers_on" = 1 ] && extra+=(python3-numpy python3-opencv libvips-tools gdal-bin hugin-tools)
scripts/install-deps.sh "${extra[@]}" >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null  # as scripts/build.sh, into $build
cmake --build "$build" >/dev/null
bin=$(cd "$build" && pwd)/bin

map_w=${map_size%x*}
map_h=${map_size#*x}
map=$work/map-${map_w}x${map_h}.png
if [ ! -f "$map" ]; then
    echo "generating $map" >&2
    "$bin/orbilune-make-map" "$map" "$map_w" "$map_h" >&2
fi

# seconds_and_peak COMMAND...: runs it $repeats times, prints "<best wall seconds> <peak KiB>".
seconds_and_peak() {
    local best="" peak=0 run seconds kib
    for run in $(seq "$repeats"); do
        if ! /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/out.txt" 2>"$work/err.txt"; then
            echo "failed: $*" >&2
            sed 's/^/    /' "$work/err.txt" >&2
            echo "nan nan"
            return
        fi
        read -r seconds kib <"$work/time.txt"
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
        [ "$kib" -gt "$peak" ] && peak=$kib
    done
    echo "$best $peak"
}
rate() { awk -v n="$1" -v s="$2" 'BEGIN { if (s + 0 > 0) printf "%.1f", 10 * n * n / s / 1e6; else print "-" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }

if table_on peers; then
    echo "| N | filter | orbilune whole run (s) | Mtexel/s whole | Mtexel/s generation | peak MiB | straightforward (s) | orbilune | OpenCV remap | libvips mapim (+index) | gdalwarp | nona |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
    for n in $sizes; do
        for filter in nearest bilinear; do
            flag=()
            [ "$filter" = bilinear ] && flag=(--bilinear)
            out=$work/out-orbilune
            rm -rf "$out" && mkdir -p "$out"
            read -r ours peak < <(seconds_and_peak "$bin/orbilune-cli" --size "$n" "${flag[@]}" "$map" "$out")
            generation=$(for run in $(seq "$repeats"); do
                "$bin/orbilune-generation-bench" "$map" "$n" "$filter" | sed -n 's/.*generate_s=\([0-9.]*\).*/\1/p'
            done | sort -g | head -1)
            plain_out=$work/out-plain
            rm -rf "$plain_out" && mkdir -p "$plain_out"
            read -r plain _ < <(seconds_and_peak "$bin/orbilune-generation-bench" "$map" "$n" "$filter" --plain --threads 1 --write "$plain_out")
            if ! cmp -s "$out/new1.tga" "$plain_out/new1.tga" || ! cmp -s "$out/new10.tga" "$plain_out/new10.tga"; then
                echo "orbilune-cli and the straightforward run differ at N=$n $filter" >&2
                exit 1
            fi

            cv2="-" vips="-" gdal="-" nona="-"
            if [ "$peers_on" = 1 ]; then
                peer_out=$work/out-peer
                rm -rf "$peer_out" && mkdir -p "$peer_out"
                read -r cv2 _ < <(seconds_and_peak /usr/bin/python3 "$peers/cv2_diamonds.py" "$map" "$peer_out" "$n" "$filter" 2)
                read -r index_s _ < <(seconds_and_peak /usr/bin/python3 "$peers/vips_index.py" "$map_w" "$map_h" "$n" "$work/index.v")
                read -r mapim _ < <(seconds_and_peak vips mapim "$map" "$peer_out/out.v" "$work/index.v" --interpolate "$filter" --extend repeat)
                vips="$(ratio "$mapim" "$plain") (+$(ratio "$index_s" "$plain"))"
                if [ "$filter" = bilinear ]; then  # these peers filter bilinearly only
                    face=$(awk -v n="$n" 'BEGIN { printf "%d", sqrt(10 * n * n / 6) + 0.5 }')
                    rm -rf "$peer_out" && mkdir -p "$peer_out"
                    read -r gdal_s _ < <(seconds_and_peak sh "$peers/gdal_cube.sh" "$map" "$peer_out" "$face" 2)
                    rm -rf "$peer_out" && mkdir -p "$peer_out"
                    read -r nona_s _ < <(seconds_and_peak sh "$peers/nona_cube.sh" "$map" "$map_w" "$map_h" "$peer_out" "$face")
                    gdal=$(ratio "$gdal_s" "$plain")
                    nona=$(ratio "$nona_s" "$plain")
                fi
                cv2=$(ratio "$cv2" "$plain")
                rm -rf "$peer_out"
            fi
            echo "| $n | $filter | $ours | $(rate "$n" "$ours") | $(rate "$n" "$generation") | $((peak / 1024)) | $plain | $(ratio "$ours" "$plain") | $cv2 | $vips | $gdal | $nona |"
        done
    done
    echo
    echo "Map ${map_w}x${map_h} PNG; best of $repeats runs; times are wall seconds of whole runs; the last five columns are times relative to the straightforward run (lower is faster); $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)."
    echo
fi

# The area filter against bilinear, each pair of runs one after the other so that both see
# the same machine, and the Windows build under Wine.
if table_on filters; then
    wine_cli=()
    if [ "$windows_on" = 1 ]; then
        ensure_packages "${windows_build_packages[@]}" "${windows_run_packages[@]}" >&2
        scripts/build-windows.sh >/dev/null
        export WINEPREFIX=$work/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
        [ -d "$WINEPREFIX" ] || make_wine_prefix
        (wineserver -p &)  # a server that stays up between runs (if none runs, this one becomes it)
        wine_cli=(wine "$repo/build-windows/bin/orbilune-cli.exe")
        trap 'wineserver -k 2>/dev/null || true' EXIT
    fi
    # best_pair A... -- B...: the best wall seconds of each command, run in turn $repeats times.
    best_pair() {
        local first=() second=() a="" b="" run seconds
        while [ "$1" != -- ]; do first+=("$1"); shift; done
        shift
        second=("$@")
        for run in $(seq "$repeats"); do
            /usr/bin/time -f "%e" -o "$work/time.txt" "${first[@]}" >/dev/null 2>&1 || { echo "nan nan"; return; }
            seconds=$(cat "$work/time.txt")
            if [ -z "$a" ] || awk -v x="$seconds" -v y="$a" 'BEGIN { exit !(x < y) }'; then a=$seconds; fi
            /usr/bin/time -f "%e" -o "$work/time.txt" "${second[@]}" >/dev/null 2>&1 || { echo "nan nan"; return; }
            seconds=$(cat "$work/time.txt")
            if [ -z "$b" ] || awk -v x="$seconds" -v y="$b" 'BEGIN { exit !(x < y) }'; then b=$seconds; fi
        done
        echo "$a $b"
    }
    echo "| N | bilinear whole run (s) | area whole run (s) | area / bilinear | area peak MiB | area Mtexel/s generation | Windows under Wine: bilinear (s) | area (s) | Wine / Linux, bilinear |"
    echo "|---|---|---|---|---|---|---|---|---|"
    out=$work/out-filters
    rm -rf "$out" && mkdir -p "$out"
    for n in $sizes; do
        read -r area bilinear < <(best_pair "$bin/orbilune-cli" --size "$n" --filter area "$map" "$out" -- \
            "$bin/orbilune-cli" --size "$n" --filter bilinear "$map" "$out")
        read -r _ area_peak < <(seconds_and_peak "$bin/orbilune-cli" --size "$n" --filter area "$map" "$out")
        generation=$(for run in $(seq "$repeats"); do
            "$bin/orbilune-generation-bench" "$map" "$n" area | sed -n 's/.*generate_s=\([0-9.]*\).*/\1/p'
        done | sort -g | head -1)
        wine_bilinear="-" wine_area="-"
        if [ "$windows_on" = 1 ]; then
            read -r wine_area wine_bilinear < <(best_pair "${wine_cli[@]}" --size "$n" --filter area \
                "$(winepath -w "$map")" "$(winepath -w "$out")" -- \
                "${wine_cli[@]}" --size "$n" --filter bilinear "$(winepath -w "$map")" "$(winepath -w "$out")")
        fi
        echo "| $n | $bilinear | $area | $(ratio "$area" "$bilinear") | $((area_peak / 1024)) | $(rate "$n" "$generation") | $wine_bilinear | $wine_area | $(ratio "$wine_bilinear" "$bilinear") |"
    done
    rm -rf "$out"
    echo
    echo "Same map and machine; best of $repeats runs of each, area and bilinear in turn."
    echo
fi

# Data maps: the same map in four layouts, each written as TIFF textures of its own depth
# and channels; the four runs of a row taken in turn, so that all of them meet the same load.
if table_on data; then
    layouts="rgb8 grey16 rgba8 rgb16"
    declare -A data_map
    for layout in $layouts; do
        data_map[$layout]=$map
        if [ "$layout" != rgb8 ]; then
            data_map[$layout]=$work/map-${map_w}x${map_h}-$layout.png
            if [ ! -f "${data_map[$layout]}" ]; then
                echo "generating ${data_map[$layout]}" >&2
                "$bin/orbilune-make-map" "${data_map[$layout]}" "$map_w" "$map_h" "$layout" >&2
            fi
        fi
    done
    echo "| N | filter | 8-bit RGB (s) | peak MiB | 16-bit grey (s) | peak MiB | / RGB | RGBA (s) | peak MiB | / RGB | 16-bit RGB (s) | peak MiB | / RGB |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    out=$work/out-data
    cpu_rows=()
    for n in $sizes; do
        for filter in nearest bilinear area; do
            declare -A best=() peak=() cpu=()
            for run in $(seq "$repeats"); do
                for layout in $layouts; do
                    rm -rf "$out" && mkdir -p "$out"
                    if ! /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$bin/orbilune-cli" --size "$n" \
                        --filter "$filter" --format tiff --channels auto --depth auto "${data_map[$layout]}" "$out" \
                        >/dev/null 2>"$work/err.txt"; then
                        echo "failed: $layout N=$n $filter" >&2
                        sed 's/^/    /' "$work/err.txt" >&2
                        best[$layout]=nan peak[$layout]=0 cpu[$layout]=nan
                        continue
                    fi
                    read -r seconds kib user system <"$work/time.txt"
                    processor=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
                    if [ -z "${best[$layout]:-}" ] || awk -v a="$seconds" -v b="${best[$layout]}" 'BEGIN { exit !(a < b) }'; then
                        best[$layout]=$seconds
                    fi
                    if [ -z "${cpu[$layout]:-}" ] || awk -v a="$processor" -v b="${cpu[$layout]}" 'BEGIN { exit !(a < b) }'; then
                        cpu[$layout]=$processor
                    fi
                    [ "$kib" -gt "${peak[$layout]:-0}" ] && peak[$layout]=$kib
                done
            done
            row="| $n | $filter | ${best[rgb8]} | $((peak[rgb8] / 1024))"
            cpu_row="| $n | $filter | ${cpu[rgb8]}"
            for layout in grey16 rgba8 rgb16; do
                row+=" | ${best[$layout]} | $((peak[$layout] / 1024)) | $(ratio "${best[$layout]}" "${best[rgb8]}")"
                cpu_row+=" | ${cpu[$layout]} | $(ratio "${cpu[$layout]}" "${cpu[rgb8]}")"
            done
            echo "$row |"
            cpu_rows+=("$cpu_row |")
        done
    done
    rm -rf "$out"
    echo
    echo "Map ${map_w}x${map_h} made by orbilune-make-map in each layout (PNG); TIFF textures of the map's own depth and channels; best of $repeats runs of each, the four layouts in turn; / RGB: time against the 8-bit RGB run's; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)."
    echo
    echo "| N | filter | 8-bit RGB (CPU s) | 16-bit grey (CPU s) | / RGB | RGBA (CPU s) | / RGB | 16-bit RGB (CPU s) | / RGB |"
    echo "|---|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${cpu_rows[@]}"
    echo
    echo "The same runs' processor time, user and system, of all threads (the least of $repeats)."
fi