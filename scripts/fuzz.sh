#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 300) over its seed
# corpus; exits non-zero when any target finds a crash, a leak or undefined behaviour.
# New inputs go to build-fuzz/corpus/<target>; the seeds in fuzz/corpus stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
targets=(index object config path)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCOFFERVALE_FUZZ=ON -DCOFFERVALE_BUILD_APP=OFF -DCOFFERVALE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# One target per core at a time: each libFuzzer run is single-threaded.
run_target() {
    local t=$1 work=build-fuzz/corpus/$1 log=build-fuzz/fuzz_$1.log
    mkdir -p "$work" build-fuzz/artifacts
    if ! build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix=build-fuzz/artifacts/$t- "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
        echo "fuzz_$t: FAILED (see $log and build-fuzz/artifacts)"
        tail -n 30 "$log"
        return 1
    fi
    # The last status line: runs, coverage (cov: edges, ft: features) and corpus size.
    echo "fuzz_$t: $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
}

failed=build-fuzz/failed-targets
rm -f "$failed"
for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    { run_target "$t" || echo "$t" >>"$failed"; } &
done
wait
[ ! -s "$failed" ]
