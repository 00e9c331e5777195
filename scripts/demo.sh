#!/usr/bin/env bash
# The main job: a demo installation under Wine. It lays out an installation
# folder with the launcher and the reference client, opens a "quintarelox://"
# link with the launcher, and prints what the client received and what the
# launcher logged.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

bash "$ROOT/scripts/setup.sh"
configure_and_build >/dev/null
start_display
start_wine
trap 'wine "C:\\windows\\system32\\taskkill.exe" /f /im vorlan.exe </dev/null >/dev/null 2>&1 || true; stop_wine; stop_display' EXIT

INSTALL_WIN='C:\Quintarelox Demo'
INSTALL="$WINEPREFIX/drive_c/Quintarelox Demo"
rm -rf "$INSTALL"
mkdir -p "$INSTALL/temp"
cp "$BUILD/bin/launcher.exe" "$BUILD/bin/vorlan.exe" "$INSTALL/"
cp "$ROOT/resources/launcher.ico" "$INSTALL/vorlan.ico"

echo "== Installation folder: $INSTALL_WIN"
ls -1 "$INSTALL" | sed 's/^/   /'

run_launcher() {  # exact command-line tail
  echo
  echo "== launcher.exe $1"
  local log="$BUILD/demo-stderr.txt"
  set +e
  RUNEXACT_COMMAND_LINE="\"$INSTALL_WIN\\launcher.exe\" $1" \
    wine "$BUILD/bin/runexact.exe" </dev/null >/dev/null 2>"$log"
  local code=$?
  set -e
  echo "   exit code: $code"
  echo "   launcher log (standard error):"
  sed 's/^/     /' "$log"
}

show_clients() {
  local f
  for _ in $(seq 100); do ls "$INSTALL"/vorlan.*.cmdline >/dev/null 2>&1 && break; sleep 0.05; done
  for f in "$INSTALL"/vorlan.*.cmdline; do
    [ -e "$f" ] || { echo "   no client started"; return; }
    echo "   client $(basename "$f" .cmdline | cut -d. -f2) command line: $(iconv -f UTF-16LE -t UTF-8 "$f")"
  done
}

run_launcher '"quintarelox://room=42&user=demo"'
show_clients
