#!/usr/bin/env bash
# The main job: a demo installation under Wine. It lays out an installation
# folder with the launcher, the reference client, a product configuration, a
# staged update and an old desktop shortcut, then opens "quintarelox://" links
# with the launcher and prints what the client received, what the launcher
# logged and what it changed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

bash "$ROOT/scripts/setup.sh"
configure_and_build >/dev/null
start_display
start_wine
end_clients() { wine "C:\\windows\\system32\\taskkill.exe" /f /im vorlan.exe </dev/null >/dev/null 2>&1 || true; }
trap 'end_clients; stop_wine; stop_display' EXIT
end_clients

INSTALL_WIN='C:\Quintarelox Demo'
INSTALL="$WINEPREFIX/drive_c/Quintarelox Demo"
DESKTOP="$WINEPREFIX/drive_c/users/Public/Desktop"
OLD_NAME='旧版客户端'
NEW_NAME='Quintarelox 客户端'
wine_quiet() { wine "$@" </dev/null 2>/dev/null; }

rm -rf "$INSTALL" "$DESKTOP/$OLD_NAME.lnk" "$DESKTOP/$NEW_NAME.lnk"
mkdir -p "$INSTALL/temp"
cp "$BUILD/bin/launcher.exe" "$BUILD/bin/vorlan.exe" "$INSTALL/"
cp "$ROOT/resources/launcher.ico" "$INSTALL/vorlan.ico"
cat > "$INSTALL/ProductConfig.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product>
  <shortcut_cn>$OLD_NAME</shortcut_cn>
  <shortcut_en>Quintarelox (old)</shortcut_en>
  <shortcut_new_cn>$NEW_NAME</shortcut_new_cn>
  <shortcut_new_en>Quintarelox</shortcut_new_en>
</product>
XML
# What an updater leaves behind: leftovers and a staged archive.
echo leftover > "$INSTALL/temp/Updater.exe"
echo leftover > "$INSTALL/temp/update.td0"
python3 - "$INSTALL/temp/update.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("readme.txt", (2026, 12, 1, 9, 30, 0)), "Quintarelox 2.0\r\n")
    z.writestr(zipfile.ZipInfo("data/levels/level1.dat", (2026, 12, 1, 9, 30, 0)), "level one" * 100)
PY
mkdir -p "$DESKTOP"
wine_quiet "$BUILD/bin/shelllink.exe" write "C:\\users\\Public\\Desktop\\$OLD_NAME.lnk" "$INSTALL_WIN\\launcher.exe"
wine_quiet reg delete 'HKCU\Software\vorlan\Language' /f >/dev/null 2>&1 || true

section() { echo; echo "== $*"; }
# A step that showed nothing fails the demo at its end.
shortfalls=0
shortfall() { echo "   $*"; shortfalls=$((shortfalls + 1)); }
# The installation, without the reference client's own records.
show_tree() {
  (cd "$1" && find . \( -name 'vorlan.*.cmdline' -o -name 'vorlan.*.pipe' \) -prune -o -print |
     sort | sed 's/^/   /')
}

section "Installation folder $INSTALL_WIN before the first launch"
show_tree "$INSTALL"
section "All-users desktop before"
ls -1 "$DESKTOP" | sed 's/^/   /'

LOG="$BUILD/demo-stderr.txt"
run_launcher() {  # exact command-line tail
  section "launcher.exe $1"
  set +e
  RUNEXACT_COMMAND_LINE="\"$INSTALL_WIN\\launcher.exe\" $1" \
    wine "$BUILD/bin/runexact.exe" </dev/null >/dev/null 2>"$LOG"
  echo "   exit code: $?"
  set -e
  echo "   launcher log (standard error):"
  sed 's/^/     /' "$LOG"
}

show_clients() {
  local f
  for _ in $(seq 100); do ls "$INSTALL"/vorlan.*.cmdline >/dev/null 2>&1 && break; sleep 0.05; done
  for f in "$INSTALL"/vorlan.*.cmdline; do
    [ -e "$f" ] || { shortfall "no client started"; return; }
    echo "   client $(basename "$f" .cmdline | cut -d. -f2) command line: $(iconv -f UTF-16LE -t UTF-8 "$f")"
  done
}

run_launcher '"quintarelox://room=42&user=demo"'
show_clients
echo "   protocol command: $(wine_quiet reg query 'HKCR\quintarelox\shell\open\command' /ve | tr -d '\r' | grep REG_SZ | sed 's/^ *//')"
section "Installation folder after: the update is in place, the leftovers and archives are gone"
show_tree "$INSTALL"
echo "   readme.txt: $(tr -d '\r' < "$INSTALL/readme.txt")"
section "All-users desktop after: the shortcut bears its new name"
ls -1 "$DESKTOP" | sed 's/^/   /'
wine_quiet "$BUILD/bin/shelllink.exe" show "C:\\users\\Public\\Desktop\\$NEW_NAME.lnk" | tr -d '\r' | sed 's/^/   /'

# A second link while the client runs: the prompt asks whether to restart it.
# Escape keeps it, and the link's payload goes through the client's pipe. (A
# link within 5 s of the client's start would go to it without a prompt, as one
# of the first launch's burst.)
sleep 5
section "launcher.exe \"quintarelox://room=43\" while the client runs; the prompt is answered with Escape"
(RUNEXACT_COMMAND_LINE="\"$INSTALL_WIN\\launcher.exe\" \"quintarelox://room=43\"" \
   wine "$BUILD/bin/runexact.exe" </dev/null >/dev/null 2>"$LOG"; echo $? > "$BUILD/demo-exit") &
launch=$!
window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^提示$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.05
done
if [ -n "$window" ]; then
  echo "   prompt shown: caption 提示"
  xdotool windowfocus --sync "$window" key Escape
else
  shortfall "no prompt window found"
fi
wait "$launch"
echo "   exit code: $(cat "$BUILD/demo-exit")"
python3 - "$INSTALL" <<'PY' || shortfall "the running client received nothing through its pipe"
import glob, struct, sys
received = 0
for path in sorted(glob.glob(sys.argv[1] + "/vorlan.*.pipe")):
    data = open(path, "rb").read()
    while len(data) >= 4:
        size = struct.unpack("<I", data[:4])[0]
        print("   the running client received through its pipe:", data[4:4 + size])
        data = data[4 + size:]
        received += 1
sys.exit(0 if received else 1)
PY

end_clients
rm -f "$INSTALL"/vorlan.*.cmdline "$INSTALL"/vorlan.*.pipe
run_launcher 'forcerun:quintarelox://room=44'
show_clients
if [ "$shortfalls" != 0 ]; then
  echo "demo: $shortfalls steps showed nothing of what they should" >&2
  exit 1
fi
