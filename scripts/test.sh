#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: once in a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and the threaded suites once more with
# ThreadSanitizer (build-tsan/). Each stage prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

# Tests get a private simulator bus and registry unless the caller chose them.
export STRELLIS_SIM_DIR="${STRELLIS_SIM_DIR:-$(mktemp -d /tmp/strellis-test-bus.XXXXXX)}"
export STRELLIS_REGISTRY="${STRELLIS_REGISTRY:-$(mktemp -d /tmp/strellis-test-registry.XXXXXX)}"

# The suites whose code runs on more than one thread: device list and notification thread, hardware
# thread and flash thread, ASIO streaming, the analyzer's notifier, the console window's poll, the
# system-volume link and the audio notification thread.
threaded='^(DeviceListTest|NotificationWindow|SysVolumeTest|CoreAudio|HwThreadTest|FirmwareUpdate|FlashProgressWindowTest|Streaming|Stream|StreamRestart|Scheduling|DeviceChangeNotifier|ConsoleWindowTest|PolledSnapshot|SessionEnd)\.'

stage() {
    local name=$1 dir=$2 filter=$3
    shift 3
    local start=$SECONDS
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    local built=$SECONDS
    local args=(--test-dir "$dir" --output-on-failure -j"$jobs")
    [[ -n "$filter" ]] && args+=(-R "$filter")
    # GUI tests need a display: without one, the whole run gets a virtual one.
    if [[ -z "${DISPLAY:-}" ]]; then
        xvfb-run -a -s "-screen 0 1920x1200x24" ctest "${args[@]}"
    else
        ctest "${args[@]}"
    fi
    echo "stage $name: build $((built - start)) s, tests $((SECONDS - built)) s"
}

stage normal build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage asan build-asan "" -DCMAKE_BUILD_TYPE=Debug -DSTRELLIS_SANITIZE=ON -DSTRELLIS_BENCHMARKS=OFF
# Any ThreadSanitizer report fails the test that printed it.
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    stage tsan build-tsan "$threaded" -DCMAKE_BUILD_TYPE=Debug -DSTRELLIS_TSAN=ON -DSTRELLIS_BENCHMARKS=OFF
