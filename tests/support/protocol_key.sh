# Sourced by the script tests that run the real launcher, which registers the
# protocol: the key as the script found it goes into a file of the script's
# own and comes back from it at the end (or is removed, when there was none).
PROTOCOL_KEY='HKCR\quintarelox'

save_protocol_key() {  # backup file
  wine reg export "$PROTOCOL_KEY" "Z:${1//\//\\}" /y </dev/null >/dev/null 2>&1 || rm -f "$1"
}

restore_protocol_key() {  # backup file
  wine reg delete "$PROTOCOL_KEY" /f </dev/null >/dev/null 2>&1 || true
  if [ -f "$1" ]; then
    wine reg import "Z:${1//\//\\}" </dev/null >/dev/null 2>&1
  fi
}
