#!/usr/bin/env bash
# The program as a user runs it: open a root, a project and a session at an exchange, end it
# with SIGTERM, delete one more project that was open, start it again without arguments, and
# count the pages of the new process over the web engine's DevTools port. Needs a display
# (ctest runs under xvfb-run).
set -euo pipefail
tavlo=$1/tavlo
examples=$2
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

cp -r "$examples" "$work/projects"
export TAVLO_SETTINGS_FILE=$work/settings.ini HOME=$work
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --no-sandbox}"
port=$((20000 + RANDOM % 20000))
export QTWEBENGINE_REMOTE_DEBUGGING=$port

# The DevTools list of targets, read with bash alone. The server keeps the connection open, so
# the body is read by its length.
pages() {
  local line length=0 body=
  if exec 3<>"/dev/tcp/127.0.0.1/$port"; then
    printf 'GET /json HTTP/1.1\r\nHost: localhost\r\n\r\n' >&3
    while IFS= read -r -t 5 line <&3 && [ "${line%$'\r'}" != "" ]; do
      case "${line,,}" in content-length:*) length=${line#*:}; length=${length//[!0-9]/} ;; esac
    done
    [ "$length" -gt 0 ] && read -r -t 5 -N "$length" body <&3 || true
    exec 3<&-
  fi 2>/dev/null
  grep -c '"type": *"page"' <<<"$body" || true
}
wait_for_pages() {
  for _ in $(seq 1 120); do
    [ "$(pages)" -eq "$1" ] && return 0
    sleep 0.5
  done
  echo "expected $1 pages, found $(pages)"; return 1
}

session=$work/projects/-home-alex-src-ledger-cli/3e9a1f27-6c48-4d0b-9e15-8a2f7c4b6d31.jsonl
"$tavlo" "$work/projects" "$work/projects/-home-alex-dotfiles" \
  "tvl://$session?exchange=a8164300-5631-55e2-bb6f-d11fb80e0325" "$work/projects/-home-alex-src-weather-app" \
  >"$work/first.log" 2>&1 &
pid=$!
wait_for_pages 4
kill -TERM "$pid"
wait "$pid"
pid=

rm -rf "$work/projects/-home-alex-src-weather-app"
"$tavlo" >"$work/second.log" 2>&1 &
pid=$!
wait_for_pages 3
# The restoration ends by writing down the windows it restored: once that list has three
# entries and not the deleted project, every window it opened is up.
restorable() { grep '^HVXRestorableWindows=' "$work/settings.ini" 2>/dev/null || true; }
for _ in $(seq 1 120); do
  entries=$(restorable | grep -o '\\"identifier\\"' | wc -l)
  [ "$entries" -eq 3 ] && ! restorable | grep -q weather-app && break
  sleep 0.5
done
[ "$entries" -eq 3 ] || { echo "the settings list $entries windows: $(restorable)"; exit 1; }
[ "$(pages)" -eq 3 ]
grep -q 'WARNING: Not restoring window .*weather-app.*no longer exists' "$work/second.log"
kill -INT "$pid"
wait "$pid"
pid=
echo "restored 3 of 4 windows; the deleted project was left out"
