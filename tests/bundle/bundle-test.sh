#!/usr/bin/env bash
# The portable bundle, the installed layout and the Debian package.
# Usage: bundle-test.sh STEP SOURCE_DIR BUILD_DIR WORK_DIR, STEP one of make, self-contained,
# stick-fat32, stick-exfat, stick-ext2, install, deb. Exit 77 is a skip (the reason is printed).
set -euo pipefail
step=$1 source=$2 build=$3 work=$4
bundle="$work/dist/Coffervale"
export COFFERVALE_PASSWORD="Stick#Test2026"
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

# Found outside a bundle: the C library and loader, the display and session libraries every
# desktop has, and what those need themselves.
allowed_outside=(linux-vdso.so.1 ld-linux-x86-64.so.2 libc.so.6 libm.so.6 libpthread.so.0
  libdl.so.2 librt.so.1
  libGL.so.1 libEGL.so.1 libGLX.so.0 libOpenGL.so.0 libGLdispatch.so.0 libgbm.so.1 libdrm.so.2
  libX11.so.6 libX11-xcb.so.1 libXau.so.6 libXdmcp.so.6 libXext.so.6 libXrender.so.1 libXi.so.6
  libSM.so.6 libICE.so.6 libuuid.so.1
  libxcb.so.1 libxcb-glx.so.0 libxcb-randr.so.0 libxcb-render.so.0 libxcb-shape.so.0
  libxcb-shm.so.0 libxcb-sync.so.1 libxcb-xfixes.so.0 libxcb-xinerama.so.0 libxcb-xinput.so.0
  libxcb-xkb.so.1 libxcb-dri2.so.0 libxcb-dri3.so.0 libxcb-present.so.0
  libwayland-client.so.0 libwayland-cursor.so.0 libwayland-egl.so.1
  libxkbcommon.so.0 libxkbcommon-x11.so.0 libfontconfig.so.1 libfreetype.so.6
  libexpat.so.1 libbrotlidec.so.1 libbrotlicommon.so.1 libbsd.so.0 libmd.so.0 libffi.so.8
  libstdc++.so.6 libgcc_s.so.1 libdbus-1.so.3 libsystemd.so.0 libcap.so.2 libgcrypt.so.20
  libgpg-error.so.0 liblz4.so.1 libglib-2.0.so.0 libpcre2-8.so.0 libharfbuzz.so.0 libgraphite2.so.3)
allowed() { local a; for a in "${allowed_outside[@]}"; do [ "$1" = "$a" ] && return 0; done; return 1; }

# The launcher's own check on offscreen Qt; prints the volume chosen.
# QT_DEBUG_PLUGINS names every plugin file loaded.
self_test() {
  QT_DEBUG_PLUGINS=1 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" sh "$1/start.sh" --self-test \
    2>"$work/self-test.err"
}

case $step in
make)
  rm -rf "$work" && mkdir -p "$work/run" && chmod 700 "$work/run"
  "$source/scripts/bundle.sh" "$build" "$work/dist"
  ;;

