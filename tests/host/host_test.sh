#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds tests/host against it
# twice, through the CMake package and through pkg-config; both hosts run.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
export MIRELO_REGISTRY=$scratch/registry.db MIRELO_LOOPBACK_ONLY=1

cmake -S "$source" -B "$scratch/build" -G Ninja -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null
"$scratch/build/host"

pc=$(find "$scratch/prefix" -name mirelo.pc -printf '%h\n')
g++ -std=c++20 -o "$scratch/host-pc" "$source/host.cpp" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs mirelo)
"$scratch/host-pc"
