#!/usr/bin/env bash
# clang-tidy with the checked-in .clang-tidy over every product source, for
# the 32-bit MinGW-w64 target; any finding fails.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source "$ROOT/scripts/clang_flags.sh"
exec clang-tidy --quiet "${PRODUCT_SOURCES[@]}" -- "${CLANG_MINGW_FLAGS[@]}"
