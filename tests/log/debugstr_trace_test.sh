#!/usr/bin/env bash
# The real launcher under Wine with the debugstr channel traced: every piece it
# passes to OutputDebugStringA appears as a trace line on standard error, beside
# the records it writes there itself. Both must carry the same two records; the
# long "par: " record comes in pieces of at most 256 characters.
# Usage: debugstr_trace_test.sh BIN_FOLDER
set -euo pipefail
bin=$1
work=$(mktemp -d)
source "$(dirname "${BASH_SOURCE[0]}")/../support/protocol_key.sh"
save_protocol_key "$work/protocol_key.reg"
trap 'restore_protocol_key "$work/protocol_key.reg"; rm -rf "$work"' EXIT

# No client in the folder: the launch road runs to its end, starts nothing
# and says so in a third record, with exit code 2.
cp "$bin/launcher.exe" "$work/"
parameters=$(printf 'x%.0s' $(seq 300))
before=$(date -u +%s)
status=0
WINEDEBUG=-all,+debugstr wine "$work/launcher.exe" "$parameters" </dev/null >"$work/stdout" 2>"$work/stderr" ||
  status=$?
after=$(date -u +%s)
[ "$status" = 2 ] || { echo "FAILED: exit code $status, not 2"; exit 1; }

python3 - "$work/stderr" "$before" "$after" "$parameters" <<'PY'
import calendar, re, sys

path, before, after, parameters = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
trace = re.compile(r'^[0-9a-f]+:[a-z]+:debugstr:OutputDebugStringA "(.*)"$')
header = re.compile(r'^\[VOV\]\[I\]\[(0|[1-9]\d*)-(0|[1-9]\d*)-(0|[1-9]\d*) '
                    r'(0|[1-9]\d*):(0|[1-9]\d*):(0|[1-9]\d*)\] ')

def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if n == 'x':
                out.append(chr(int(text[i + 2:i + 4], 16))); i += 4; continue
            out.append({'n': '\n', 'r': '\r', 't': '\t'}.get(n, n)); i += 2; continue
        out.append(c); i += 1
    return ''.join(out)

pieces, records = [], []
with open(path, 'rb') as f:
    for raw in f.read().decode('latin-1').splitlines(keepends=True):
        bare = raw.rstrip('\r\n')
        m = trace.match(bare)
        if m:
            pieces.append(unescape(m.group(1)))
        else:
            records.append(raw.replace('\r\n', '\n'))

failures = []
def check(ok, what):
    if not ok:
        failures.append(what)

check(len(records) == 3, 'three records on standard error, got %r' % records)
texts = ['class path: vorlan.exe\n', 'par: ' + parameters + '\n']
for record, text in zip(records, texts):
    m = header.match(record)
    check(m is not None, 'header format: %r' % record)
    if m:
        y, mo, d, h, mi, s = (int(g) for g in m.groups())
        stamp = calendar.timegm((y, mo, d, h, mi, s))
        check(before <= stamp <= after, 'current UTC time: %r' % record)
        check(record[m.end():] == text, 'text: %r' % record)
check(len(records) == 3 and records[2].split('] ', 1)[-1].startswith('client not started: '),
      'the failed start: %r' % records)
if len(records) == 3:
    expected = [records[0], records[1][:256], records[1][256:], records[2]]
    check(len(records[1]) > 256, 'a long par record')
    check(pieces == expected, 'debugger output pieces %r' % pieces)
for failure in failures:
    print('FAILED:', failure)
sys.exit(1 if failures else 0)
PY
echo "debugger output and standard error agree"
