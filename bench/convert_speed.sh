#!/usr/bin/env bash
# Measures velumo-convert against ffmpeg and lame on one generated
# 10-minute 44100 Hz stereo WAVE file:
#   - to a 22050 Hz mono MP3: velumo-convert, `ffmpeg -ac 1 -ar 22050 -b:a 32k`,
#     `lame -m m --resample 22.05 -b 32`;
#   - to a 22050 Hz mono WAV: velumo-convert, `ffmpeg -ac 1 -ar 22050`.
# Each command runs twice and the faster run counts. Prints wall and CPU
# seconds, peak resident memory and the ratios (velumo / other; below 1 is
# faster).
#
# bench/convert_speed.sh [BUILD_DIR] [--memory]
#   BUILD_DIR  a build directory with velumo-convert (default build/bench,
#              configured and built here, Release)
#   --memory   also converts a generated 60-minute file and reports the
#              peak resident memory of velumo-convert
set -euo pipefail
cd "$(dirname "$0")/.."

build=""
memory=0
for arg in "$@"; do
    case "$arg" in
        --memory) memory=1 ;;
        *) build=$arg ;;
    esac
done
if [[ -z "$build" ]]; then
    build=build/bench
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELUMO_UI=OFF >/dev/null
    cmake --build "$build" --target velumo-convert -j 2 >/dev/null
fi
convert="$build/velumo-convert"
[[ -x "$convert" ]] || { echo "no velumo-convert in $build" >&2; exit 1; }
for tool in sox ffmpeg lame /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Music-like material: two detuned tones per channel and a little noise, so
# that the encoders have real work to do.
make_input() { # path, seconds
    sox -q -n -r 44100 -c 2 -b 16 "$1" synth "$2" sine 220 sine 331 brownnoise \
        remix 1,3 2,3 gain -6 2>/dev/null || \
    sox -q -n -r 44100 -c 2 -b 16 "$1" synth "$2" sine 220 sine 331
}
make_input "$work/in.wav" 600

# Runs a command twice; prints "wall cpu maxrss_kb" of the faster run.
measure() {
    local best="" line
    for _ in 1 2; do
        /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 </dev/null
        line=$(awk '{printf "%.2f %.2f %d", $1, $2 + $3, $4}' "$work/time.txt")
        if [[ -z "$best" ]] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a < b)}'; then
            best=$line
        fi
    done
    echo "$best"
}

report() { # label, "wall cpu rss"
    read -r wall cpu rss <<<"$2"
    printf "%-44s %7.2f s wall %7.2f s cpu %8.1f MB\n" "$1" "$wall" "$cpu" "$(echo "$rss / 1024" | bc -l)"
}

ratio() { # label, ours, theirs
    printf "%-44s %6.2f (wall)  %6.2f (cpu)\n" "$1" \
        "$(echo "${2%% *} / ${3%% *}" | bc -l)" \
        "$(echo "$(cut -d' ' -f2 <<<"$2") / $(cut -d' ' -f2 <<<"$3")" | bc -l)"
}

echo "10-minute 44100 Hz stereo input, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
v_mp3=$(measure "$convert" --yes "$work/in.wav" "$work/velumo.mp3")
f_mp3=$(measure ffmpeg -y -v error -i "$work/in.wav" -ac 1 -ar 22050 -b:a 32k "$work/ffmpeg.mp3")
l_mp3=$(measure lame --quiet -m m --resample 22.05 -b 32 "$work/in.wav" "$work/lame.mp3")
v_wav=$(measure "$convert" --yes "$work/in.wav" "$work/velumo.wav")
f_wav=$(measure ffmpeg -y -v error -i "$work/in.wav" -ac 1 -ar 22050 "$work/ffmpeg.wav")

report "velumo-convert -> 22050 Hz mono MP3" "$v_mp3"
report "ffmpeg -ac 1 -ar 22050 -b:a 32k" "$f_mp3"
report "lame -m m --resample 22.05 -b 32" "$l_mp3"
report "velumo-convert -> 22050 Hz mono WAV" "$v_wav"
report "ffmpeg -ac 1 -ar 22050 (WAV)" "$f_wav"
echo "ratios (velumo / other, below 1 is faster):"
ratio "  MP3: velumo / ffmpeg" "$v_mp3" "$f_mp3"
ratio "  MP3: velumo / lame" "$v_mp3" "$l_mp3"
ratio "  WAV: velumo / ffmpeg" "$v_wav" "$f_wav"

if ((memory)); then
    rm -f "$work"/*.mp3 "$work"/*.wav
    make_input "$work/long.wav" 3600
    report "velumo-convert 60 min -> MP3" "$(measure "$convert" --yes "$work/long.wav" "$work/long.mp3")"
    report "velumo-convert 60 min -> WAV" "$(measure "$convert" --yes "$work/long.wav" "$work/long-out.wav")"
fi
