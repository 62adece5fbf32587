#!/usr/bin/env bash
# Installs what is needed, builds the project and runs every test.
# Usage: scripts/test.sh [preset]   (default: default; also asan, tsan, release)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
