#!/usr/bin/env bash
# The launcher's real message box under the test display, answered with the
# keyboard or its close button; then what the launcher did.
# Usage: prompt_test.sh BIN_FOLDER SCENARIO
set -uo pipefail
BIN=$(cd "$1" && pwd)
SCENARIO=$2
source "$(dirname "${BASH_SOURCE[0]}")/prompt_rig.sh"
require_display

WORK=$(mktemp -d "$BIN/../prompt_test.XXXXXX")
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

EN_TEXT='Another program is already in progress, start new one?'
ZH_TEXT='检测到程序正在运行，是否重新打开!'
# The system labels the box's buttons in its own language, as Windows does.
case "${LANG:-}" in
  zh_CN*) BUTTONS='button=确定,button=取消' ;;
  *) BUTTONS='button=OK,button=Cancel' ;;
esac

probe end-clients
install_launcher
wine_quiet reg delete "$PROTOCOL_KEY" /f >/dev/null || true

# Checks the open box as Win32 sees it: no owner, the caption, the text, OK and
# Cancel, no icon.
check_box() {
  local caption=$1 text=$2 box
  box=$(probe box | tr -d '\r')
  check "box owner" "owner=none" "$(grep '^owner=' <<<"$box")"
  check "box caption" "caption=$caption" "$(grep '^caption=' <<<"$box")"
  check "box text" "text=$text" "$(grep '^text=' <<<"$box")"
  check "box buttons" "$BUTTONS" "$(grep '^button=' <<<"$box" | paste -sd,)"
  check "box icon" "" "$(grep '^icon=some' <<<"$box")"
}

# Nothing of the launch road ran: no client start, no protocol registration.
check_nothing_launched() {
  check "no client started" "$1" "$(client_records)"
  wine_quiet reg query "$PROTOCOL_KEY" >/dev/null 2>&1
  check "protocol not registered" "1" "$?"
}

case "$SCENARIO" in
  escape-hands-off-the-link)
    set_language en-US
    start_clients 3 || exit 1
    start_launcher '"quintarelox://abc"'
    expect_box Prompt
    check_box Prompt "$EN_TEXT"
    answer_box "$window" Escape
    check "exit code" 0 "$(launcher_exit_code)"
    check "all three clients still run" 3 "$(probe clients | tr -d '\r')"
    # abc, the closing quotation mark and one zero byte: five bytes.
    for _ in $(seq 100); do [ -n "$(pipe_messages_hex)" ] && break; sleep 0.05; done
    check "pipe message" "050000006162632200" "$(pipe_messages_hex)"
    check_nothing_launched 3
    ;;
  return-restarts-every-client)
    set_language zh-CN
    start_clients 3 || exit 1
    start_launcher '"quintarelox://room=1"'
    expect_box 提示
    check_box 提示 "$ZH_TEXT"
    answer_box "$window" Return
    check "exit code" 0 "$(launcher_exit_code)"
    for _ in $(seq 100); do [ "$(client_records)" -ge 4 ] && break; sleep 0.05; done
    check "one new client started" 4 "$(client_records)"
    check "only the new client runs" 1 "$(probe clients | tr -d '\r')"
    newest=$(ls -t "$WORK"/vorlan.*.cmdline | head -n 1)
    check "new client's parameters" 'room=1"' \
      "$(iconv -f UTF-16LE -t UTF-8 "$newest" | sed 's/^"[^"]*" //')"
    sleep 0.3  # a message sent by mistake has had time to be recorded
    check "no pipe message" "" "$(pipe_messages_hex)"
    ;;
  close-button-is-cancel)
    set_language none
    start_clients 1 || exit 1
    start_launcher 'abc'
    expect_box 提示
    check_box 提示 "$ZH_TEXT"
    answer_box "$window" close
    check "exit code" 0 "$(launcher_exit_code)"
    check "client still runs" 1 "$(probe clients | tr -d '\r')"
    sleep 0.3  # a message sent by mistake has had time to be recorded
    check "no pipe message" "" "$(pipe_messages_hex)"
    check_nothing_launched 1
    ;;
  escape-without-pipe-exits-1)
    set_language en-US
    start_clients 1 VORLAN_PIPE=0 || exit 1
    start_launcher '"quintarelox://abc"'
    expect_box Prompt
    answer_box "$window" Escape
    check "exit code" 1 "$(launcher_exit_code)"
    check "client still runs" 1 "$(probe clients | tr -d '\r')"
    check_nothing_launched 1
    ;;
  *)
    echo "unknown scenario $SCENARIO"; exit 2 ;;
esac
exit $FAILED
