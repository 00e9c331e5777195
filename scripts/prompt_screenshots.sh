#!/usr/bin/env bash
# Photographs the launcher's restart prompt in both languages, as the real
# message box shows it under Wine: docs/prompt-zh.png and docs/prompt-en.png.
# Builds first if needed; uses a display of its own unless LAUNCHER_DISPLAY is set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
source "$ROOT/tests/launcher/prompt_rig.sh"

bash "$ROOT/scripts/setup.sh"
configure_and_build >/dev/null
start_display
start_wine
BIN="$BUILD/bin"
WORK=$(mktemp -d "$BUILD/prompt_screenshots.XXXXXX")
trap 'probe end-clients; set_language none; rm -rf "$WORK"; stop_wine; stop_display' EXIT
require_display

install_launcher
probe end-clients
start_clients 1
for shot in zh:zh-CN:提示 en:en-US:Prompt; do
  IFS=: read -r name language caption <<<"$shot"
  set_language "$language"
  start_launcher ''
  window=$(find_box "$caption")
  xdotool windowfocus --sync "$window"
  sleep 0.5  # let the focused frame repaint
  import -window "$window" "$ROOT/docs/prompt-$name.png"
  answer_box "$window" Escape
  [ "$(launcher_exit_code)" = 0 ] || { echo "the launcher did not end as expected"; exit 1; }
  echo "saved docs/prompt-$name.png"
done
