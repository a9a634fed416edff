#!/usr/bin/env bash
# Dropouts through a real sound server under load, and Velumo's CPU while
# playing and stopped.
#
# For each server (a private PulseAudio, then a private PipeWire with
# pipewire-pulse and wireplumber on a private session bus), with a CPU hog
# busy on every core, a sweep is played by velumo (on SDL's pulseaudio
# driver, under its own Xvfb), by ffplay (the same SDL driver) and by paplay,
# one after the other in the same run. The null sink's monitor is recorded
# with parec --latency-msec=20 and every silent stretch of 2 ms or more
# inside the sweep is counted as a gap. Then, on PulseAudio without the hog,
# velumo's CPU is measured while playing with and without the spectrum, and
# while stopped.
#   bench/server_playback.sh [BUILD_DIR]
# SERVER_BENCH_SECONDS (default 60) sets the sweep's length and each CPU span.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/plain}
seconds=${SERVER_BENCH_SECONDS:-60}
for tool in Xvfb xdotool ffmpeg ffplay paplay parec pactl pulseaudio pipewire pipewire-pulse \
    wireplumber dbus-daemon python3; do
    command -v "$tool" >/dev/null || { echo "server_playback.sh: needs $tool" >&2; exit 2; }
done
cmake --build "$build" --target velumo -j2 >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A sweep from 200 Hz to 2 kHz at half of full scale, mono 44.1 kHz, as a
# WAVE file for all three players.
sweep=$work/sweep.wav
ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=0.5*sin(2*PI*(200*t+900*t*t/$seconds)):s=44100:d=$seconds" \
    -c:a pcm_s16le "$sweep"

# velumo's stored list next to its copy: the sweep as its one row.
mkdir -p "$work/app"
cp "$build/velumo" "$work/app/velumo"
python3 - "$work/app/velumo.ini" "$sweep" <<'EOF'
import os, struct, sys
def text(s):
    b = s.encode()
    assert len(b) < 255
    return bytes([len(b)]) + b
