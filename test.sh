#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   ./test.sh             the normal build, in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

sanitize=OFF
build_dir=build
extra=()
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=ON; build_dir=build-sanitize; extra=(-DMIRELO_BENCH=OFF) ;;
    -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

install_missing
configure_and_build "$build_dir" -DMIRELO_SANITIZE="$sanitize" "${extra[@]}"

export MIRELO_LOOPBACK_ONLY=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 300
