#!/usr/bin/env bash
# Installs what is missing, builds, and starts Mosalune from its program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd build/Mosalune
exec ./Mosalune.exe
