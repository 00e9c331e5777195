#!/usr/bin/env bash
# Burst speed under one warm Wine: ten launchers started at the same moment,
# each with a link, until the last has ended, beside one launcher with one
# link; and the reference client from its start to its pipe. Prints the
# medians and the ratio burst / one launch.
# Usage: bench_burst.sh [rounds]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

prepare_bench_install burst-bench
INSTALL="$BENCH_INSTALL"
cp "$BUILD/bin/launcher.exe" "$BUILD/bin/vorlan.exe" "$INSTALL/"
run_benchmark "$BUILD/bin/burstbench.exe" 'C:\burst-bench' "${1:-10}"
wine reg delete 'HKCR\quintarelox' /f </dev/null >/dev/null 2>&1 || true
rm -rf "$INSTALL"
