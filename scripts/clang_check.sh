#!/usr/bin/env bash
# A second compiler over every product source: Debian's clang, syntax only,
# for the 32-bit MinGW-w64 target the launcher ships for, against the
# MinGW-w64 headers and GCC's libstdc++. Any warning fails.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source "$ROOT/scripts/clang_flags.sh"
status=0
for source in "${PRODUCT_SOURCES[@]}"; do
  clang++ -fsyntax-only -Wall -Wextra -Werror "${CLANG_MINGW_FLAGS[@]}" "$source" || status=1
done
exit "$status"
