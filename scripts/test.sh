#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs
# every test. KELPO_WERROR=ON in the environment (as CI sets it) builds with
# warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

# Everything the build and the tests use, one Debian package a word: the
# compiler and build tools, GoogleTest and Google Benchmark, MINPACK (the
# peak-fit benchmark's independent fitter), and the independent readers and
# writers the tests check our files with (the spreadsheet programs among
# them run headless).
test_packages="
  cmake g++ make
  libgtest-dev libbenchmark-dev libcminpack-dev
  python3-olefile libgsf-bin python3-xlwt python3-xlrd
  libreoffice-calc-nogui gnumeric default-jdk-headless libapache-poi-java
"

# shellcheck disable=SC2086  # one word per package
install_packages $test_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO_WERROR="${KELPO_WERROR:-OFF}" >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
