#!/usr/bin/env bash
# Installs what is missing, builds everything, and starts the price lookup
# responder kavrin.
#   ./run.sh        kavrin --headless with examples/prices.txt (no display needed)
#   ./run.sh --gui  the responder's window
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

gui=no
for arg in "$@"; do
  case "$arg" in
    --gui) gui=yes ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

install_missing
configure_and_build build

kavrin=build/responder/kavrin
if [ "$gui" = yes ]; then
  echo "Starting the window: $kavrin (open examples/prices.txt with \"Открыть...\")"
  exec "$kavrin"
fi

# The server's port and protocol are the driver's stored settings (default
# TCP 2004); the automation shell reads them when it is built.
port=2004
udp=
if [ -x build/tools/mirelo/mirelo ]; then
  settings=$(build/tools/mirelo/mirelo run ServerPort ServerProtocol 2>/dev/null || true)
  stored_port=$(sed -n 's/^ServerPort=\([0-9]*\)$/\1/p' <<<"$settings")
  stored_protocol=$(sed -n 's/^ServerProtocol=\([0-9]*\)$/\1/p' <<<"$settings")
  [ -n "$stored_port" ] && port=$stored_port
  [ "$stored_protocol" = 0 ] && udp=" --udp"
fi

cat <<TEXT

Built in build/: responder/kavrin (the responder), tools/termsim/termsim (a
simulated terminal), tests/test_* (./test.sh runs them), bench/bench_* (benchmarks).

Starting kavrin --headless with examples/prices.txt; Ctrl-C stops it,
kill -HUP reloads the price list. In another terminal, scan a product:

  build/tools/termsim/termsim scan 4607001234562 --host 127.0.0.1 --port $port$udp

TEXT
exec "$kavrin" --headless --prices examples/prices.txt
