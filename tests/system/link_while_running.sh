#!/usr/bin/env bash
# A second protocol link while the client runs, as the shell starts the
# launcher for it: answered with Cancel or OK in the real prompt under the
# test display, or forced past the prompt with "forcerun:". Checked from
# outside: pipe messages and start records of the reference clients, the
# protocol key, the launcher's standard error and exit code, the staged update.
# Usage: link_while_running.sh BIN_FOLDER SCENARIO
set -uo pipefail
BIN=$(cd "$1" && pwd)
SCENARIO=$2
source "$(dirname "${BASH_SOURCE[0]}")/../launcher/prompt_rig.sh"
require_display

WORK=$(realpath "$(mktemp -d "$BIN/../link_while_running.XXXXXX")")
FAILED=0
check() {  # description, expected, actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; FAILED=1; fi
}
cleanup() {
  probe end-clients
  set_language none
  restore_protocol_key "$WORK/protocol_key.reg"
  rm -rf "$WORK"
}
trap cleanup EXIT
save_protocol_key "$WORK/protocol_key.reg"

COMMAND_KEY='HKCR\quintarelox\shell\open\command'
SENTINEL='sentinel: no launcher wrote this'
LAUNCHER_WIN=$(windows_path "$WORK/launcher.exe")

# Runs the launcher with exactly this tail; standard streams land in
# $WORK/stderr.txt, the exit code in $WORK/launcher.exit when it ends.
start_launcher_captured() {
  rm -f "$WORK/launcher.exit" "$WORK/stderr.txt"
  ( wine_quiet "$BIN/systemprobe.exe" launch "$LAUNCHER_WIN" "$1" "$(windows_path "$WORK/stderr.txt")"
    echo $? > "$WORK/launcher.exit.partial"
    mv "$WORK/launcher.exit.partial" "$WORK/launcher.exit" ) &
}

open_command() {
  wine_quiet reg query "$COMMAND_KEY" /ve | tr -d '\r' | LC_ALL=C sed -n 's/^ *([^)]*) *REG_SZ *//p'
}

stderr_records() { [ -f "$WORK/stderr.txt" ] && tr -d '\r' < "$WORK/stderr.txt" | sed 's/^\[VOV\]\[I\]\[[0-9: -]*\] //'; }

running_clients() { probe clients | tr -d '\r'; }

newest_parameters() {
  iconv -f UTF-16LE -t UTF-8 "$(ls -t "$WORK"/vorlan.*.cmdline | head -n 1)" | sed 's/^"[^"]*" //'
}

wait_for_records() {
  for _ in $(seq 200); do [ "$(client_records)" -ge "$1" ] && return 0; sleep 0.05; done
}

# The client runs after a first launch from the desktop; then the protocol
# key holds a sentinel and an update is staged.
probe end-clients
install_launcher
set_language en-US
start_launcher_captured ""
check "first launch exit code" 0 "$(launcher_exit_code)"
wait_for_records 1
check "first client started" 1 "$(client_records)"
check "first launch registered the protocol" "\"$LAUNCHER_WIN\" \"%1\"" "$(open_command)"
wine_quiet reg add "$COMMAND_KEY" /ve /d "$SENTINEL" /f >/dev/null
mkdir -p "$WORK/temp"
echo "staged update" > "$WORK/temp/update.zip"
first_pid=$(ls "$WORK"/vorlan.*.cmdline | sed 's/.*vorlan\.\([0-9]*\)\.cmdline/\1/')
# Within 5 s of its start the client counts as the first launch's own, which
# a link reaches without a prompt and force does not restart: the second link
# comes later, as a user's would.
sleep 5

case "$SCENARIO" in
  cancel-hands-off-only)
    start_launcher_captured '"quintarelox://room=2"'
    expect_box Prompt
    answer_box "$window" Escape
    check "exit code" 0 "$(launcher_exit_code)"
    for _ in $(seq 100); do [ -n "$(pipe_messages_hex)" ] && break; sleep 0.05; done
    # room=2, the closing quotation mark and one zero byte: eight bytes.
    check "the running client got the payload" "08000000726f6f6d3d322200" "$(pipe_messages_hex)"
    check "the pipe message came to the first client" "$WORK/vorlan.$first_pid.pipe" \
      "$(ls "$WORK"/vorlan.*.pipe)"
    check "no second client started" 1 "$(client_records)"
    check "the first client still runs" 1 "$(running_clients)"
    check "no registration" "$SENTINEL" "$(open_command)"
    check "no log record" "" "$(cat "$WORK/stderr.txt")"
    check "the update stays staged" "staged update" "$(cat "$WORK/temp/update.zip")"
    check "nothing placed for extraction" "no" "$([ -e "$WORK/update.zip" ] && echo yes || echo no)"
    ;;
  ok-restarts-with-the-link)
    start_launcher_captured '"quintarelox://room=2"'
    expect_box Prompt
    answer_box "$window" Return
    check "exit code" 0 "$(launcher_exit_code)"
    wait_for_records 2
    check "one new client started" 2 "$(client_records)"
    check "only the new client runs" 1 "$(running_clients)"
    check "the new client's parameters" 'room=2"' "$(newest_parameters)"
    check "registered again" "\"$LAUNCHER_WIN\" \"%1\"" "$(open_command)"
    # The staged "update" is no archive: it is refused, and says so.
    check "the launch's records" $'class path: vorlan.exe\npar: room=2"\nupdate archive refused: 0x200' \
      "$(stderr_records)"
    check "the staged update was taken" "no" "$([ -e "$WORK/temp/update.zip" ] && echo yes || echo no)"
    sleep 0.3  # a message sent by mistake has had time to be recorded
    check "no pipe message" "" "$(pipe_messages_hex)"
    ;;
  forcerun-restarts-without-prompt)
    start_launcher_captured 'forcerun:"quintarelox://room=3"'
    check "exit code, nobody answering" 0 "$(launcher_exit_code)"
    check "no box" "" "$(xdotool search --onlyvisible --name '^Prompt$' 2>/dev/null)"
    wait_for_records 2
    check "one new client started" 2 "$(client_records)"
    check "only the new client runs" 1 "$(running_clients)"
    check "the new client's parameters" 'room=3"' "$(newest_parameters)"
    check "registered again" "\"$LAUNCHER_WIN\" \"%1\"" "$(open_command)"
    # The staged "update" is no archive: it is refused, and says so.
    check "the launch's records" $'class path: vorlan.exe\npar: room=3"\nupdate archive refused: 0x200' \
      "$(stderr_records)"
    sleep 0.3
    check "no pipe message" "" "$(pipe_messages_hex)"
    ;;
  *)
    echo "unknown scenario $SCENARIO"; exit 2 ;;
esac
exit $FAILED
