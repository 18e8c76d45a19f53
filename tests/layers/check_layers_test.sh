#!/usr/bin/env bash
# scripts/check-layers passes on the tree and fails on a wrong-way include.
set -u
check=$1
tree=$2
"$check" "$tree" || { echo "FAIL: the tree itself breaks the layers"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/driver/net" "$scratch/driver/protocol" "$scratch/tools/mirelo"
printf '#include "driver/net/wsockets.h"\n#include "mirelo/vistel.h"\n' >"$scratch/driver/protocol/ok.cpp"
"$check" "$scratch" || { echo "FAIL: a right-way include was refused"; exit 1; }

printf '#include "platform/sockets.h"\n#include "driver/protocol/custom_driver.h"\n' >"$scratch/driver/net/wrong.cpp"
printf '#include "driver/automation/vistel.h"\n' >"$scratch/tools/mirelo/wrong.cpp"
output=$("$check" "$scratch") && { echo "FAIL: wrong-way includes passed"; exit 1; }
expected='driver/net/wrong.cpp:2: net may not include "driver/protocol/custom_driver.h" (protocol)
tools/mirelo/wrong.cpp:1: shell may not include "driver/automation/vistel.h" (automation)'
[ "$output" = "$expected" ] || { printf 'FAIL: got\n%s\nexpected\n%s\n' "$output" "$expected"; exit 1; }
echo "ok"
