#!/usr/bin/env bash
# Times reading one whole track of a ~5-minute CUE/BIN image through CdDrive
# (bench/cd_read_bench) against cd-paranoia reading the same image, and
# prints the ratio. Both rips are compared byte for byte.
#
#     bench/cd_read_speed.sh [build-dir]     (default build/cd-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/cd-bench}
command -v cd-paranoia >/dev/null || { echo "cd-paranoia is not installed"; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed"; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELUMO_UI=OFF >/dev/null
cmake --build "$build" --target cd_read_bench -j2 >/dev/null
bench="$build/bench/cd_read_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 300 s of music-like audio: two sines and a little noise, raw 16-bit
# little-endian stereo, padded to whole 2352-byte frames.
sox -n -r 44100 -c 2 -b 16 -e signed -L "$work/track.raw" synth 300 sine 440 sine 660 \
    remix - - gain -6 2>/dev/null || sox -n -r 44100 -c 2 -b 16 -e signed -L "$work/track.raw" synth 300 sine 440 gain -6
size=$(stat -c %s "$work/track.raw")
frames=$(( (size + 2351) / 2352 ))
truncate -s $(( frames * 2352 )) "$work/track.raw"
cp "$work/track.raw" "$work/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' > "$work/disc.cue"
echo "image: $frames frames ($(( frames / 75 )) s)"

now() { date +%s.%N; }
runs=${CD_BENCH_RUNS:-5}
# best_of <label> <command...>: the shortest wall time of $runs runs, in s.
best_of() {
    local best="" t0 t1 t
    for ((i = 0; i < runs; ++i)); do
        t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
        t=$(echo "$t1 - $t0" | bc -l)
        if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    echo "$best"
}

# Warm the page cache so that every reader sees the same cached file.
cat "$work/disc.bin" >/dev/null

# Every reader writes its rip to a file, as cd-paranoia does.
velumo=$(best_of "$bench" "$work/disc.cue" 0 plain "$work/velumo.raw")
velumo_jitter=$(best_of "$bench" "$work/disc.cue" 0 jitter "$work/velumo-jitter.raw")
cd "$work"
paranoia=$(best_of cd-paranoia -d disc.cue -B -r)
mv track01.cdda.raw paranoia.raw
paranoia_z=$(best_of cd-paranoia -d disc.cue -Z -B -r)
mv track01.cdda.raw paranoia-z.raw
cd - >/dev/null
# Reading alone: no file written (cd-paranoia to standard output, discarded).
velumo_read=$(best_of "$bench" "$work/disc.cue" 0 plain)
paranoia_z_read=$(best_of sh -c "cd-paranoia -d '$work/disc.cue' -Z -r 1 - >/dev/null")
paranoia_read=$(best_of sh -c "cd-paranoia -d '$work/disc.cue' -r 1 - >/dev/null")

echo "best of $runs runs each:"
same() { cmp -s "$1" "$2" && echo identical || echo DIFFERENT; }
printf 'velumo (plain reads)            %8.3f s  %s\n' "$velumo" "$(same "$work/velumo.raw" "$work/track.raw")"
printf 'velumo (jitter-corrected reads) %8.3f s  %s\n' "$velumo_jitter" "$(same "$work/velumo-jitter.raw" "$work/track.raw")"
printf 'cd-paranoia -B -r               %8.3f s  %s\n' "$paranoia" "$(same "$work/paranoia.raw" "$work/track.raw")"
printf 'cd-paranoia -Z -B -r            %8.3f s  %s\n' "$paranoia_z" "$(same "$work/paranoia-z.raw" "$work/track.raw")"
printf 'ratio cd-paranoia -B -r / velumo:     %.1f\n' "$(echo "$paranoia / $velumo" | bc -l)"
printf 'ratio cd-paranoia -Z -B -r / velumo:  %.1f\n' "$(echo "$paranoia_z / $velumo" | bc -l)"
echo "reading only, nothing written:"
printf 'velumo (plain reads)            %8.3f s\n' "$velumo_read"
printf 'cd-paranoia -r                  %8.3f s\n' "$paranoia_read"
printf 'cd-paranoia -Z -r               %8.3f s\n' "$paranoia_z_read"
printf 'ratio cd-paranoia -r / velumo:        %.1f\n' "$(echo "$paranoia_read / $velumo_read" | bc -l)"
printf 'ratio cd-paranoia -Z -r / velumo:     %.1f\n' "$(echo "$paranoia_z_read / $velumo_read" | bc -l)"
