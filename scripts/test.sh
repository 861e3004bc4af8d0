#!/usr/bin/env bash
# Installs what is missing, builds the programs, the tools and the tests, and
# runs the whole test suite with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DMOSALUNE_BUILD_TESTS=ON -DMOSALUNE_BUILD_BENCH=OFF
cd build
ctest --output-on-failure -j2
