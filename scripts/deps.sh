#!/usr/bin/env bash
# Installs the Debian packages Velumo needs, only those that are missing.
#   scripts/deps.sh          build and run
#   scripts/deps.sh --test   also the tools the tests and checks use
#   scripts/deps.sh --xvfb   also Xvfb, to run the window without a desktop
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config
    qt6-base-dev libsdl2-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
    libcdio-dev libcdio-paranoia-dev libmp3lame-dev libmp3lame0 libfftw3-dev
    fonts-dejavu-core fonts-dejavu-extra)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format clang-tidy
        xvfb xauth xdotool imagemagick sox ffmpeg lame cd-paranoia flac vorbis-tools opus-tools
        bc time ccache python3
        fonts-urw-base35 fonts-liberation2 fonts-noto-core
        dbus dbus-bin libglib2.0-bin playerctl xdg-user-dirs
        pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
        desktop-file-utils appstream man-db groff-base lintian dpkg-dev fakeroot file)
elif [[ "${1:-}" == "--xvfb" ]]; then
    packages+=(xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [[ $(id -u) -ne 0 ]] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
