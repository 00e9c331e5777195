#!/usr/bin/env bash
# Authenticode signing through scripts/sign.sh with a throw-away self-signed
# code-signing certificate: without a certificate nothing is signed; a signed
# copy verifies against the certificate; one flipped byte breaks the
# signature; and the signed launcher still starts the client under Wine.
# Usage: signing_test.sh BIN_FOLDER
set -uo pipefail
BIN=$(cd "$1" && pwd)
SIGN="$(dirname "${BASH_SOURCE[0]}")/../../scripts/sign.sh"
for tool in openssl osslsigncode python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing (scripts/setup.sh)"; exit 77; }
done
WORK=$(realpath "$(mktemp -d "$BIN/../signing.XXXXXX")")
source "$(dirname "${BASH_SOURCE[0]}")/prompt_rig.sh"
INSTALL="$WORK/install"
mkdir -p "$INSTALL"

FAILED=0
check() {  # description, expected, actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; FAILED=1; fi
}
cleanup() {
  probe end-clients
  restore_protocol_key "$WORK/protocol_key.reg"
  rm -rf "$WORK"
}
trap cleanup EXIT
save_protocol_key "$WORK/protocol_key.reg"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Quintarelox test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$WORK/key.pem" -in "$WORK/cert.pem" -passout pass:throw-away \
  -out "$WORK/signer.p12" >/dev/null 2>&1
verifies() {
  osslsigncode verify -CAfile "$WORK/cert.pem" -in "$1" >"$WORK/verify.log" 2>&1 && echo yes || echo no
}

said=$(env -u LAUNCHER_SIGN_PKCS12 bash "$SIGN" "$BIN/launcher.exe" "$INSTALL/launcher.exe")
check "without a certificate it says so" yes "$(grep -q 'no certificate' <<<"$said" && echo yes || echo no)"
check "without a certificate it writes nothing" no "$([ -e "$INSTALL/launcher.exe" ] && echo yes || echo no)"

LAUNCHER_SIGN_PKCS12="$WORK/signer.p12" LAUNCHER_SIGN_PASSWORD=throw-away \
  bash "$SIGN" "$BIN/launcher.exe" "$INSTALL/launcher.exe" >/dev/null
check "the signed copy verifies against the certificate" yes "$(verifies "$INSTALL/launcher.exe")"

# One byte in the middle of the code, which the signature covers.
cp "$INSTALL/launcher.exe" "$WORK/flipped.exe"
python3 - "$WORK/flipped.exe" <<'PY'
import os, sys
with open(sys.argv[1], 'r+b') as f:
    f.seek(os.path.getsize(sys.argv[1]) // 3)
    byte = f.read(1)
    f.seek(-1, 1)
    f.write(bytes([byte[0] ^ 0xFF]))
PY
check "one flipped byte breaks the signature" no "$(verifies "$WORK/flipped.exe")"

# The signed launcher in an installation with the reference client.
cp "$BIN/vorlan.exe" "$INSTALL/"
probe end-clients
timeout 60 wine "$BIN/promptprobe.exe" launch "$(windows_path "$INSTALL/launcher.exe")" \
  '"quintarelox://signed=1"' </dev/null >/dev/null 2>&1
check "the signed launcher ends with 0" 0 "$?"
for _ in $(seq 200); do ls "$INSTALL"/vorlan.*.cmdline >/dev/null 2>&1 && break; sleep 0.05; done
record=$(ls "$INSTALL"/vorlan.*.cmdline 2>/dev/null | head -n 1)
check "the client got the link's payload" 'signed=1"' \
  "$([ -n "$record" ] && iconv -f UTF-16LE -t UTF-8 "$record" | sed 's/^"[^"]*" //')"
exit $FAILED