self-contained)
  [ -z "$(find "$bundle" -type l)" ] || fail "the bundle holds links: $(find "$bundle" -type l | head -3)"
  for f in lib/libc.so.6 lib/ld-linux-x86-64.so.2 lib/libm.so.6 lib/libpthread.so.0; do
    [ ! -e "$bundle/$f" ] || fail "the C library is bundled: $f"
  done
  for f in bin/coffervale bin/coffervale-cli plugins/platforms/libqxcb.so plugins/platforms/libqwayland-generic.so \
           plugins/imageformats/libqsvg.so start.sh coffervale-cli.sh Coffervale.desktop coffervale.svg \
           share/coffervale/resources/en.lproj/texts.txt share/coffervale/resources/zh-Hans.lproj/texts.txt \
           licenses/PACKAGES.txt licenses/libqt6core6.txt translations/qtbase_zh_CN.qm \
           plugins/imageformats/libqjpeg.so plugins/imageformats/libqgif.so plugins/imageformats/libqico.so \
           plugins/imageformats/libqtiff.so plugins/imageformats/libqwebp.so \
           plugins/platformthemes/libqxdgdesktopportal.so; do
    [ -f "$bundle/$f" ] || fail "missing $f"
  done
  # The cut-down ICU data answers what Qt asks as the full data does.
  loader=$(cat "$bundle/bin/loader.txt")
  full=$("$build/tests/bundle/print_collation") || fail "print_collation with the system's libraries"
  small=$("$loader" --library-path "$bundle/lib" "$build/tests/bundle/print_collation") ||
    fail "print_collation with the bundle's libraries"
  [ "$full" = "$small" ] || fail "the bundle's ICU data sorts or names differently: $(diff <(echo "$full") <(echo "$small"))"
  checked=0
  while IFS= read -r elf; do
    [ "$(head -c 4 "$elf" | tail -c 3)" = ELF ] || continue
    out=$(LD_LIBRARY_PATH="$bundle/lib" ldd "$elf" 2>&1) || grep -q 'statically linked' <<< "$out" || fail "ldd $elf"
    grep -q 'statically linked' <<< "$out" && continue
    while read -r name arrow path _; do
      [ "$arrow" = "=>" ] || { case $name in /*) name=$(basename "$name");; esac; path=$name; }
      [ "$path" = "not" ] && fail "$elf needs $name, which is not in the bundle"
      case $path in "$bundle"/*) continue;; esac
      allowed "$name" || fail "$elf loads $name from $path, outside the bundle"
    done <<< "$out"
    # Links to the build machine: no RPATH other than $ORIGIN-relative ones.
    if readelf -d "$elf" | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' | grep -q .; then
      fail "$elf has an absolute RPATH: $(readelf -d "$elf" | grep -E 'R(UN)?PATH')"
    fi
    checked=$((checked + 1))
  done < <(find "$bundle/bin" "$bundle/lib" "$bundle/plugins" -type f)
  [ "$checked" -gt 20 ] || fail "only $checked programs and libraries checked"
  if grep -rIl -e "$build" -e "$source" "$bundle" >/dev/null; then
    fail "text files name the build machine's folders: $(grep -rIl -e "$build" -e "$source" "$bundle" | head -3)"
  fi
  # The manifest lists every file with its size, and nothing else.
  listed=$(tail -n +2 "$bundle/bundle-manifest.txt")
  actual=$(cd "$bundle" && find . -type f ! -name bundle-manifest.txt -printf '%P\t%s\n' | LC_ALL=C sort)
  [ "$listed" = "$actual" ] || fail "the manifest does not match the files"
  echo "ok: $checked programs and libraries resolve inside the bundle; $(du -sm "$bundle" | cut -f1) MB"
  ;;

stick-fat32 | stick-ext2 | stick-exfat)
  fstype=${step#stick-}
  [ "$(id -u)" -eq 0 ] || skip "mounting a $fstype image needs root"
  command -v losetup >/dev/null && [ -e /dev/loop-control ] || skip "no loop devices here"
  case $fstype in
  fat32)
    command -v mkfs.vfat >/dev/null || skip "mkfs.vfat is missing (dosfstools)"
    grep -qw vfat /proc/filesystems || modprobe vfat 2>/dev/null || true
    grep -qw vfat /proc/filesystems || skip "this kernel has no vfat file system (and cannot load it)"
    ;;
  exfat)
    command -v mkfs.exfat >/dev/null || skip "mkfs.exfat is missing (exfatprogs)"
    command -v mount.exfat-fuse >/dev/null || skip "mount.exfat-fuse is missing (exfat-fuse)"
    [ -c /dev/fuse ] || skip "no /dev/fuse here"
    ;;
  ext2) grep -qw ext2 /proc/filesystems || skip "this kernel has no ext2 file system" ;;
  esac
  stick_work="$work/$fstype"
  media="$stick_work/media"
  mnt="$media/${SUDO_USER:-$(id -un)}/MY STICK"  # as a desktop mounts it; labels often hold blanks
  rm -rf "$stick_work" && mkdir -p "$mnt"
  image="$stick_work/stick.img"
  truncate -s 300M "$image"
  loop=""
  window=""
  # Unmounted and detached however the test ends; only the loop device made here is touched.
  release() {
    [ -z "$window" ] || kill "$window" 2>/dev/null || true
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true; fi
    # The FUSE driver lets go of the device a moment after the unmount.
    for _ in $(seq 1 50); do
      [ -z "$loop" ] || ! losetup "$loop" >/dev/null 2>&1 || losetup -d "$loop" 2>/dev/null && break
      sleep 0.1
    done
  }
  trap release EXIT
  wait_gone() { for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done; }
  case $fstype in
  fat32)
    mkfs.vfat -F 32 -n STICK "$image" >/dev/null
    # As a desktop mounts a FAT32 stick: only .exe, .com and .bat would be executable.
    mount -t vfat -o loop,showexec,uid=0,gid=0 "$image" "$mnt" || skip "mounting the FAT32 image failed"
    ;;
  exfat)
    mkfs.exfat -L "MY STICK" "$image" >/dev/null
    loop=$(losetup -f --show "$image") || skip "no free loop device"
    # The FUSE driver mounts the block device, not the image file.
    mount.exfat-fuse "$loop" "$mnt" 2>/dev/null || skip "mounting the exFAT volume with exfat-fuse failed"
    ;;
  ext2)
    # A stand-in where vfat is missing: install-app writes no execute bits, as FAT32 keeps none.
    mkfs.ext2 -q -F "$image"
    mount -t ext2 -o loop "$image" "$mnt" || skip "mounting the ext2 image failed"
    ;;
  esac
  # The loop device is neither USB nor 4 GB: it qualifies as the volume the program runs from,
  # found under a media root given the documented way.
  export COFFERVALE_MEDIA_ROOTS="$media"
  unset COFFERVALE_VOLUME

  sh "$bundle/coffervale-cli.sh" install-app "$mnt" | tee "$stick_work/install.out"
  installed="$mnt/Coffervale"
  [ -f "$installed/start.sh" ] || fail "install-app left no start.sh on the stick"
  # exFAT keeps no modes at all: the driver shows every file alike.
  if [ "$fstype" != exfat ] && [ -n "$(find "$installed" -type f -perm /111)" ]; then
    fail "files on the stick carry execute bits"
  fi
  grep -qx "Icon=$installed/coffervale.svg" "$installed/Coffervale.desktop" || fail "the .desktop icon path"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$installed/Coffervale.desktop" || fail "the installed desktop entry is not valid"
  fi

  # From the stick, the tool and the window find the stick themselves.
  cli() { sh "$installed/coffervale-cli.sh" "$@"; }
  cli init --hint "from the stick" >/dev/null || fail "coffervale-cli init from the stick, without --volume"
  [ -d "$mnt/.TovinCoffervale" ] || fail "the vault was not made on the stick the tool runs from"
  mkdir -p "$stick_work/in/Photos"
  echo "written on the stick" > "$stick_work/in/note.txt"
  head -c 3000000 /dev/urandom > "$stick_work/in/Photos/scan.raw"
  printf 'GIF89a' > "$stick_work/in/Photos/tiny.gif"
  cli put "$stick_work/in/note.txt" "$stick_work/in/Photos" >/dev/null || fail "coffervale-cli put from the stick"
  [ "$(cli cat note.txt)" = "written on the stick" ] || fail "coffervale-cli cat from the stick"
  cli tree | grep -q "scan.raw" || fail "coffervale-cli tree does not list the stored folder: $(cli tree)"
  mkdir -p "$stick_work/out"
  cli get Photos --to "$stick_work/out" >/dev/null || fail "coffervale-cli get from the stick"
  diff -r "$stick_work/in/Photos" "$stick_work/out/Photos" || fail "the files read back differ"

  # Storing many folders flushes the stick once per commit, not once per folder the commit
  # records: each flush empties the device's cache.
  for i in $(seq 1 24); do
    mkdir -p "$stick_work/in/Albums/a$i" && echo "page $i" > "$stick_work/in/Albums/a$i/p.txt"
  done
  if strace -f -o /dev/null true 2>/dev/null; then
    strace -f -qq -e trace=fsync,fdatasync -o "$stick_work/put.strace" \
      sh "$installed/coffervale-cli.sh" put "$stick_work/in/Albums" >/dev/null || fail "coffervale-cli put of 24 folders"
    flushes=$(grep -c 'fsync(' "$stick_work/put.strace" || true)
    [ "$flushes" -le 6 ] || fail "storing 24 folders flushed the stick $flushes times"
  else
    echo "note: strace cannot trace here, so the stick's flushes are not counted"
    cli put "$stick_work/in/Albums" >/dev/null || fail "coffervale-cli put of 24 folders"
  fi
  [ "$(cli cat Albums/a24/p.txt)" = "page 24" ] || fail "a file of the 24 folders read back"
  cli check >/dev/null || fail "coffervale-cli check after storing the 24 folders"

  # No display at all, as in a terminal or over ssh: the self-test still decides the volume.
  volume=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM QT_DEBUG_PLUGINS=1 XDG_RUNTIME_DIR="$work/run" \
           sh "$installed/start.sh" --self-test 2>"$work/self-test.err") ||
    fail "start.sh --self-test without a display: $(grep -v qt\\. "$work/self-test.err" | tail -5)"
  [ "$volume" = "$mnt" ] || fail "the application chose $volume, not the stick $mnt"
  grep -q "resources $installed/share/coffervale/resources" "$work/self-test.err" ||
    fail "the application's resources are not the stick's: $(grep -v qt\\. "$work/self-test.err")"
  loaded=$(sed -n 's/.*"\(.*\)" loaded library.*/\1/p' "$work/self-test.err")
  for plugin in platforms/libqoffscreen.so imageformats/libqjpeg.so imageformats/libqgif.so; do
    grep -qx "$installed/plugins/$plugin" <<< "$loaded" || fail "$plugin did not load from the stick"
  done
  outside=$(grep -v "^$installed/" <<< "$loaded" || true)
  [ -z "$outside" ] || fail "Qt plugins loaded from outside the bundle: $outside"

  # The desktop entry as GLib-based file managers launch it: without the entry's location.
  if command -v gio >/dev/null; then
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" \
      gio launch "$installed/Coffervale.desktop" 2>"$stick_work/gio.err" || fail "gio launch: $(cat "$stick_work/gio.err")"
    for _ in $(seq 1 100); do
      window=$(pgrep -f "$installed/bin/coffervale( |\$)" | head -1) && [ -n "$window" ] && break
      sleep 0.05
    done
    [ -n "$window" ] || fail "the desktop entry did not start the window: $(cat "$stick_work/gio.err")"
    kill "$window" && wait_gone "$window"
    window=""
  fi

  # Mounted noexec, the stick cannot run programs: the launcher says so.
  if mount -o remount,noexec "$mnt" 2>/dev/null; then
    if sh "$installed/coffervale-cli.sh" tree >/dev/null 2>"$stick_work/noexec.err"; then
      fail "the tool ran from a volume mounted noexec"
    fi
    grep -q "mounted with noexec" "$stick_work/noexec.err" || fail "no clear message on noexec: $(cat "$stick_work/noexec.err")"
    mount -o remount,exec "$mnt" || fail "remounting the stick with exec"
  fi

  # An install killed half-way leaves the earlier bundle whole and working.
  running() { local stat; stat=$(cat "/proc/$1/stat" 2>/dev/null) && [ "$(cut -d' ' -f1 <<< "${stat##*) }")" != Z ]; }
  for _ in 1 2 3; do
    sh "$bundle/coffervale-cli.sh" install-app "$mnt" >/dev/null 2>&1 &
    installer=$!
    while running "$installer" && [ "$(find "$mnt/.Coffervale-installing" -type f 2>/dev/null | wc -l)" -lt 8 ]; do
      sleep 0.01
    done
    kill -KILL "$installer" 2>/dev/null || true
    wait "$installer" 2>/dev/null || true
    # Finished before the kill, the install leaves no unfinished copy; then try again.
    [ -d "$mnt/.Coffervale-installing" ] && break
  done
  [ -d "$mnt/.Coffervale-installing" ] || fail "install-app finished three times before it could be interrupted"
  listed=$(tail -n +2 "$installed/bundle-manifest.txt")
  actual=$(cd "$installed" && find . -type f ! -name bundle-manifest.txt -printf '%P\t%s\n' | LC_ALL=C sort)
  [ "$listed" = "$actual" ] || fail "the earlier bundle changed under the interrupted install"
  [ "$(cli cat note.txt)" = "written on the stick" ] || fail "the tool from the earlier bundle, after the interruption"
  volume=$(self_test "$installed") || fail "start.sh --self-test after the interruption: $(cat "$work/self-test.err")"
  [ "$volume" = "$mnt" ] || fail "after the interruption the application chose $volume"

  # Installing again finishes the job, replaces the bundle and leaves the vault alone.
  sh "$bundle/coffervale-cli.sh" install-app "$mnt" >/dev/null || fail "install-app over the earlier bundle"
  [ "$(cli cat note.txt)" = "written on the stick" ] || fail "the vault changed when the bundle was replaced"
  cli check >/dev/null || fail "coffervale-cli check after reinstalling"
  left=$(find "$mnt" -mindepth 1 -maxdepth 1 ! -name Coffervale ! -name .TovinCoffervale ! -name lost+found)
  [ -z "$left" ] || fail "install-app left working folders: $left"
  echo "ok: the bundle runs from the $fstype volume mounted at $mnt"
  ;;

install)
  prefix="$work/installed"
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  for f in bin/coffervale bin/coffervale-cli share/applications/coffervale.desktop \
           share/icons/hicolor/scalable/apps/coffervale.svg share/coffervale/resources/en.lproj/texts.txt \
           share/coffervale/resources/zh-Hans.lproj/texts.txt share/coffervale/resources/images/main37.svg; do
    [ -f "$prefix/$f" ] || fail "the install lacks $f"
  done
  grep -qx 'Exec=coffervale' "$prefix/share/applications/coffervale.desktop" || fail "the .desktop entry's Exec"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/coffervale.desktop"
    desktop-file-validate "$source/packaging/Coffervale-bundle.desktop"
  fi
  mkdir -p "$work/volume"
  volume=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" "$prefix/bin/coffervale" --self-test \
           --volume "$work/volume" 2>"$work/self-test.err") || fail "installed --self-test: $(cat "$work/self-test.err")"
  [ "$volume" = "$work/volume" ] || fail "the installed program chose $volume"
  grep -q "resources $prefix/share/coffervale/resources" "$work/self-test.err" ||
    fail "the installed program does not use the installed resources: $(cat "$work/self-test.err")"
  echo "ok: installed layout in $prefix"
  ;;

deb)
  rm -rf "$work/deb"
  (cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null) || fail "cpack -G DEB"
  deb=$(find "$work/deb" -maxdepth 1 -name 'coffervale_*.deb' | head -1)
  [ -n "$deb" ] || fail "cpack made no coffervale_*.deb"
  contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
  for f in ./usr/bin/coffervale ./usr/bin/coffervale-cli ./usr/share/applications/coffervale.desktop \
           ./usr/share/icons/hicolor/scalable/apps/coffervale.svg ./usr/share/doc/coffervale/copyright \
           ./usr/share/coffervale/resources/en.lproj/texts.txt ./usr/share/coffervale/resources/zh-Hans.lproj/texts.txt; do
    grep -qx -- "$f" <<< "$contents" || fail "the package lacks $f"
  done
  ! grep -q '\.so' <<< "$contents" || fail "the package bundles libraries: $(grep '\.so' <<< "$contents" | head -3)"
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in libqt6widgets6 libqt6svg6 qt6-qpa-plugins libssl3 zlib1g; do
    grep -q "$d" <<< "$depends" || fail "Depends lacks $d: $depends"
  done
  echo "ok: $(basename "$deb"), Depends: $depends"
  ;;
*) fail "unknown step $step" ;;
esac
