#!/usr/bin/env bash
# Builds Velumo and runs the whole test suite:
#   1. the plain build with warnings as errors, every test;
#   2. the address and undefined-behaviour sanitizer build, every test;
#   3. the thread sanitizer build of the audio layer, every test;
#   4. the fuzz targets (clang, libFuzzer) for a bounded time each.
# scripts/test.sh --quick runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test

quick=0
[[ "${1:-}" == "--quick" ]] && quick=1
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1

build_and_test() { # name, ctest args..., -- cmake args...
    local name=$1; shift
    local ctest_args=()
    while [[ $# -gt 0 && "$1" != "--" ]]; do ctest_args+=("$1"); shift; done
    shift || true
    echo "=== $name build"
    cmake -S . -B "build/$name" -G Ninja -DVELUMO_WERROR=ON "$@" >/dev/null
    cmake --build "build/$name" -j "$jobs"
    echo "=== $name tests"
    ctest --test-dir "build/$name" --output-on-failure -j "$jobs" --timeout 600 "${ctest_args[@]}"
}

if ((quick == 0)); then
    build_and_test asan -- -DCMAKE_BUILD_TYPE=Debug "-DVELUMO_SANITIZE=address;undefined"
    build_and_test tsan -- -DCMAKE_BUILD_TYPE=Debug -DVELUMO_SANITIZE=thread -DVELUMO_UI=OFF
    if [[ -d fuzz ]] && ls fuzz/*.cpp >/dev/null 2>&1; then
        echo "=== fuzz"
        CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DVELUMO_FUZZ=ON -DVELUMO_UI=OFF -DBUILD_TESTING=OFF "-DVELUMO_SANITIZE=address;undefined" >/dev/null
        cmake --build build/fuzz -j "$jobs"
        fuzz/run-all.sh build/fuzz/fuzz "${VELUMO_FUZZ_SECONDS:-60}"
    fi
fi
# The plain build runs last, so that its summary closes the output.
build_and_test plain -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
