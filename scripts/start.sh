#!/usr/bin/env bash
# Installs what is missing, builds the two programs and the tools (no tests,
# no benchmarks), and starts Mosalune from its program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DMOSALUNE_BUILD_TESTS=OFF -DMOSALUNE_BUILD_BENCH=OFF
cd build/Mosalune
exec ./Mosalune.exe
