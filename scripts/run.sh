#!/usr/bin/env bash
# The main job: sets up the machine, builds the console, plugs a simulated interface when the bus has none
# the console serves, keeps its level meters moving as live signals would, and starts the console. With a
# display the console runs until you close its windows. Without one it runs on a virtual display, with a
# single-instance lock of its own (so a console open elsewhere on the machine does not stop it), long
# enough to save a PNG screenshot of each console window (the paths are printed); then it is ended the way
# the end of a session ends it, and the script fails when no painted window was saved or the console
# failed, showing the console's exit status and the last lines of its debug log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${STRELLIS_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${STRELLIS_BUILD_TYPE:-Release}" > /dev/null
cmake --build "$build" -j"${STRELLIS_JOBS:-$(nproc)}" --target devsim StrellisConsole meter-wave
# The build folder as an absolute path, whether it was given relative to the checkout or absolute.
build_abs=$(cd "$build" && pwd)

devsim=$build/sim/devsim
console=$build/console/StrellisConsole
# The console serves the interfaces of its own maker only: units of other makers on the bus get no window.
vendor=0x003b71

# (grep reads to the end: with pipefail, a reader that stops early could fail the pipe.)
ours() {
    "$devsim" dump "$1" | grep "^vendor $vendor " > /dev/null
}

# The model name of a unit as the presets name it; the unit's unique name for a unit of a record of its own.
model_of() {
    local preset
    preset=$("$devsim" list | awk -v u="$1" '$1 == u { print $NF }')
    "$devsim" models | awk -v p="$preset" '$1 == p { sub(/^[^ ]+ +/, ""); sub(/ +vendor .*/, ""); print }' |
        grep . || "$devsim" dump "$1" | sed -n 's/^unique_name "\(.*\)" .*/\1/p' | grep . ||
        echo "unit with a record of its own"
}

unit=
spare=
while read -r name state _; do
    ours "$name" || continue
    if [[ $state == plugged ]]; then
        unit=${unit:-$name}
    else
        spare=${spare:-$name}
    fi
done < <("$devsim" list)
if [[ -z $unit ]]; then
    if [[ -n $spare ]]; then
        unit=$spare
        "$devsim" plug "$unit"
    else
        # A free unit name: the bus may hold units of other makers.
        for n in $(seq 1 64); do
            "$devsim" list | grep "^u$n " > /dev/null || { unit=u$n; break; }
        done
        "$devsim" plug "$unit" --model st8 --unique-name "Strellis 8"
    fi
    echo "Plugged a simulated $(model_of "$unit") as unit $unit (see: $devsim --help)."
fi

# Signals on every input and output of the unit, for as long as the console runs.
"$build/tools/meterwave/meter-wave" "$unit" &
wave=$!
trap 'kill $wave 2>/dev/null || true' EXIT
echo "Moving the meters of unit $unit (devsim set $unit meter.in.<n> <level> sets one by hand)."

# The console's debug lines go to a file of this run unless the caller chose one.
if [[ -z "${STRELLIS_DEBUG_LOG:-}" ]]; then
    export STRELLIS_DEBUG_LOG=$build_abs/console-debug.log
    : > "$STRELLIS_DEBUG_LOG"
fi
echo "The console's debug lines go to $STRELLIS_DEBUG_LOG."

if [[ -n "${DISPLAY:-}" ]]; then
    "$console"
    exit
fi

shots=$build_abs/screenshots
mkdir -p "$shots"
rm -f "$shots"/*.png
# A lock of this checkout's own: the machine-wide lock of the console may be held by a user's console
# (or another checkout's main job), which would make this one end at once.
export STRELLIS_CONSOLE_LOCK=${STRELLIS_CONSOLE_LOCK:-$build_abs/console.lock}
export STRELLIS_SHOTS="$shots" STRELLIS_CONSOLE="$console"
export STRELLIS_LOG_START=$(($(stat -c %s "$STRELLIS_DEBUG_LOG" 2>/dev/null || echo 0) + 1))
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
        # A window not painted yet is all one colour: a drawn console window has hundreds.
        colours=0
        for _ in $(seq 10); do
            import -window "$w" "$file" 2>/dev/null &&
                colours=$(identify -format %k "$file" 2>/dev/null || echo 0)
            ((colours > 16)) && break
            sleep 0.5
        done
        if ((colours > 16)); then
            echo "Screenshot of \"$title\": $file"
            found=1
        else
            echo "The window \"$title\" was not painted (its screenshot has $colours colours): $file" >&2
        fi
    done
    ended=0
    kill -0 $pid 2>/dev/null || ended=1
    kill -TERM $pid 2>/dev/null
    wait $pid
    status=$?
    failed=0
    if [[ $found != 1 ]]; then
        echo "The console opened no window that could be saved." >&2
        failed=1
    fi
    # The end of a session ends the console with SIGTERM; anything else is a failure of its own.
    if [[ $ended == 1 ]]; then
        echo "The console ended by itself, with exit status $status, before the screenshots were done." >&2
        failed=1
    elif [[ $status != 0 && $status != 143 ]]; then
        echo "The console ended with exit status $status." >&2
        failed=1
    fi
    if [[ $failed == 1 ]]; then
        echo "The last lines of its debug log ($STRELLIS_DEBUG_LOG):" >&2
        tail -c +"$STRELLIS_LOG_START" "$STRELLIS_DEBUG_LOG" 2>/dev/null | tail -n 20 | sed "s/^/    /" >&2
        exit 1
    fi
'
