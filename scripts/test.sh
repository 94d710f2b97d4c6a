#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: once in a normal build (build/) and once
# with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

# Tests get a private simulator bus and registry unless the caller chose them.
export STRELLIS_SIM_DIR="${STRELLIS_SIM_DIR:-$(mktemp -d /tmp/strellis-test-bus.XXXXXX)}"
export STRELLIS_REGISTRY="${STRELLIS_REGISTRY:-$(mktemp -d /tmp/strellis-test-registry.XXXXXX)}"

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    # GUI tests need a display: without one, the whole run gets a virtual one.
    if [[ -z "${DISPLAY:-}" ]]; then
        xvfb-run -a -s "-screen 0 1920x1200x24" ctest --test-dir "$dir" --output-on-failure -j"$jobs"
    else
        ctest --test-dir "$dir" --output-on-failure -j"$jobs"
    fi
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSTRELLIS_SANITIZE=ON -DSTRELLIS_BENCHMARKS=OFF
