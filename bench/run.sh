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
# straightforward run; then a second table of the area filter against bilinear, whole runs
# taken in turn (area, bilinear, area, ...), and of the Windows build's whole runs under
# Wine beside the Linux ones (cross-built with scripts/build-windows.sh).
#
# Every time is the best of --repeats runs (default 3).
# Usage: bench/run.sh [--sizes "512 1024 2048"] [--map WIDTHxHEIGHT] [--repeats N] [--no-peers]
#        [--no-windows]
# Environment: WORK (default bench/work), where the map, the outputs and Wine's prefix go.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
sizes="512 1024 2048"
map_size="8192x4096"
peers_on=1
windows_on=1
repeats=3
while [ $# -gt 0 ]; do
    case $1 in
        --sizes) sizes=$2; shift 2 ;;
        --map) map_size=$2; shift 2 ;;
        --no-peers) peers_on=0; shift ;;
        --no-windows) windows_on=0; shift ;;
        --repeats) repeats=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [--sizes \"512 1024 2048\"] [--map WxH] [--repeats N] [--no-peers] [--no-windows]" >&2; exit 2 ;;
    esac
done
peers=$repo/bench/peers
work=${WORK:-$repo/bench/work}
mkdir -p "$work"

source scripts/lib/packages.sh
source scripts/lib/wine.sh
extra=(time)
[ "$peers_on" = 1 ] && extra+=(python3-numpy python3-opencv libvips-tools gdal-bin hugin-tools)
scripts/install-deps.sh "${extra[@]}" >&2
scripts/build.sh >/dev/null
bin=$repo/build/bin

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

# The area filter against bilinear, each pair of runs one after the other so that both see
# the same machine, and the Windows build under Wine.
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
echo
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
