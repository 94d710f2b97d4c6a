#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: once in an optimised Release build (build/,
# the one the main job uses), then the main job itself (scripts/run.sh) as a newcomer runs it, once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and the threaded suites once more with
# ThreadSanitizer (build-tsan/). Warnings in our own code are errors in every stage. Each stage prints how
# long it took. STRELLIS_JOBS sets how many jobs the builds and the test runs use (default: one per
# processor).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=${STRELLIS_JOBS:-$(nproc)}

# Everything this run makes outside the build folders (buses, registries, the main job's home and log, and
# the temporary files of the tests, also of one that crashed) lies in one folder, removed when the run ends,
# whether it passed or not.
scratch=$(mktemp -d /tmp/strellis-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch/tmp
mkdir "$TMPDIR"

# Tests get a private simulator bus and registry unless the caller chose them.
export STRELLIS_SIM_DIR="${STRELLIS_SIM_DIR:-$scratch/bus}"
export STRELLIS_REGISTRY="${STRELLIS_REGISTRY:-$scratch/registry}"
mkdir -p "$STRELLIS_SIM_DIR" "$STRELLIS_REGISTRY"

# The suites whose code runs on more than one thread: device list and notification thread, hardware
# thread and flash thread, ASIO streaming (one unit and two), the analyzer's notifier, the console window's
# poll, the system-volume link, the audio notification thread, the application with its device messages
# during start-up, and the window that reads what a unit without a whole session runs.
threaded='^(DeviceListTest|NotificationWindow|SysVolumeTest|CoreAudio|HwThreadTest|FirmwareUpdate|FlashProgressWindowTest|Streaming|Stream|StreamRestart|Scheduling|DeviceChangeNotifier|ConsoleWindowTest|PolledSnapshot|SessionEnd|TwoUnits|ApplicationTest|SessionTest)\.'

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

# The main job on its own: no display, a fresh home, bus and registry, so it starts as on a new machine.
# It must end well and leave a screenshot of a console window.
main_job() {
    local start=$SECONDS home=$scratch/run-home bus=$scratch/run-bus registry=$scratch/run-registry
    local log=$scratch/run.log
    mkdir "$home" "$bus" "$registry"
    if ! env -u DISPLAY HOME="$home" STRELLIS_SIM_DIR="$bus" STRELLIS_REGISTRY="$registry" \
        STRELLIS_BUILD_DIR="$(pwd)/build" STRELLIS_BUILD_TYPE=Release scripts/run.sh > "$log" 2>&1; then
        cat "$log"
        echo "stage main job: scripts/run.sh failed"
        return 1
    fi
    cat "$log"
    local shot
    shot=$(sed -n 's/^Screenshot of ".*": //p' "$log" | head -n 1)
    if [[ -z "$shot" || ! -s "$shot" ]]; then
        echo "stage main job: scripts/run.sh saved no screenshot"
        return 1
    fi
    echo "stage main job: $((SECONDS - start)) s"
}

werror=-DSTRELLIS_WERROR=ON
stage normal build "" -DCMAKE_BUILD_TYPE=Release $werror
main_job
stage asan build-asan "" -DCMAKE_BUILD_TYPE=Debug -DSTRELLIS_SANITIZE=ON -DSTRELLIS_BENCHMARKS=OFF $werror
# Any ThreadSanitizer report fails the test that printed it.
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    stage tsan build-tsan "$threaded" -DCMAKE_BUILD_TYPE=Debug -DSTRELLIS_TSAN=ON -DSTRELLIS_BENCHMARKS=OFF $werror
