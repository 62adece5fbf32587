#!/usr/bin/env bash
# Installs what is needed, checks the formatting, builds the project and runs
# every test: first the debug build (assertions on), then under
# AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: scripts/test.sh [preset ...]   (default: default asan; also tsan, release)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[[ ${#presets[@]} -eq 0 ]] && presets=(default asan)
scripts/install-deps.sh
# Every source file as .clang-format has it, before anything is built.
echo "== format" >&2
find . -path ./build -prune -o \( -name '*.cc' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror
for preset in "${presets[@]}"; do
  echo "== $preset" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset"
done
