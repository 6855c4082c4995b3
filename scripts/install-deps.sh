#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config zlib1g-dev libdeflate-dev libssl-dev
          libgtest-dev libgmock-dev libbenchmark-dev git
          # The window: Qt Widgets with its SVG images, the X11 and Wayland platforms, and a
          # font that has the Chinese texts; for the bundle also the photo formats (TIFF,
          # WebP), Qt's Chinese texts and the desktop-portal theme.
          qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-wayland fonts-noto-cjk
          qt6-image-formats-plugins qt6-translations-l10n qt6-xdgdesktopportal-platformtheme
          # Screenshots, the desktop test (with a real file manager) and the start benchmark under
          # a virtual display.
          xvfb xauth openbox imagemagick xdotool xclip dbus-daemon pcmanfm dbus-x11
          # The portable bundle (strip, readelf, objdump; ICU's tools cut its data) and its
          # tests on stick images (exFAT through FUSE, the flushes counted by strace) and of its
          # desktop entry (gio).
          binutils icu-devtools dosfstools e2fsprogs exfatprogs exfat-fuse strace desktop-file-utils
          libglib2.0-bin)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
