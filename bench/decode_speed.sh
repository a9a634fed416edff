#!/usr/bin/env bash
# Decoding speed of WmaStream against the ffmpeg tool on the same 10-minute
# MP3, in the same run: each is timed five times and the best run counts.
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

# Each run prints "elapsed user" in seconds; the run with the least elapsed
# time counts. On a busy machine the user CPU time is the steadier figure.
best() { sort -n | head -n 1; }
time_of() {
    /usr/bin/time -f "%e %U" -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
}

# The runs alternate, so that a burst of load elsewhere hits both sides.
for i in 1 2 3 4 5; do
    time_of "$bench" "$mp3" >>"$work/ours"
    time_of ffmpeg -nostdin -v error -i "$mp3" -f null - >>"$work/theirs"
    time_of "$bench" "$mp3" --convert 22050 >>"$work/mixer"
done
ours=$(best <"$work/ours")
theirs=$(best <"$work/theirs")
mixer=$(best <"$work/mixer")

read -r ours_e ours_u <<<"$ours"
read -r theirs_e theirs_u <<<"$theirs"
read -r mixer_e mixer_u <<<"$mixer"
printf 'WmaStream decode:               %6.2f s elapsed, %6.2f s user\n' "$ours_e" "$ours_u"
printf 'ffmpeg -i file.mp3 -f null -:   %6.2f s elapsed, %6.2f s user\n' "$theirs_e" "$theirs_u"
printf 'WmaStream + ConversionStream:   %6.2f s elapsed, %6.2f s user (mono 22050 Hz)\n' "$mixer_e" "$mixer_u"
printf 'ratio ffmpeg / WmaStream:       %6.2f elapsed, %6.2f user (above 1: WmaStream is faster)\n' \
    "$(echo "$theirs_e / $ours_e" | bc -l)" "$(echo "$theirs_u / $ours_u" | bc -l)"
