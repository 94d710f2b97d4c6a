#!/usr/bin/env bash
# The main job: sets up the machine, builds, plugs a simulated interface when the bus has none, and runs
# the program against it. Until the console exists the program is strellis-probe, which prints what the
# device layer reads of every plugged interface.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target devsim strellis-probe

devsim=build/sim/devsim
if ! "$devsim" list | grep -q .; then
    "$devsim" plug u1 --model st8 --unique-name "Strellis 8"
    echo "Plugged a simulated Strellis 8 as unit u1 (see: $devsim --help)."
fi
exec build/tools/probe/strellis-probe
