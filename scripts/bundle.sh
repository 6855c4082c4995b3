#!/usr/bin/env bash
# Makes the portable bundle dist/Coffervale/ from a build: the window and the command-line
# tool with every library and Qt plugin they load except the C library and the display
# libraries every desktop has, the resources, the licence texts and the launchers. The bundle
# holds no symbolic links and needs no execute bits, so it runs from a FAT32 or exFAT stick:
#   sh /media/USER/STICK/Coffervale/start.sh
# Usage: scripts/bundle.sh [BUILD_DIR [OUT_DIR]]   (defaults: build, dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/dist}
app="$build/app/coffervale"
cli="$build/cli/coffervale-cli"
for program in "$app" "$cli"; do
  [ -f "$program" ] || { echo "bundle.sh: $program is missing; build first (./run.sh or cmake --build)" >&2; exit 1; }
done

# Left to the computer the bundle runs on: the C library and its loader, the display stack
# that must match the computer's graphics driver and X or Wayland server, and the C++ runtime,
# D-Bus, GLib and HarfBuzz that every desktop has. The xcb helper libraries (libxcb-cursor,
# -icccm, -image, -keysyms, -render-util, -util) are not on every desktop and are bundled.
# tests/bundle/ checks against the same list.
source "$root/packaging/system-libraries.sh"

qt_core=$(ldd "$app" | awk '$1 ~ /^libQt6Core\.so/ { print $3 }')
[ -n "$qt_core" ] || { echo "bundle.sh: $app does not load libQt6Core" >&2; exit 1; }
plugins_from=${QT_PLUGIN_DIR:-}
if [ -z "$plugins_from" ] && command -v qtpaths6 >/dev/null; then
  plugins_from=$(qtpaths6 --query QT_INSTALL_PLUGINS)
fi
[ -n "$plugins_from" ] || plugins_from="$(dirname "$(readlink -f "$qt_core")")/qt6/plugins"
[ -d "$plugins_from/platforms" ] || { echo "bundle.sh: no Qt plugins in $plugins_from (set QT_PLUGIN_DIR)" >&2; exit 1; }

mkdir -p "$out"
stage="$out/.Coffervale.partial"
rm -rf "$stage"
mkdir -p "$stage/bin" "$stage/lib" "$stage/plugins" "$stage/licenses" "$stage/share/coffervale"

# Stripped copies: the debug information would double the bundle.
strip --strip-unneeded -o "$stage/bin/coffervale" "$app"
strip --strip-unneeded -o "$stage/bin/coffervale-cli" "$cli"

# The plugins the window loads: X11, and Wayland with its xdg-shell, decoration and EGL
# buffer integrations (loaded at start there; X11 never loads a GL integration, as the window
# draws no OpenGL), offscreen for --self-test, SVG images and icons, the photo formats of the
# thumbnails (JPEG, GIF, ICO, TIFF, WebP), compose and IBus input, and the desktop-portal
# platform theme, through which file dialogs are the desktop's own.
plugin_files=(platforms/libqxcb.so platforms/libqwayland-generic.so platforms/libqwayland-egl.so
              platforms/libqoffscreen.so imageformats/libqsvg.so
              imageformats/libqjpeg.so imageformats/libqgif.so imageformats/libqico.so
              imageformats/libqtiff.so imageformats/libqwebp.so
              iconengines/libqsvgicon.so platforminputcontexts/libcomposeplatforminputcontextplugin.so
              platforminputcontexts/libibusplatforminputcontextplugin.so
              platformthemes/libqxdgdesktopportal.so
              wayland-shell-integration/libxdg-shell.so
              wayland-decoration-client/libbradient.so
              wayland-graphics-integration-client/libqt-plugin-wayland-egl.so)
for plugin in "${plugin_files[@]}"; do
  [ -f "$plugins_from/$plugin" ] || { echo "bundle.sh: no $plugin in Qt; left out"; continue; }
  mkdir -p "$stage/plugins/$(dirname "$plugin")"
  strip --strip-unneeded -o "$stage/plugins/$plugin" "$plugins_from/$plugin"
done
for required in platforms/libqxcb.so platforms/libqoffscreen.so imageformats/libqsvg.so imageformats/libqjpeg.so \
                imageformats/libqgif.so; do
  [ -f "$stage/plugins/$required" ] || { echo "bundle.sh: Qt lacks the plugin $required" >&2; exit 1; }
done

# Qt's own texts (buttons of its dialogs, the file dialog) for the Chinese screens; English
# needs none. The window looks in translations/ beside bin/ first.
translations_from=$(qtpaths6 --query QT_INSTALL_TRANSLATIONS 2>/dev/null || echo /usr/share/qt6/translations)
[ -f "$translations_from/qtbase_zh_CN.qm" ] ||
  { echo "bundle.sh: no $translations_from/qtbase_zh_CN.qm (qt6-translations-l10n; scripts/install-deps.sh)" >&2; exit 1; }
mkdir -p "$stage/translations"
cp "$translations_from/qtbase_zh_CN.qm" "$stage/translations/"

# Every library the programs and plugins load, under its soname and without links. Only what
# they need through bundled libraries: what the computer's own display libraries need (expat
# for fontconfig ...) is the computer's too, in the version those were built against.
declare -A sources=()
while IFS= read -r elf; do
  while read -r name arrow path _; do
    [ "$arrow" = "=>" ] || continue
    if [ "$path" = "not" ]; then
      echo "bundle.sh: $elf needs $name, which this computer lacks" >&2; exit 1
    fi
    sources[$name]=$path
  done < <(ldd "$elf")
