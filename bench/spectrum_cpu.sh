#!/usr/bin/env bash
# CPU cost of the live spectrum: velumo plays the same generated 44.1 kHz
# stereo MP3 twice at the same time, each under its own Xvfb on SDL's dummy
# audio driver, once with the spectrum shown and once with VELUMO_NO_SPECTRUM=1
# (no view, and the device reads the Mixer directly, so nothing is analysed).
# Each process's CPU time (utime + stime from /proc/PID/stat) is taken over
# the same span of playback and printed with its share of one core.
#   bench/spectrum_cpu.sh [BUILD_DIR]
# SPECTRUM_BENCH_SECONDS (default 60) sets the span; SPECTRUM_BENCH_SHOTS=DIR
# keeps a screenshot of each screen taken at the end of the span;
# SPECTRUM_BENCH_PEER=PROGRAM runs another velumo (an earlier build) with its
# spectrum shown in the same session, for a comparison that survives a busy
# machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/plain}
seconds=${SPECTRUM_BENCH_SECONDS:-60}
shots=${SPECTRUM_BENCH_SHOTS:-}
for tool in Xvfb xdotool ffmpeg python3; do
    command -v "$tool" >/dev/null || { echo "spectrum_cpu.sh: needs $tool" >&2; exit 2; }
done
cmake --build "$build" --target velumo -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A few chords that change every two seconds, over a soft noise bed.
mp3=$work/music.mp3
ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=0.2*sin(2*PI*(220+55*floor(mod(t/2\,4)))*t)+0.15*sin(2*PI*330*t)+0.1*sin(2*PI*(880+440*floor(mod(t/2\,3)))*t)+0.02*random(0)-0.01|0.2*sin(2*PI*(165+55*floor(mod(t/2\,4)))*t)+0.1*sin(2*PI*1320*t):s=44100:d=$((seconds + 20))" \
    -c:a libmp3lame -b:a 192k "$mp3"

# One copy of the program per run: the stored list lives next to it, with
# the MP3 as its one row, so that Play plays it.
prepare() {
    local dir=$work/$1
    mkdir -p "$dir"
    cp "${2:-$build/velumo}" "$dir/velumo"
    python3 - "$dir/velumo.ini" "$mp3" <<'EOF'
import os, struct, sys
def text(s):
    b = s.encode()
    assert len(b) < 255
    return bytes([len(b)]) + b
path = sys.argv[2]
row = ["", os.path.basename(path), "01:20", "%d KB" % (os.path.getsize(path) // 1024), path]
open(sys.argv[1], "wb").write(struct.pack("<i", 1) + b"".join(text(c) for c in row))
EOF
}

# Starts the program on a display of its own, clicks Play, and after two
# seconds of playback measures its CPU ticks over the span. Runs in a
# subshell that ends its own Xvfb and program.
measure() (
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
    local name=$1 spectrum=$2
    local dir=$work/$name
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$dir/display" 2>/dev/null &
    pids+=($!)
    while [[ ! -s $dir/display ]]; do sleep 0.1; done
    local display=:$(cat "$dir/display")
    local env=(DISPLAY="$display" SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb)
    [[ $spectrum == no ]] && env+=(VELUMO_NO_SPECTRUM=1)
    env "${env[@]}" "$dir/velumo" >/dev/null 2>&1 &
    local pid=$!
    pids+=("$pid")
    local window
    window=$(DISPLAY=$display xdotool search --sync --onlyvisible --name '^Velumo$' | head -n 1)
    sleep 1
    # Play sits at (46, 92) of the 407 x 322 dialog units of the window.
    local width height
    eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window" | grep -E '^(WIDTH|HEIGHT)=')"
    width=$WIDTH height=$HEIGHT
    DISPLAY=$display xdotool mousemove --window "$window" $((width * 46 / 407)) $((height * 92 / 322)) click 1
    sleep 2
    local before after
    before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep "$seconds"
    after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    if [[ -n $shots ]]; then
        mkdir -p "$shots"
        DISPLAY=$display import -window root "$shots/spectrum-cpu-$name.png" 2>/dev/null || true
    fi
    echo $((after - before)) >"$dir/ticks"
)

prepare shown
prepare hidden
measure shown yes &
shown_run=$!
measure hidden no &
hidden_run=$!
runs=("$shown_run" "$hidden_run")
if [[ -n ${SPECTRUM_BENCH_PEER:-} ]]; then
    prepare peer "$SPECTRUM_BENCH_PEER"
    measure peer yes &
    runs+=($!)
fi
wait "${runs[@]}"


hz=$(getconf CLK_TCK)
report() {
    local ticks
    ticks=$(cat "$work/$1/ticks")
    printf '%-28s %6.2f s CPU in %d s = %5.2f %% of one core\n' "$2" \
        "$(echo "$ticks / $hz" | bc -l)" "$seconds" "$(echo "100 * $ticks / $hz / $seconds" | bc -l)"
}
report shown "spectrum shown:"
report hidden "spectrum hidden (no view):"
[[ -n ${SPECTRUM_BENCH_PEER:-} ]] && report peer "peer, spectrum shown:"
shown=$(cat "$work/shown/ticks")
hidden=$(cat "$work/hidden/ticks")
printf '%-28s %5.2f %% of one core\n' "cost of the spectrum:" \
    "$(echo "100 * ($shown - $hidden) / $hz / $seconds" | bc -l)"
