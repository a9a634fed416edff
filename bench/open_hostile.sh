#!/usr/bin/env bash
# Time and peak resident memory of opening hostile inputs, as a conversion
# job loads its source, beside ffprobe and ffmpeg on the same files.
#   bench/open_hostile.sh [BUILD_DIR]
# The set: a gibibyte of zeros (sparse) under each name the reader takes,
# 64 MiB of random bytes likewise, real files cut in half, /dev/zero named
# .mp3, and one whole real MP3 for reference. Every open of ours must stay
# within 2 s and 64 MiB; the script prints the worst case and fails when
# either is exceeded. The peers get 60 s each before they are stopped.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELUMO_UI=OFF -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" --target open_bench -j2 >/dev/null
bench=$build/bench/open_bench

for ext in mp3 wma wav; do
    truncate -s 1G "$work/zeros.$ext"
    head -c 64M /dev/urandom >"$work/random.$ext"
done
ln -s /dev/zero "$work/devzero.mp3"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=600:r=44100" -ac 2 -c:a libmp3lame -b:a 192k "$work/real.mp3"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=120:r=44100" -ac 2 -c:a wmav2 -b:a 128k "$work/real.wma"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=120:r=44100" -ac 2 "$work/real.wav"
for ext in mp3 wma wav; do
    size=$(stat -c %s "$work/real.$ext")
    head -c $((size / 2)) "$work/real.$ext" >"$work/truncated.$ext"
done

inputs=("$work"/zeros.* "$work"/random.* "$work"/truncated.* "$work/devzero.mp3" "$work/real.mp3")

echo "Velumo (ConversionJob::LoadSource, one child process per file):"
echo "       s  peak KiB  over base  result  file"
"$bench" "${inputs[@]}" | tee "$work/ours"

# "seconds KiB" of one peer run; a run that outlasts 60 s is stopped.
peer() {
    /usr/bin/time -f "%e %M" -o "$work/time" timeout 60 "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/time"
}
echo
echo "Peers (seconds, peak KiB):"
printf '%-18s %18s %18s\n' file "ffprobe" "ffmpeg -i"
for f in "${inputs[@]}"; do
    probe=$(peer ffprobe -v error "$f")
    full=$(peer ffmpeg -nostdin -v error -i "$f" -f null -)
    printf '%-18s %18s %18s\n' "$(basename "$f")" "$probe" "$full"
done

# The worst case of ours over the hostile set (the whole real file is
# there for reference only).
read -r worst_s worst_s_file < <(grep -v '(baseline)' "$work/ours" | grep -v real.mp3 |
    awk '{print $1, $NF}' | sort -rn | head -n 1)
read -r worst_kib worst_kib_file < <(grep -v '(baseline)' "$work/ours" | grep -v real.mp3 |
    awk '{print $2, $NF}' | sort -rn | head -n 1)
echo
printf 'worst time:   %.3f s (%s)\n' "$worst_s" "$(basename "$worst_s_file")"
printf 'worst memory: %d KiB peak (%s)\n' "$worst_kib" "$(basename "$worst_kib_file")"
if awk -v s="$worst_s" -v k="$worst_kib" 'BEGIN { exit !(s > 2.0 || k > 65536) }'; then
    echo "over the budget of 2 s and 64 MiB" >&2
    exit 1
fi
