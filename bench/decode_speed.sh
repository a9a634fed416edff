#!/usr/bin/env bash
# Decoding speed of WmaStream against the ffmpeg tool on the same 10-minute
# MP3, in the same run: each is timed three times and the best run counts.
#   bench/decode_speed.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELUMO_UI=OFF -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" --target decode_bench -j2 >/dev/null
bench=$build/bench/decode_bench

mp3=$work/ten-minutes.mp3
ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=0.4*sin(2*PI*(440+100*sin(t/7))*t)|0.3*sin(2*PI*660*t)+0.05*random(0)-0.025:s=44100:d=600" \
    -c:a libmp3lame -b:a 192k "$mp3"

best() { sort -n | head -n 1; }
time_of() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

ours=$(for i in 1 2 3; do time_of "$bench" "$mp3"; done | best)
theirs=$(for i in 1 2 3; do time_of ffmpeg -nostdin -v error -i "$mp3" -f null -; done | best)
mixer=$(for i in 1 2 3; do time_of "$bench" "$mp3" --convert 22050; done | best)

printf 'WmaStream decode:               %6.3f s\n' "$ours"
printf 'ffmpeg -i file.mp3 -f null -:   %6.3f s\n' "$theirs"
printf 'WmaStream + ConversionStream:   %6.3f s (mono 22050 Hz)\n' "$mixer"
printf 'ratio ffmpeg / WmaStream:       %6.2f (above 1: WmaStream is faster)\n' "$(echo "$theirs / $ours" | bc -l)"
