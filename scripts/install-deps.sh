#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Runs apt-get only
# when something is missing; uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-format
  libglib2.0-dev libplist-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  dbus
)
if [[ "${KORVANE_WITH_FUZZ:-0}" == 1 ]]; then packages+=(clang libclang-rt-dev); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq >&2
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
