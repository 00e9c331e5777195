#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine if needed, builds everything and runs the
# tests under Wine.
#
#   bash scripts/test.sh                 every test under the default locale
#                                        (code page 1252), then the suites
#                                        labelled "locale" again under a
#                                        Chinese system locale (code page 936)
#   bash scripts/test.sh -R Archive      the given ctest selection, default locale only
#   LAUNCHER_LOCALE=zh_CN.UTF-8 bash scripts/test.sh -L locale
#                                        the given selection, Chinese locale only
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

bash "$ROOT/scripts/setup.sh"
configure_and_build
start_display
trap 'stop_wine; stop_display' EXIT

run_ctest() {
  start_wine
  echo "tests: ${*:-all} under $LANG ($LAUNCHER_ARCH programs, Wine prefix $WINEPREFIX)"
  local status=0
  (cd "$BUILD" && ctest --output-on-failure --no-tests=error --timeout 600 -j "$(nproc)" "$@") || status=$?
  # Each prefix has its own wineserver; the next pass starts its own.
  stop_wine
  return "$status"
}

if [ "$#" -gt 0 ] || [ "$LAUNCHER_LOCALE" = "$LAUNCHER_CHINESE_LOCALE" ]; then
  run_ctest "$@"
  exit
fi
status=0
run_ctest || status=$?
use_locale "$LAUNCHER_CHINESE_LOCALE"
run_ctest -L locale || status=$?
exit "$status"
