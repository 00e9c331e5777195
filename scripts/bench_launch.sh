#!/usr/bin/env bash
# Launch speed under one warm Wine: the launcher from its start to the
# client's start and to its own end (a shortcut to refresh, no update) against
# the floor (launchfloor.exe: the launcher's system DLLs and its client start
# only) and against starting the reference client directly; and the time of
# each step of the launch road, from the launcher built with its step marks.
# Prints the medians, the step table and the ratios.
# Usage: bench_launch.sh [rounds] [bare|stale]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

prepare_bench_install launch-bench
INSTALL="$BENCH_INSTALL"
mkdir -p "$INSTALL/traced"
cp "$BUILD/bin/launcher.exe" "$BUILD/bin/launchfloor.exe" "$BUILD/bin/vorlan.exe" "$INSTALL/"
cp "$BUILD/bin/tracedlauncher.exe" "$INSTALL/traced/launcher.exe"
cp "$BUILD/bin/tracedfloor.exe" "$INSTALL/traced/launchfloor.exe"
cp "$BUILD/bin/vorlan.exe" "$INSTALL/traced/"
cp "$ROOT/resources/launcher.ico" "$INSTALL/vorlan.ico"
cp "$ROOT/resources/launcher.ico" "$INSTALL/traced/vorlan.ico"
run_benchmark "$BUILD/bin/launchbench.exe" 'C:\launch-bench' "${1:-30}" ${2:-}
wine reg delete 'HKCR\quintarelox' /f </dev/null >/dev/null 2>&1 || true
rm -rf "$INSTALL"
