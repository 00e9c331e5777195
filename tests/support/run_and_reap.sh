#!/usr/bin/env bash
# Runs a test program that kills launchers at random moments: its command
# line follows (wine, the program, its arguments).
#
# Under Wine, a launcher killed inside CreateProcessW can leave its child half
# started: a Unix process of the Wine loader that never becomes a Windows
# process, so no Windows call sees or ends it, and that keeps the standard
# error it inherited. CTest would wait on that pipe until its time limit.
# The program's output therefore goes through a file, and once it has ended
# such children of the tests' folders are ended here: a Wine loader that
# still carries its own name as the program (a started process shows its
# Windows path) and has done so for some seconds, which no start takes.
set -u
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
"$@" >"$output" 2>&1
status=$?
cat "$output"

half_started() {
  local pid args age
  for pid in $(pgrep -f '^[^ ]*/wine(64)? [A-Za-z]:\\.*\\launcher-tests\\' || true); do
    age="$(ps -o etimes= -p "$pid" 2>/dev/null | tr -d ' ')"
    [ -n "$age" ] && [ "$age" -ge "$1" ] && echo "$pid"
  done
}
# One that the program's last kills left may still be young.
for _ in 1 2 3 4 5 6; do
  [ -z "$(half_started 0)" ] && break
  sleep 1
done
for pid in $(half_started 5); do
  echo "ended a half-started process the kills left: $(tr '\0' ' ' </proc/"$pid"/cmdline)" >&2
  kill -KILL "$pid" 2>/dev/null || true
done
exit "$status"
