#!/usr/bin/env bash
# Builds Velumo and runs the whole test suite:
#   1. the format check: every C++ file as clang-format lays it out;
#   2. the address and undefined-behaviour sanitizer build, every test;
#   3. the thread sanitizer build of the audio layer, every test;
#   4. the fuzz targets (clang, libFuzzer) for a bounded time each;
#   5. the plain build with warnings as errors, clang-tidy on its compile
#      database (.clang-tidy), the install and Debian package check
#      (scripts/check-install.sh), then every test.
# scripts/test.sh --quick runs the plain build's tests only.
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
# ctest runs every test through tests/support/run-hermetic.sh, which gives it
# a home, XDG folders, locale, time zone, fonts (FONTCONFIG_FILE) and Qt
# settings of its own; the builds and checks here run in the C locale.
export LC_ALL=C.UTF-8

# The C++ files of the tree: what git tracks, plus new files not yet added.
cxx_files() {
    git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h'
}

# ccache keeps its cache in ~/.cache/ccache, so a later run on the same
# machine (CI, a developer) compiles only what changed; a fresh machine
# simply builds everything.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths below the checkout count as relative, so that a clone in
    # another folder (CI's) finds what an earlier one compiled.
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi

build() { # name, cmake args...
    local name=$1; shift
    echo "=== $name build"
    cmake -S . -B "build/$name" -G Ninja -DVELUMO_WERROR=ON "${launcher[@]}" "$@" >/dev/null
    cmake --build "build/$name" -j "$jobs"
}

run_tests() { # name, ctest args...
    local name=$1; shift
    echo "=== $name tests"
    ctest --test-dir "build/$name" --output-on-failure -j "$jobs" --timeout 600 "$@"
}

if ((quick == 0)); then
    echo "=== format"
    cxx_files | xargs clang-format --dry-run -Werror
    build asan -DCMAKE_BUILD_TYPE=Debug "-DVELUMO_SANITIZE=address;undefined"
    run_tests asan
    build tsan -DCMAKE_BUILD_TYPE=Debug -DVELUMO_SANITIZE=thread -DVELUMO_UI=OFF
    run_tests tsan
    if [[ -d fuzz ]] && ls fuzz/*.cpp >/dev/null 2>&1; then
        echo "=== fuzz"
        CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DVELUMO_FUZZ=ON -DVELUMO_UI=OFF -DBUILD_TESTING=OFF "-DVELUMO_SANITIZE=address;undefined" >/dev/null
        cmake --build build/fuzz -j "$jobs"
        fuzz/run-all.sh build/fuzz/fuzz "${VELUMO_FUZZ_SECONDS:-60}"
    fi
fi
# The plain build runs last, so that its summary closes the output.
build plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
if ((quick == 0)); then
    echo "=== clang-tidy"
    # Every Velumo source in the compile database; the headers they include
    # are checked through .clang-tidy's header filter. A unit whose
    # preprocessed text, command, .clang-tidy and clang-tidy version are those
    # of an earlier clean check is not checked again (~/.cache/velumo).
    scripts/clang-tidy-cached.py -j "$jobs" -p build/plain \
        "$PWD/(base|platform|engine|spectrum|cd|mixer|encode|record|playlist|player|resources|controls|app|tools|tests|bench)/" \
        >build/plain/clang-tidy.log 2>&1 || {
        sed 's/\x1b\[[0-9;]*m//g' build/plain/clang-tidy.log | grep -E "(warning|error):" |
            sort -u | head -n 200
        echo "clang-tidy found problems; the whole report is in build/plain/clang-tidy.log" >&2
        exit 1
    }
    tail -n 1 build/plain/clang-tidy.log
    echo "=== install and package"
    scripts/check-install.sh build/plain
fi
run_tests plain
