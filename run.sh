#!/usr/bin/env bash
# Installs what is missing, builds, and says what was built and how to use it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

install_missing
configure_and_build build

cat <<TEXT

Built in build/:
  build/tools/termsim/termsim   a simulated terminal (see README.md, "Terminal simulator")
  build/tests/test_*            the test programs (./test.sh runs them all)
  build/bench/bench_*           benchmarks (not run as tests)

Try a simulated terminal on this machine:
  build/tools/termsim/termsim serve --port 0
TEXT