path = sys.argv[2]
row = ["", os.path.basename(path), "01:00", "%d KB" % (os.path.getsize(path) // 1024), path]
open(sys.argv[1], "wb").write(struct.pack("<i", 1) + b"".join(text(c) for c in row))
EOF

# Counts the gaps of a raw 16-bit mono capture: silent runs (|x| <= 64) of
# 2 ms or more between the first and the last loud sample.
count_gaps() {
    python3 - "$1" <<'EOF'
import array, sys
a = array.array("h")
with open(sys.argv[1], "rb") as f:
    a.frombytes(f.read())
first = next((i for i, x in enumerate(a) if abs(x) > 64), None)
if first is None:
    print("nothing heard"); sys.exit()
last = len(a) - 1
while abs(a[last]) <= 64:
    last -= 1
gaps, lost, run = 0, 0, 0
for x in a[first:last + 1]:
    if abs(x) <= 64:
        run += 1
    else:
        if run >= 88:
            gaps += 1
            lost += run
        run = 0
print("%d gaps, %.0f ms silent, %.2f s heard" % (gaps, 1000.0 * lost / 44100, (last + 1 - first) / 44100))
EOF
}

# Starts a server of kind $1 in $work/$1; sets PULSE_SERVER for the clients.
start_server() {
    local kind=$1 dir=$work/$1
    mkdir -p "$dir/run/pulse"
    chmod 700 "$dir/run"
    local socket=$dir/run/pulse/native
    printf 'autospawn = no\n' >"$dir/client.conf"
    export PULSE_SERVER=unix:$socket PULSE_CLIENTCONFIG=$dir/client.conf
    if [[ $kind == pulseaudio ]]; then
        cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=bench_sink rate=44100
set-default-sink bench_sink
EOF
        XDG_RUNTIME_DIR=$dir/run HOME=$dir DBUS_SESSION_BUS_ADDRESS=disabled: pulseaudio -n \
            --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
            -F "$dir/server.pa" >"$dir/server.log" 2>&1 &
        pids+=($!)
    else
        dbus-daemon --session --nofork --nosyslog --address="unix:path=$dir/run/bus" \
            >"$dir/server.log" 2>&1 &
        pids+=($!)
        while [[ ! -S $dir/run/bus ]]; do sleep 0.1; done
        local env=(XDG_RUNTIME_DIR="$dir/run" HOME="$dir" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/run/bus")
        env "${env[@]}" pipewire >>"$dir/server.log" 2>&1 &
        pids+=($!)
        while [[ ! -S $dir/run/pipewire-0 ]]; do sleep 0.1; done
        env "${env[@]}" wireplumber >>"$dir/server.log" 2>&1 &
        pids+=($!)
        env "${env[@]}" pipewire-pulse >>"$dir/server.log" 2>&1 &
        pids+=($!)
    fi
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.2; done
    if [[ $kind != pulseaudio ]]; then
        pactl load-module module-null-sink sink_name=bench_sink >/dev/null
        sleep 1
        pactl set-default-sink bench_sink
    fi
}

stop_server() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
}

# Runs velumo on a display of its own with the environment given; sets
# app_pid, display and window, and clicks Play.
start_velumo() {
    rm -f "$work/display"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    pids+=($!)
    while [[ ! -s $work/display ]]; do sleep 0.1; done
    display=:$(cat "$work/display")
    env DISPLAY="$display" SDL_AUDIODRIVER=pulseaudio QT_QPA_PLATFORM=xcb "$@" \
        "$work/app/velumo" >"$work/app/log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    window=$(DISPLAY=$display xdotool search --sync --onlyvisible --name '^Velumo$' | head -n 1)
    sleep 1
    click 46 92 # Play
}

# Clicks at dialog units (x, y) of the 407 x 322 window.
click() {
    local WIDTH HEIGHT
    eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window" | grep -E '^(WIDTH|HEIGHT)=')"
    DISPLAY=$display xdotool mousemove --window "$window" $((WIDTH * $1 / 407)) $((HEIGHT * $2 / 322)) click 1
}

stop_velumo() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
}

# Plays the sweep with $1 while parec records the monitor; prints the gaps.
heard_through() {
    local player=$1 raw=$work/heard-$1.raw
    parec --latency-msec=20 --raw --format=s16le --rate=44100 --channels=1 \
        -d bench_sink.monitor "$raw" &
    local rec=$!
    sleep 1
    case $player in
    velumo)
        start_velumo
        sleep $((seconds + 2))
        stop_velumo
        ;;
    ffplay) ffplay -nodisp -autoexit -loglevel error "$sweep" >/dev/null 2>&1 ;;
    paplay) paplay "$sweep" ;;
    esac
    sleep 1
    kill -INT "$rec"
    wait "$rec" 2>/dev/null || true
    printf '  %-8s %s\n' "$player" "$(count_gaps "$raw")"
}

cores=$(nproc)
echo "Gaps in a ${seconds} s sweep with a CPU hog on each of $cores cores:"
for kind in pulseaudio pipewire; do
    start_server "$kind"
    hogs=()
    for _ in $(seq "$cores"); do
        sh -c 'while :; do :; done' &
        hogs+=($!)
    done
    echo "$kind ($(pactl info | sed -n 's/^Server Name: //p')):"
    for player in velumo ffplay paplay; do
        heard_through "$player"
    done
    kill "${hogs[@]}"
    wait "${hogs[@]}" 2>/dev/null || true
    stop_server
done

# CPU of velumo on PulseAudio, no hog: playing (spectrum shown, then hidden)
# and stopped after playing.
hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
span() { # label
    local before after
    before=$(ticks "$app_pid")
    sleep "$span_seconds"
    after=$(ticks "$app_pid")
    printf '  %-32s %5.2f %% of one core\n' "$1" "$(echo "100 * ($after - $before) / $hz / $span_seconds" | bc -l)"
}
span_seconds=$((seconds / 3))
echo "velumo's CPU on PulseAudio (${span_seconds} s spans):"
start_server pulseaudio
start_velumo
sleep 2
span "playing, spectrum shown:"
click 78 92 # Stop
sleep 2
span "stopped:"
stop_velumo
start_velumo VELUMO_NO_SPECTRUM=1
sleep 2
span "playing, spectrum hidden:"
stop_velumo
stop_server
