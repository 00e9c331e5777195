#!/usr/bin/env bash
# Signs launcher.exe with Authenticode (osslsigncode, SHA-256), so that the
# elevation prompt names the publisher instead of "Unknown publisher".
#
# Usage: scripts/sign.sh [INPUT [OUTPUT]]
#   default INPUT is the launcher.exe to ship: build/bin/launcher.exe, or
#   build/shipped-i686/bin/launcher.exe where build/ holds the 64-bit stand-in;
#   without OUTPUT it is signed in place.
# Environment:
#   LAUNCHER_SIGN_PKCS12     the code-signing certificate with its key (.p12 or .pfx)
#   LAUNCHER_SIGN_PASSWORD   its password; handed over through a pipe, never on
#                            a command line where other users could see it
#   LAUNCHER_SIGN_TIMESTAMP  optional RFC 3161 time-stamp server URL, so that the
#                            signature stays valid after the certificate expires
# Without LAUNCHER_SIGN_PKCS12 nothing is signed or written, and it says so.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
input=${1:-$(shipped_launcher_image)}
output=${2:-$input}

if [ -z "${LAUNCHER_SIGN_PKCS12:-}" ]; then
  echo "sign: no certificate (LAUNCHER_SIGN_PKCS12 is not set): $input stays unsigned"
  exit 0
fi
[ -f "$input" ] || { echo "sign: $input does not exist" >&2; exit 1; }
[ -f "$LAUNCHER_SIGN_PKCS12" ] || { echo "sign: $LAUNCHER_SIGN_PKCS12 does not exist" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is missing (scripts/setup.sh)" >&2; exit 1; }

# Signed in a folder of its own, then moved into place: a failure never leaves
# half a file behind.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
arguments=(sign -pkcs12 "$LAUNCHER_SIGN_PKCS12" -h sha256 -n "Quintarelox launcher")
if [ -n "${LAUNCHER_SIGN_TIMESTAMP:-}" ]; then arguments+=(-ts "$LAUNCHER_SIGN_TIMESTAMP"); fi
osslsigncode "${arguments[@]}" -readpass <(printf '%s' "${LAUNCHER_SIGN_PASSWORD:-}") \
  -in "$input" -out "$work/signed.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; echo "sign: signing $input failed" >&2; exit 1; }
cp "$work/signed.exe" "$output.signing"
mv -f "$output.signing" "$output"
echo "sign: signed $output"
