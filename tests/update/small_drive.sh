#!/usr/bin/env bash
# Mounts a small tmpfs, maps it as drive X: of the Wine prefix, runs the
# small-drive tests of the given test program on it, and takes both away again.
# Exits 77 (skipped) where no tmpfs can be mounted.
set -u
program="$1"
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
link="$WINEPREFIX/dosdevices/x:"
if [ -e "$link" ] || [ -L "$link" ]; then
  echo "drive X: is already mapped in $WINEPREFIX; not touching it" >&2
  exit 77
fi
mount_point="$(mktemp -d /tmp/launcher-small-drive.XXXXXX)"
if ! mount -t tmpfs -o size=80m tmpfs "$mount_point" 2>/dev/null; then
  echo "skipped: cannot mount a tmpfs here (needs root)" >&2
  rmdir "$mount_point"
  exit 77
fi
cleanup() {
  rm -f "$link"
  umount "$mount_point"
  rmdir "$mount_point"
}
trap cleanup EXIT
ln -s "$mount_point" "$link"
LAUNCHER_SMALL_DRIVE=X: wine "$program" --gtest_filter='SmallDrive.*'
