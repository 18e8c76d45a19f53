#!/usr/bin/env bash
# Kills "mirelo devices add" and "mirelo server set" with SIGKILL at random
# moments, saves included, a bounded number of times: after each kill the
# settings file still opens, with the content from before the command or the
# content after it, never a mix.
#   crash_safety_test.sh MIRELO [ROUNDS]
set -u
mirelo=$1
rounds=${2:-40}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export MIRELO_REGISTRY=$scratch/registry.db MIRELO_LOOPBACK_ONLY=1

fail() { echo "FAIL (round $round): $*"; exit 1; }

# The device rows without the current marker, and the server port.
devices() { "$mirelo" devices | tail -n +2 | cut -c2-; }
port() { "$mirelo" server | sed -n 's/^Server port: //p'; }

"$mirelo" devices >/dev/null || fail "a fresh settings file does not open"
killed=0 saved=0
for round in $(seq 1 "$rounds"); do
  before=$(devices) || fail "the settings file does not open: $before"
  old_port=$(port)
  if (( round % 2 )); then
    new_port=$(( 3000 + round ))
    "$mirelo" server set --port "$new_port" >/dev/null 2>&1 &
  else
    "$mirelo" devices add --name "D$round" --port $(( 4000 + round )) >/dev/null 2>&1 &
  fi
  pid=$!
  # A run takes some 30 ms: the kill lands anywhere in it, the save included.
  sleep "0.$(printf '%03d' $(( RANDOM % 40 )))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ $? -eq 137 ] && killed=$(( killed + 1 ))

  after=$(devices) || fail "the settings file does not open after the kill: $after"
  if (( round % 2 )); then
    [ "$after" = "$before" ] || fail "server set changed the devices"
    now=$(port)
    [ "$now" = "$old_port" ] || [ "$now" = "$new_port" ] || fail "port $now, neither $old_port nor $new_port"
    [ "$now" = "$new_port" ] && [ "$old_port" != "$new_port" ] && saved=$(( saved + 1 ))
  elif [ "$after" != "$before" ]; then
    saved=$(( saved + 1 ))
    # The new content: the old rows as they were and one more, the new device whole.
    added=$(diff <(echo "$before") <(echo "$after") | sed -n 's/^> //p')
    removed=$(diff <(echo "$before") <(echo "$after") | grep -c '^<')
    [ "$removed" -eq 0 ] || fail "rows changed: $(diff <(echo "$before") <(echo "$after"))"
    [ "$(echo "$added" | wc -l)" -eq 1 ] || fail "more than one row added: $added"
    echo "$added" | grep -q "D$round .* $(( 4000 + round ))  TCP     3000        3" ||
      fail "the added device is not whole: $added"
  fi
done
echo "ok: $rounds rounds, $killed commands killed by SIGKILL, $saved changes stored, every file whole"
