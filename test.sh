#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   ./test.sh                 the normal build, in build/
#   ./test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer, in build-sanitize/
#   ./test.sh --fuzz SECONDS  the fuzz targets (clang, libFuzzer), in build-fuzz/, each run
#                             for SECONDS on a corpus seeded from termsim journals
#                             (MIRELO_FUZZ_TARGETS="fuzz_reply ..." runs only those)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

sanitize=OFF
build_dir=build
extra=()
fuzz_seconds=
while [ $# -gt 0 ]; do
  case "$1" in
    # Only what the tests need, at -O1 with line tables: half the compile
    # time of -O2 -g, and the sanitizers' reports still name file and line.
    --sanitize) sanitize=ON; build_dir=build-sanitize
                extra=(-DMIRELO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
                       "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                       "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG") ;;
    --fuzz)
      fuzz_seconds=${2:-}
      [[ $fuzz_seconds =~ ^[0-9]+$ ]] || { echo "test.sh: --fuzz needs a number of seconds" >&2; exit 2; }
      shift ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
  shift
done

if [ -n "$fuzz_seconds" ]; then
  packages+=(clang libclang-rt-14-dev)
  install_missing
  configure_and_build build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMIRELO_FUZZ=ON \
    -DMIRELO_GUI=OFF -DMIRELO_TESTS=OFF -DMIRELO_BENCH=OFF
  export MIRELO_LOOPBACK_ONLY=1
  corpus=build-fuzz/corpus
  mkdir -p "$corpus" build-fuzz/artifacts
  build-fuzz/fuzz/make_corpus "$corpus" fuzz/seeds examples/prices.txt fuzz/seeds/*.journal
  targets=${MIRELO_FUZZ_TARGETS:-$(cd build-fuzz/fuzz && ls fuzz_* | grep -v '\.' | tr '\n' ' ')}
  failed=0
  printf '%-22s %12s %8s %9s %7s\n' target executions edges features corpus
  for target in $targets; do
    mkdir -p "$corpus/$target"
    log=build-fuzz/$target.log
    if ! build-fuzz/fuzz/"$target" "$corpus/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
         -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/"$target"- \
         >"$log" 2>&1; then
      failed=1
      echo "$target: FOUND A FAILURE (see $log and build-fuzz/artifacts/)" >&2
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
    edges=$(sed -E -n 's/.*cov: ([0-9]+).*/\1/p' <<<"$last")
    features=$(sed -E -n 's/.*ft: ([0-9]+).*/\1/p' <<<"$last")
    size=$(sed -E -n 's/.*corp: ([0-9]+).*/\1/p' <<<"$last")
    printf '%-22s %12s %8s %9s %7s\n' "$target" "${executions:-?}" "${edges:-?}" "${features:-?}" "${size:-?}"
  done
  exit $failed
fi

install_missing
configure_and_build "$build_dir" -DMIRELO_SANITIZE="$sanitize" "${extra[@]}"

export MIRELO_LOOPBACK_ONLY=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 300
