#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The window on a real desktop (Xvfb, openbox, pcmanfm): drags and the clipboard both ways, a
# second start, a lock. Skips by itself where no display server can start.
scripts/desktop-test.sh

# Everything again under AddressSanitizer, LeakSanitizer and UBSan, the window on the offscreen
# platform. Tests labelled "large" (hundreds of MiB through the engine) are left to the plain build.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCOFFERVALE_SANITIZE=ON \
      -DCOFFERVALE_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE large

# The engine and service tests, whose pipelines run helper threads, under ThreadSanitizer: any
# data race fails the run. (The window's tests stay with the builds above.)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCOFFERVALE_TSAN=ON \
      -DCOFFERVALE_BUILD_APP=OFF -DCOFFERVALE_BUILD_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target engine_tests service_tests service_transfer_tests service_backup_tests
TSAN_OPTIONS="halt_on_error=1" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -LE large \
      -R '^(Engine|Service)'

# Each fuzz target for half a minute over its seeds; a crash, leak or undefined behaviour fails.
scripts/fuzz.sh 30
