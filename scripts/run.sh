#!/usr/bin/env bash
# The main job: sets up the machine, builds the console, plugs a simulated interface when the bus has
# none, keeps its level meters moving as live signals would, and starts the console. With a display the
# console runs until you close its windows. Without one it runs on a virtual display long enough to save
# a PNG screenshot of each console window (the paths are printed), then it is ended the way the end of a
# session ends it, and the script fails when it saved none.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${STRELLIS_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${STRELLIS_BUILD_TYPE:-Release}" > /dev/null
cmake --build "$build" -j"${STRELLIS_JOBS:-$(nproc)}" --target devsim StrellisConsole meter-wave

devsim=$build/sim/devsim
console=$build/console/StrellisConsole
if ! "$devsim" list | grep -q ' plugged '; then
    if "$devsim" list | grep -q '^u1 '; then
        "$devsim" plug u1
    else
        "$devsim" plug u1 --model st8 --unique-name "Strellis 8"
    fi
    echo "Plugged a simulated Strellis 8 as unit u1 (see: $devsim --help)."
fi

# Signals on every input and output of the first plugged unit, for as long as the console runs.
unit=$("$devsim" list | awk '$2 == "plugged" { print $1; exit }')
"$build/tools/meterwave/meter-wave" "$unit" &
wave=$!
trap 'kill $wave 2>/dev/null || true' EXIT
echo "Moving the meters of unit $unit (devsim set $unit meter.in.<n> <level> sets one by hand)."

if [[ -n "${DISPLAY:-}" ]]; then
    "$console"
    exit
fi

shots=$(pwd)/$build/screenshots
mkdir -p "$shots"
export STRELLIS_SHOTS="$shots" STRELLIS_CONSOLE="$console"
echo "No display: running the console on a virtual one."
xvfb-run -a -s "-screen 0 1920x1200x24" bash -c '
    set -u
    "$STRELLIS_CONSOLE" &
    pid=$!
    # The windows appear once the interfaces were read; give them a moment to paint.
    for _ in $(seq 100); do
        [[ -n "$(xdotool search --onlyvisible --name " Console$" 2>/dev/null)" ]] && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    sleep 1.5
    found=0
    for w in $(xdotool search --onlyvisible --name " Console$" 2>/dev/null); do
        title=$(xdotool getwindowname "$w")
        file="$STRELLIS_SHOTS/${title// /_}.png"
        rm -f "$file"
        if import -window "$w" "$file" && [[ -s "$file" ]]; then
            echo "Screenshot of \"$title\": $file"
            found=1
        fi
    done
    kill -TERM $pid 2>/dev/null
    wait $pid
    status=$?
    if [[ $found != 1 ]]; then
        echo "The console opened no window (see STRELLIS_DEBUG_LOG for its debug lines)." >&2
        exit 1
    fi
    # The end of a session ends the console with SIGTERM; anything else is a failure of its own.
    if [[ $status != 0 && $status != 143 ]]; then
        echo "The console ended with status $status." >&2
        exit 1
    fi
'
