#!/usr/bin/env bash
# Runs one test program in an environment of its own, so that what a
# developer's machine holds (a home with settings, a desktop session, a
# locale, fonts) cannot hide what a fresh machine lacks. ctest runs every test
# through it (tests/CMakeLists.txt); by hand:
#   tests/support/run-hermetic.sh build/plain/tests/test_app --gtest_filter=...
#
# The program gets a fresh HOME with its XDG_* folders (removed afterwards),
# the C.UTF-8 locale and UTC, Qt on its offscreen platform with one
# 1280 x 800 screen and no other QT_* setting, and a FONTCONFIG_FILE that
# shows fontconfig one font set only. Two variables choose:
#   VELUMO_TEST_FONTS  dejavu (the default), urw, liberation or noto
#   VELUMO_TEST_SCALE  Qt's scale factor (QT_SCALE_FACTOR), 1 by default
# Kept from the caller: PATH, TMPDIR, TERM, the sanitizers' options, SDL_*,
# GTEST_* and VELUMO_* variables. Everything else is dropped.
set -euo pipefail

fonts=${VELUMO_TEST_FONTS:-dejavu}
case $fonts in
dejavu) font_dirs=(/usr/share/fonts/truetype/dejavu) package=fonts-dejavu-core ;;
urw) font_dirs=(/usr/share/fonts/opentype/urw-base35 /usr/share/fonts/type1/urw-base35)
    package=fonts-urw-base35 ;;
liberation) font_dirs=(/usr/share/fonts/truetype/liberation2 /usr/share/fonts/truetype/liberation)
    package=fonts-liberation2 ;;
noto) font_dirs=(/usr/share/fonts/truetype/noto) package=fonts-noto-core ;;
*)
    echo "run-hermetic: unknown font set '$fonts'" >&2
    exit 2
    ;;
esac
present=()
for dir in "${font_dirs[@]}"; do
    [[ -d "$dir" ]] && present+=("$dir")
done
if ((${#present[@]} == 0)); then
    echo "run-hermetic: no $fonts fonts in ${font_dirs[*]} (install $package: scripts/deps.sh --test)" >&2
    exit 2
fi

base=$(mktemp -d "${TMPDIR:-/tmp}/velumo-test-home.XXXXXX")
trap 'rm -rf "$base"' EXIT
mkdir -p "$base/home" "$base/data" "$base/config" "$base/cache" "$base/state" "$base/runtime"
chmod 700 "$base/runtime"

# The font set's folders alone, with the system's usual rules (aliases such
# as sans-serif) and its caches, so that a program does not rescan the fonts.
{
    echo '<?xml version="1.0"?>'
    echo '<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">'
    echo '<fontconfig>'
    for dir in "${present[@]}"; do
        echo "  <dir>$dir</dir>"
    done
    echo '  <include ignore_missing="yes">/etc/fonts/conf.d</include>'
    echo '  <cachedir>/var/cache/fontconfig</cachedir>'
    echo "  <cachedir>$base/cache/fontconfig</cachedir>"
    echo '</fontconfig>'
} >"$base/fonts.conf"

# The offscreen platform's one screen: a small laptop's.
cat >"$base/screen.json" <<'EOF'
{ "screens": [ { "name": "velumo-test", "x": 0, "y": 0, "width": 1280, "height": 800,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
EOF

kept=()
while IFS='=' read -r name _; do
    case $name in
    PATH | TMPDIR | TERM | ASAN_OPTIONS | LSAN_OPTIONS | UBSAN_OPTIONS | TSAN_OPTIONS | SDL_* | GTEST_* | VELUMO_*)
        kept+=("$name=${!name}")
        ;;
    esac
done < <(env)

status=0
env -i "${kept[@]}" \
    HOME="$base/home" XDG_DATA_HOME="$base/data" XDG_CONFIG_HOME="$base/config" \
    XDG_CACHE_HOME="$base/cache" XDG_STATE_HOME="$base/state" XDG_RUNTIME_DIR="$base/runtime" \
    XDG_DATA_DIRS=/usr/local/share:/usr/share XDG_CONFIG_DIRS=/etc/xdg \
    LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC \
    FONTCONFIG_FILE="$base/fonts.conf" \
    QT_QPA_PLATFORM="offscreen:configfile=$base/screen.json" \
    QT_SCALE_FACTOR="${VELUMO_TEST_SCALE:-1}" QT_ENABLE_HIGHDPI_SCALING=1 \
    "$@" || status=$?
exit "$status"