done < <(find "$stage/bin" "$stage/plugins" -type f)
needed() { objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'; }
declare -A bundled=()
pending=()
while IFS= read -r elf; do pending+=("$elf"); done < <(find "$stage/bin" "$stage/plugins" -type f)
while [ ${#pending[@]} -gt 0 ]; do
  elf=${pending[0]}
  pending=("${pending[@]:1}")
  for name in $(needed "$elf"); do
    is_system_library "$name" && continue
    [ -n "${bundled[$name]:-}" ] && continue
    [ -n "${sources[$name]:-}" ] || { echo "bundle.sh: $elf needs $name, which ldd did not find" >&2; exit 1; }
    bundled[$name]=${sources[$name]}
    pending+=("${sources[$name]}")
  done
done
for name in "${!bundled[@]}"; do
  case $name in
    # Only the collation and time zone data Qt reads: 4 MB instead of 30 (see the script).
    libicudata.so.*) "$root/packaging/small-icu-data.sh" "${bundled[$name]}" "$stage/lib/$name" ;;
    *) strip --strip-unneeded -o "$stage/lib/$name" "$(readlink -f "${bundled[$name]}")" ;;
  esac
done

# Licence texts: Debian keeps each package's in /usr/share/doc/PACKAGE/copyright.
{
  echo "Libraries and plugins in this bundle, by the Debian package they come from (package version)."
  echo "Each package's licence is in licenses/PACKAGE.txt, or in the file named after it where packages"
  echo "share one. The Qt libraries are used under the LGPL:"
  echo "they are separate files in lib/ and plugins/ and may be replaced by other builds of the"
  echo "same Qt version; the sources are those of the listed Debian package versions."
  echo "lib/libicudata.so.* holds part of the data of the ICU package (collation, time zones),"
  echo "cut with ICU's icupkg by packaging/small-icu-data.sh of Coffervale's sources."
  echo
} > "$stage/licenses/PACKAGES.txt"
if command -v dpkg-query >/dev/null; then
  declare -A packages=()
  for file in "${bundled[@]}"; do
    real=$(readlink -f "$file")
    package=$(dpkg-query -S "$real" 2>/dev/null | head -1 | cut -d: -f1) || true
    [ -n "$package" ] && packages[$package]=1
  done
  for plugin in "${plugin_files[@]}"; do
    [ -f "$plugins_from/$plugin" ] || continue
    package=$(dpkg-query -S "$(readlink -f "$plugins_from/$plugin")" 2>/dev/null | head -1 | cut -d: -f1) || true
    [ -n "$package" ] && packages[$package]=1
  done
  # Packages built from one source share one text (Qt's alone is 130 kB): kept once.
  declare -A text_of=()
  for package in $(printf '%s\n' "${!packages[@]}" | sort); do
    version=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo unknown)
    copyright="/usr/share/doc/$package/copyright"
    [ -f "$copyright" ] || { echo "bundle.sh: no licence text for $package" >&2; exit 1; }
    sum=$(sha256sum "$copyright" | cut -d' ' -f1)
    if [ -n "${text_of[$sum]:-}" ]; then
      echo "$package ($version): licence in licenses/${text_of[$sum]}" >> "$stage/licenses/PACKAGES.txt"
    else
      text_of[$sum]=$package.txt
      cp "$copyright" "$stage/licenses/$package.txt"
      echo "$package ($version)" >> "$stage/licenses/PACKAGES.txt"
    fi
  done
else
  echo "bundle.sh: dpkg-query is missing, so the licence texts cannot be collected" >&2; exit 1
fi
cp "$root/packaging/copyright" "$stage/licenses/Coffervale.txt"

cp -r "$root/resources" "$stage/share/coffervale/resources"
find "$stage/share/coffervale/resources" -name '*.md' -delete
cp "$root/packaging/start.sh" "$root/packaging/coffervale-cli.sh" "$stage/"
cp "$root/packaging/launch.sh" "$stage/bin/"
cp "$root/packaging/Coffervale-bundle.desktop" "$stage/Coffervale.desktop"
cp "$root/resources/images/coffervale.svg" "$stage/coffervale.svg"
cp "$root/packaging/README-bundle.txt" "$stage/README.txt"
# The launcher checks that the computer's processor matches.
uname -m > "$stage/bin/machine.txt"
readelf -l "$stage/bin/coffervale" | sed -n 's/.*interpreter: \(.*\)]/\1/p' > "$stage/bin/loader.txt"
[ -s "$stage/bin/loader.txt" ] || { echo "bundle.sh: cannot read the program's loader" >&2; exit 1; }

# FAT32 and exFAT hold no links and refuse some characters in names.
if [ -n "$(find "$stage" -type l)" ]; then echo "bundle.sh: the bundle holds links" >&2; exit 1; fi
if find "$stage" | grep -q '[:*?"<>|\\]'; then echo "bundle.sh: a name FAT32 refuses" >&2; exit 1; fi
if [ -n "$(find "$stage" | tr 'A-Z' 'a-z' | sort | uniq -d)" ]; then
  echo "bundle.sh: two names differ only in case" >&2; exit 1
fi

# install-app copies what the manifest lists and treats a folder with it as a whole bundle.
version=$(sed -n 's/^project(Coffervale VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
{
  echo "Coffervale bundle $version"
  (cd "$stage" && find . -type f ! -name bundle-manifest.txt -printf '%P\t%s\n' | LC_ALL=C sort)
} > "$stage/bundle-manifest.txt"

rm -rf "$out/Coffervale"
mv "$stage" "$out/Coffervale"
echo "bundle.sh: $out/Coffervale, $(du -sm "$out/Coffervale" | cut -f1) MB in $(find "$out/Coffervale" -type f | wc -l) files"
