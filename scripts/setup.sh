#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Tarrowin need.
# Only packages that are missing are installed, so a prepared machine starts at once.
set -euo pipefail

packages=(
  cmake make ninja-build g++ pkg-config
  qt6-base-dev xvfb xauth fonts-dejavu-core
  librtmidi-dev libjack-jackd2-dev jackd2 jack-midi-clock
  libfluidsynth-dev fluidsynth timgm6mb-soundfont libsndfile1-dev
  sox python3 python3-mido python3-rtmidi python3-numpy midicsv timidity
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  qt6-svg-dev desktop-file-utils appstream shared-mime-info
  dbus dbus-x11 at-spi2-core python3-pyatspi openbox xdotool imagemagick
  pulseaudio pulseaudio-utils libpulse-dev
  liblo-dev liblo-tools python3-liblo libdbus-1-dev python3-dbus
  dpkg-dev debhelper lintian man-db xdg-utils libfile-mimeinfo-perl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks about real-time priority on install; answer no without a prompt.
echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo_cmd[@]}" debconf-set-selections 2>/dev/null || true
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
