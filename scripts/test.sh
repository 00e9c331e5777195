#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine if needed, builds everything and runs every
# test under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

bash "$ROOT/scripts/setup.sh"
configure_and_build
start_display
start_wine
trap 'stop_wine; stop_display' EXIT

cd "$BUILD"
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
