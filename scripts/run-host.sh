#!/usr/bin/env bash
# Installs what is needed, builds the host (release) with its application
# bundle build/release/Korvane.app, and starts the bundle's executable in the
# foreground. Arguments are passed to the host, e.g. --interface-socket PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target korvane korvane-call >&2
exec build/release/Korvane.app/Contents/MacOS/Korvane "$@"
