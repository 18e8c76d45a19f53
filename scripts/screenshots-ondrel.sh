#!/usr/bin/env bash
# Renders the test program's pages to docs/screenshots/ondrel/*.png on Qt's
# offscreen platform, driven against a simulated terminal on 127.0.0.1.
#   scripts/screenshots-ondrel.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target ondrel-screenshots
out=docs/screenshots/ondrel
mkdir -p "$out"
rm -f "$out"/*.png
MIRELO_LOOPBACK_ONLY=1 QT_QPA_PLATFORM=offscreen "$build/tools/screenshots/ondrel-screenshots" "$out"
ls "$out"
