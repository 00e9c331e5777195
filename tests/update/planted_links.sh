#!/usr/bin/env bash
# Links and hard links planted in the installation folder, as anyone who may
# write there could plant them, then an update that the elevated launcher
# applies: nothing outside the installation is written, deleted or changes
# its attributes, and the client still starts. Wine has no junctions: a Unix
# symbolic link inside the drive stands in for one, and for a file link.
# Usage: planted_links.sh BIN_FOLDER
set -uo pipefail
BIN=$(cd "$1" && pwd)
TOP=$(realpath "$(mktemp -d "$BIN/../planted_links.XXXXXX")")
WORK="$TOP/installation"
OUT="$TOP/outside"
source "$(dirname "${BASH_SOURCE[0]}")/../launcher/prompt_rig.sh"

FAILED=0
cleanup() {
  probe end-clients
  restore_protocol_key "$TOP/protocol_key.reg"
  chmod -R u+w "$TOP" 2>/dev/null
  rm -rf "$TOP"
}
trap cleanup EXIT
save_protocol_key "$TOP/protocol_key.reg"

# zip ARCHIVE NAME=TEXT...: an archive whose items hold these texts; a name
# ending in '/' is a folder item.
zip() {
  python3 - "$@" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for spec in sys.argv[2:]:
        name, _, text = spec.partition("=")
        archive.writestr(name, text)
PY
}

# Everything outside as it is: kinds, modes (read-only is a mode under Wine),
# sizes and contents; link counts may drop when a name inside goes.
outside_state() {
  (cd "$OUT" && find . -printf '%y %p %m %s %l\n' | sort && find . -type f -exec sha1sum {} + | sort)
}

run_case() {  # name, setup function, check function
  local name=$1
  rm -rf "$WORK" "$OUT"
  mkdir -p "$WORK" "$OUT"
  install_launcher
  "$2"
  local before
  before=$(outside_state)
  wine_quiet "$WORK/launcher.exe" forcerun:planted >/dev/null
  for _ in $(seq 100); do [ "$(client_records)" -ge 1 ] && break; sleep 0.05; done
  probe end-clients
  local result=ok
  [ "$(outside_state)" = "$before" ] || { result="FAIL: $name: the outside changed"; diff <(echo "$before") <(outside_state); }
  [ "$(client_records)" = 1 ] || result="FAIL: $name: no client started"
  [ "$result" = ok ] && ! "$3" && result="FAIL: $name: the installation is not as expected"
  if [ "$result" = ok ]; then echo "ok: $name"; else echo "$result"; FAILED=1; fi
}

# An item under a linked folder: written, replaced, or a folder of it.
setup_write_under_link() {
  mkdir -p "$OUT/target" "$WORK/temp"; ln -s "$OUT/target" "$WORK/data"
  echo outside > "$OUT/target/exists.txt"
  zip "$WORK/temp/update.zip" data/new.txt=new data/exists.txt=replaced kept.txt=kept
}
check_kept_arrived() { [ "$(cat "$WORK/kept.txt" 2>/dev/null)" = kept ]; }
setup_folder_under_link() {
  mkdir -p "$OUT/target" "$WORK/temp"; ln -s "$OUT/target" "$WORK/lnk"
  echo "a file" > "$OUT/target/f"
  zip "$WORK/temp/update.zip" lnk/f/ lnk/f/g.txt=g kept.txt=kept
}
# A target that is itself a link to a file outside.
setup_file_link() {
  mkdir -p "$WORK/temp"; echo outside > "$OUT/cfg.ini"; ln -s "$OUT/cfg.ini" "$WORK/cfg.ini"
  zip "$WORK/temp/update.zip" cfg.ini=replaced kept.txt=kept
}
# A target that has another name outside, read-only there: only the name
# inside gets the new file.
setup_hard_link() {
  mkdir -p "$WORK/temp"; echo outside > "$OUT/hard.txt"; ln "$OUT/hard.txt" "$WORK/hard.txt"
  chmod a-w "$OUT/hard.txt"
  zip "$WORK/temp/update.zip" hard.txt=replaced kept.txt=kept
}
check_hard_link() { check_kept_arrived && [ "$(cat "$WORK/hard.txt")" = replaced ]; }
# Placement: a linked temp folder, a placed archive with another name
# outside, a staged archive that is a link.
setup_linked_temp() {
  mkdir -p "$OUT/temp"; ln -s "$OUT/temp" "$WORK/temp"
  echo updater > "$OUT/temp/Updater.exe"; echo part > "$OUT/temp/update.td"
  zip "$OUT/temp/update.zip" kept.txt=kept
}
check_nothing_placed() { [ ! -e "$WORK/update.zip" ] && [ ! -e "$WORK/kept.txt" ]; }
setup_placed_hard_link() {
  mkdir -p "$WORK/temp"; echo "outside archive" > "$OUT/old.zip"; ln "$OUT/old.zip" "$WORK/update.zip"
  chmod a-w "$OUT/old.zip"
  zip "$WORK/temp/update.zip" kept.txt=kept
}
check_placed_and_applied() { check_kept_arrived && [ ! -e "$WORK/update.zip" ] && [ ! -e "$WORK/temp/update.zip" ]; }
setup_staged_link() {
  mkdir -p "$WORK/temp"; zip "$OUT/archive.zip" kept.txt=kept
  ln -s "$OUT/archive.zip" "$WORK/temp/update.zip"
}

probe end-clients
run_case "items under a linked folder"             setup_write_under_link  check_kept_arrived
run_case "a folder item under a linked folder"     setup_folder_under_link check_kept_arrived
run_case "a target that links outside"             setup_file_link         check_kept_arrived
run_case "a target with a read-only name outside"  setup_hard_link         check_hard_link
run_case "a linked temp folder"                    setup_linked_temp       check_nothing_placed
run_case "a placed archive with a name outside"    setup_placed_hard_link  check_placed_and_applied
run_case "a staged archive that links outside"     setup_staged_link       check_nothing_placed
exit "$FAILED"
