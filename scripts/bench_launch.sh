#!/usr/bin/env bash
# Launch speed under one warm Wine: the launcher from its start to the
# client's start (a shortcut to refresh, no update) against starting the
# reference client directly and against the floor (launchfloor.exe: the
# launcher's system DLLs and its client start only). Prints the medians and the
# ratios launcher / direct and launcher / floor.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

prepare_bench_install launch-bench
INSTALL="$BENCH_INSTALL"
cp "$BUILD/bin/launcher.exe" "$BUILD/bin/launchfloor.exe" "$BUILD/bin/vorlan.exe" "$INSTALL/"
cp "$ROOT/resources/launcher.ico" "$INSTALL/vorlan.ico"
run_benchmark "$BUILD/bin/launchbench.exe" 'C:\launch-bench' "${1:-30}" ${2:-}
rm -rf "$INSTALL"
