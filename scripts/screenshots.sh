#!/usr/bin/env bash
# Renders every dialog of the driver into docs/screenshots/ (or the folder
# given): builds mirelo-screenshots and runs it against a simulated terminal
# on 127.0.0.1. Qt's offscreen platform by default; with --xvfb the dialogs
# are drawn by a real X server (Xvfb) instead.
#   scripts/screenshots.sh [--xvfb] [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

xvfb=0
folder=docs/screenshots
for arg in "$@"; do
  case "$arg" in
    --xvfb) xvfb=1 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    -*) echo "screenshots.sh: unknown option '$arg'" >&2; exit 2 ;;
    *) folder=$arg ;;
  esac
done

install_missing
cmake -S . -B build -G Ninja -DMIRELO_GUI=ON >/dev/null
cmake --build build --target mirelo-screenshots

export MIRELO_LOOPBACK_ONLY=1
if [ "$xvfb" = 1 ]; then
  display=:$((90 + RANDOM % 9))
  Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
  server=$!
  trap 'kill "$server"' EXIT
  sleep 1
  DISPLAY=$display QT_QPA_PLATFORM=xcb build/tools/screenshots/mirelo-screenshots "$folder"
else
  QT_QPA_PLATFORM=offscreen build/tools/screenshots/mirelo-screenshots "$folder"
fi
