#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then sudo=; else sudo=sudo; fi
if ! dpkg -s cmake g++ libgtest-dev libbenchmark-dev python3-olefile libgsf-bin \
     python3-xlwt python3-xlrd libreoffice-calc-nogui gnumeric >/dev/null 2>&1; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends cmake g++ libgtest-dev \
    libbenchmark-dev python3-olefile libgsf-bin python3-xlwt python3-xlrd libreoffice-calc-nogui gnumeric
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
