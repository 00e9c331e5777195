#!/usr/bin/env bash
# Maps drive R: of the tests' Wine prefix to a fresh folder, or removes the
# mapping and the folder. Wine reads its drives from the links in dosdevices.
# Usage: drive_root.sh map|unmap FOLDER DEFAULT_PREFIX
set -eu
action=$1 folder=$2
link="${WINEPREFIX:-$3}/dosdevices/r:"
case "$action" in
  map) rm -rf "$folder"; mkdir -p "$folder"; ln -sfn "$folder" "$link" ;;
  unmap) rm -f "$link"; rm -rf "$folder" ;;
esac
