# shellcheck shell=bash
# Libraries a bundle leaves to the computer it runs on: the C library and its loader, the
# display stack (OpenGL/EGL, X11 and the core xcb libraries, Wayland, xkbcommon, fontconfig and
# freetype) that must match the computer's drivers, servers and font configuration, and what
# every desktop session runs on: the C++ runtime (the computer's graphics driver may need a
# newer one than ours, and only one can be loaded), D-Bus, GLib and HarfBuzz. Sourced by
# scripts/bundle.sh and the bundle tests.
system_library_patterns=(
  linux-vdso.so.1 ld-linux-x86-64.so.2 ld-linux-aarch64.so.1 ld-linux.so.2 ld-linux-armhf.so.3
  libc.so.6 libm.so.6 libpthread.so.0 libdl.so.2 librt.so.1 libresolv.so.2 libutil.so.1
  libGL.so.1 libEGL.so.1 libGLX.so.0 libOpenGL.so.0 libGLdispatch.so.0 libgbm.so.1 libdrm.so.2
  libX11.so.6 libX11-xcb.so.1 libXau.so.6 libXdmcp.so.6 libXext.so.6 libXrender.so.1 libXi.so.6
  libSM.so.6 libICE.so.6
  libxcb.so.1 libxcb-dri2.so.0 libxcb-dri3.so.0 libxcb-glx.so.0 libxcb-present.so.0
  libxcb-randr.so.0 libxcb-render.so.0 libxcb-shape.so.0 libxcb-shm.so.0 libxcb-sync.so.1
  libxcb-xfixes.so.0 libxcb-xinerama.so.0 libxcb-xinput.so.0 libxcb-xkb.so.1
  libwayland-client.so.0 libwayland-cursor.so.0 libwayland-egl.so.1
  libxkbcommon.so.0 libxkbcommon-x11.so.0 libfontconfig.so.1 libfreetype.so.6
  libstdc++.so.6 libgcc_s.so.1 libdbus-1.so.3 libglib-2.0.so.0 libharfbuzz.so.0
)

# is_system_library SONAME: whether the bundle leaves it out.
is_system_library() {
  local pattern
  for pattern in "${system_library_patterns[@]}"; do
    [ "$1" = "$pattern" ] && return 0
  done
  return 1
}
