# Shared by prompt_test.sh and scripts/prompt_screenshots.sh: drives the
# launcher's real message box under an X display with xdotool. Needs BIN (the
# build's bin folder) and WORK (an empty folder of the caller's) to be set.

LANGUAGE_KEY='HKCU\Software\vorlan\Language'

wine_quiet() { wine "$@" </dev/null 2>/dev/null; }
probe() { wine_quiet "$BIN/promptprobe.exe" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }

# The display must answer and xdotool must be there; 77 tells CTest to skip.
require_display() {
  if [ -z "${DISPLAY:-}" ]; then
    echo "SKIPPED: no DISPLAY; run through scripts/test.sh, which starts Xvfb"; exit 77
  fi
  if ! command -v xdotool >/dev/null || ! xdotool getmouselocation >/dev/null 2>&1; then
    echo "SKIPPED: xdotool missing or display $DISPLAY not reachable"; exit 77
  fi
}

source "$(dirname "${BASH_SOURCE[0]}")/../support/protocol_key.sh"

install_launcher() {
  mkdir -p "$WORK"
  cp "$BIN/launcher.exe" "$BIN/vorlan.exe" "$WORK/"
}

# en-US, zh-CN or none (no key at all).
set_language() {
  if [ "$1" = none ]; then
    wine_quiet reg delete "$LANGUAGE_KEY" /f >/dev/null || true
  else
    wine_quiet reg add "$LANGUAGE_KEY" /ve /d "$1" /f >/dev/null
  fi
}

client_records() { ls "$WORK"/vorlan.*.cmdline 2>/dev/null | wc -l; }

# Starts reference clients (extra arguments are environment entries, such as
# VORLAN_PIPE=0) and waits until they have recorded their start.
start_clients() {
  local count=$1; shift
  local want=$(( $(client_records) + count )) i
  for _ in $(seq "$count"); do
    (cd "$WORK" && env VORLAN_RECORD_DIR="$(windows_path "$WORK")" "$@" \
       wine vorlan.exe </dev/null >/dev/null 2>&1 &)
  done
  for i in $(seq 200); do [ "$(client_records)" -ge "$want" ] && return 0; sleep 0.05; done
  echo "FAIL: the reference clients did not start"; return 1
}

# Starts the launcher with exactly this tail; its exit code lands in
# $WORK/launcher.exit when it ends.
start_launcher() {
  rm -f "$WORK/launcher.exit"
  ( probe launch "$(windows_path "$WORK/launcher.exe")" "$1" >/dev/null
    echo $? > "$WORK/launcher.exit.partial"
    mv "$WORK/launcher.exit.partial" "$WORK/launcher.exit" ) &
}

# Prints the X window of the message box with this caption. A box normally
# shows within a second; the bound is generous for a loaded machine.
find_box() {
  local window deadline=$((SECONDS + 45))
  while [ "$SECONDS" -lt "$deadline" ]; do
    window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    if [ -n "$window" ]; then echo "$window"; return 0; fi
    sleep 0.05
  done
  return 1
}

# Sets window to the message box with this caption, or fails the test with
# what Wine and the display hold instead: whether the launcher decided not to
# ask, asked in a window the display never got, or has not got that far.
expect_box() {
  window=$(find_box "$1") && return 0
  echo "FAIL: no box captioned $1"
  echo "launcher exit code so far: $(cat "$WORK/launcher.exit" 2>/dev/null || echo none)"
  echo "message box as Win32 sees it:"; probe box | tr -d '\r' | sed 's/^/  /'
  echo "windows on display $DISPLAY:"
  local id
  for id in $(xdotool search --name '' 2>/dev/null); do
    echo "  $id [$(xdotool getwindowname "$id" 2>/dev/null)]"
  done
  echo "processes:"; probe processes | tr -d '\r' | sed 's/^/  /'
  exit 1
}

# Escape, Return or close (a click on the box's close button).
answer_box() {
  local window=$1 how=$2
  case "$how" in
    close)
      eval "$(xdotool getwindowgeometry --shell "$window")"
      xdotool mousemove $((X + WIDTH - 12)) $((Y + 10)) click 1 ;;
    *)
      xdotool windowfocus --sync "$window"
      xdotool key "$how" ;;
  esac
}

# Waits for the launcher to end and prints its exit code.
launcher_exit_code() {
  local i
  for i in $(seq 400); do
    if [ -f "$WORK/launcher.exit" ]; then cat "$WORK/launcher.exit"; return 0; fi
    sleep 0.05
  done
  echo "none"
}

# Every pipe message the clients recorded, as hex: 4-byte length, then bytes.
pipe_messages_hex() { cat "$WORK"/vorlan.*.pipe 2>/dev/null | od -An -tx1 | tr -d ' \n'; }
