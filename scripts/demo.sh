#!/usr/bin/env bash
# Installs what the build needs, builds the plug-in and the demonstration,
# and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then sudo=; else sudo=sudo; fi
if ! dpkg -s cmake g++ libgtest-dev libbenchmark-dev >/dev/null 2>&1; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q cmake g++ libgtest-dev libbenchmark-dev
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target demo kelpotools
./build/examples/demo "$@"
