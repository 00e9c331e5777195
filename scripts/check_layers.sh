#!/usr/bin/env bash
# The subsystems' includes run one way:
#   launcher (entry point) -> desktop, update -> log -> launcher/base
# A file may include from its own folder and from the folders below it. The
# link checks (cmake/link_checks.cmake) catch what an include does not show,
# such as a declaration written by hand.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
allowed() {
  case "$1" in
    launcher/base/*) echo "launcher/base" ;;
    log/*) echo "log launcher/base" ;;
    update/*) echo "update log launcher/base" ;;
    desktop/*) echo "desktop log launcher/base" ;;
    launcher/*) echo "launcher desktop update log" ;;
  esac
}
status=0
while IFS= read -r file; do
  read -r -a folders <<< "$(allowed "$file")"
  while IFS= read -r included; do
    ok=0
    for folder in "${folders[@]}"; do
      if [[ "$included" == "$folder/"* ]]; then ok=1; fi
    done
    if (( ! ok )); then
      echo "$file includes $included, which runs against the layers"
      status=1
    fi
  done < <(sed -n 's/^#include "\(\(launcher\|update\|desktop\|log\)\/[^"]*\)".*/\1/p' "$file")
done < <(find launcher update desktop log -type f \( -name '*.h' -o -name '*.cpp' -o -name ZivOziror \) | sort)
exit "$status"
