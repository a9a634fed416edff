#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its committed
# corpus (fuzz/corpus/<target>/, regression inputs included). The target
# that runs whole conversions gets a tight memory limit and a time limit per
# input: reading any input must stay within a fixed budget.
#   fuzz/run-all.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for src in "$here"/*.cpp; do
    name=$(basename "$src" .cpp)
    work=$(mktemp -d)
    seeds=()
    [[ -d "$here/corpus/$name" ]] && seeds+=("$here/corpus/$name")
    limits=(-rss_limit_mb=2048)
    if [[ $name == fuzz_conversion_job ]]; then
        limits=(-rss_limit_mb=512 -malloc_limit_mb=64 -timeout=10)
    fi
    echo "--- $name: ${seconds}s"
    if ! "$build/$name" -max_total_time="$seconds" -max_len=65536 "${limits[@]}" \
        -artifact_prefix="$work/" "$work" "${seeds[@]}" >"$work/log" 2>&1; then
        tail -n 60 "$work/log"
        echo "$name found a failure; the input is in $work" >&2
        status=1
    else
        grep -E "^#[0-9]+.*DONE|Done [0-9]+ runs" "$work/log" | tail -n 1 || true
    fi
done
exit $status
