#!/usr/bin/env bash
# Checks Velumo as a desktop and a distribution see it, from a build folder:
#   1. installs it into a staging folder (DESTDIR) of its own under $TMPDIR
#      (/tmp), which the unprivileged user of step 2 can reach wherever the
#      checkout is (a clone in /root sits in a private folder), and checks
#      the files: desktop-file-validate, appstreamcli validate, both
#      manual pages rendered by man and groff -ww without a warning, the
#      icons at their sizes;
#   2. starts the installed velumo offscreen as an unprivileged user with a
#      fresh home, stops it with SIGTERM and finds its list in
#      $XDG_DATA_HOME/velumo/, nothing beside the program; runs the installed
#      velumo-convert --help;
#   3. builds the Debian package (the build configured for /usr for the
#      time, then back to its own prefix), shows dpkg-deb -I and -c, and runs
#      lintian, which must report no error.
#
#   scripts/check-install.sh [BUILD_DIR]     (default: build/plain)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${1:-build/plain}
app_id=io.github.velumo.Velumo
jobs=$(nproc)

fail() {
    echo "check-install: $*" >&2
    exit 1
}
# Runs a checker that must succeed and say nothing.
silent() {
    local out
    out=$("$@" 2>&1) || fail "$* failed:"$'\n'"$out"
    [[ -z "$out" ]] || fail "$* reported:"$'\n'"$out"
}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build=$(realpath "$build")
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
cmake --build "$build" -j "$jobs" --target velumo velumo-convert velumo_install_files

echo "=== install into a staging folder (prefix $prefix)"
# Kept when the check fails, for a look at the logs; removed when it passes.
stage=$(mktemp -d "${TMPDIR:-/tmp}/velumo-install-check.XXXXXX")
chmod 755 "$stage"
echo "staging folder: $stage"
root=$stage/root
DESTDIR=$root cmake --install "$build" >"$stage/install.log"
installed=$root$prefix

for file in bin/velumo bin/velumo-convert share/applications/$app_id.desktop \
    share/metainfo/$app_id.metainfo.xml share/man/man1/velumo.1.gz \
    share/man/man1/velumo-convert.1.gz share/doc/velumo/copyright; do
    [[ -f "$installed/$file" ]] || fail "not installed: $prefix/$file"
done
for size in 16 22 24 32 48 64 128 256; do
    icon=$installed/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    [[ -f "$icon" ]] || fail "no ${size}-pixel icon"
    file "$icon" | grep -q "PNG image data, $size x $size," || fail "$icon is not $size x $size"
done

echo "=== validate the desktop entry, the metainfo and the manual pages"
silent desktop-file-validate "$installed/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$installed/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate found problems"
for page in "$installed"/share/man/man1/*.1.gz; do
    # man -l with groff's warnings on; nothing may go to standard error.
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" 2>&1 >/dev/null) ||
        fail "man -l $page failed: $warnings"
    [[ -z "$warnings" ]] || fail "man -l $page warned:"$'\n'"$warnings"
    warnings=$(zcat "$page" | groff -ww -man -Tutf8 -z 2>&1) || fail "groff failed on $page"
    [[ -z "$warnings" ]] || fail "groff -ww warned on $page:"$'\n'"$warnings"
done

echo "=== run the installed velumo as an unprivileged user"
home=$stage/home
mkdir -p "$home"
user=()
if [[ $(id -u) -eq 0 ]]; then
    # Root could write anywhere; nobody cannot write the installed tree.
    chown 65534:65534 "$home"
    user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    "${user[@]}" test -x "$installed/bin/velumo" ||
        fail "user 65534 cannot reach $installed/bin/velumo (a folder on the way is private)"
else
    # An installed program's folder is not the user's to write.
    chmod a-w "$installed/bin"
fi
run_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/data"
    XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
    QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy LANG=C.UTF-8)
"${user[@]}" "${run_env[@]}" "$installed/bin/velumo" >"$stage/velumo.log" 2>&1 &
pid=$!
# Ready once SIGTERM is caught (bit 15 of SigCgt): the window is up.
ready=0
for ((i = 0; i < 300 && !ready; i++)); do
    caught=$(sed -n 's/^SigCgt:\s*//p' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$caught" ]] || fail "velumo ended early: $(cat "$stage/velumo.log")"
    ready=$(((16#$caught >> 14) & 1))
    ((ready)) || sleep 0.1
done
((ready)) || fail "velumo did not come up within 30 seconds"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
((status == 0)) || fail "velumo exited with $status after SIGTERM: $(cat "$stage/velumo.log")"
[[ -f "$home/data/velumo/velumo.ini" ]] || fail "no list in \$XDG_DATA_HOME/velumo/"
beside=$(ls -A "$installed/bin")
[[ "$beside" == $'velumo\nvelumo-convert' ]] || fail "written beside the program: $beside"
"${user[@]}" "${run_env[@]}" "$installed/bin/velumo-convert" --help | grep -q "^Usage: velumo-convert" ||
    fail "velumo-convert --help"
echo "list stored in \$XDG_DATA_HOME/velumo/: $(ls "$home/data/velumo")"
chmod -R u+w "$stage"

echo "=== the Debian package"
restore() {
    cmake -S "$source_dir" -B "$build" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$build" -j "$jobs" --target velumo velumo-convert >/dev/null
}
if [[ "$prefix" != /usr ]]; then
    trap restore EXIT
    cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
cmake --build "$build" -j "$jobs"
rm -f "$build"/velumo_*.deb
(cd "$build" && cpack -G DEB >"$stage/cpack.log") || fail "cpack failed: $(cat "$stage/cpack.log")"
debs=("$build"/velumo_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no velumo_*.deb"
deb=${debs[0]}
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt in Depends"
dpkg-deb -f "$deb" Recommends | grep -q libmp3lame0 || fail "libmp3lame0 not recommended"
echo "=== lintian"
lintian --fail-on error --allow-root "$deb"
chmod -R u+w "$stage"
rm -rf "$stage"
echo "check-install: $deb is fine"
