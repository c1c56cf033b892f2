#!/usr/bin/env bash
# Installs what the demonstration needs, builds the plug-in and the
# demonstration (no tests, no benchmarks) and runs it.  The demonstration
# writes demo.xls at the repository's root.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

# What building the plug-in and the demonstration needs, one Debian package
# a word.
demo_packages="cmake g++ make"

# shellcheck disable=SC2086  # one word per package
install_packages $demo_packages
# A build folder of its own, so that switching between this command and the
# test command never reconfigures one folder back and forth.
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO_TESTS=OFF -DKELPO_BENCH=OFF >/dev/null
cmake --build build-demo -j "$(nproc)" --target kelpotools demo
./build-demo/examples/demo "$@"
