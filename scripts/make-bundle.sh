#!/usr/bin/env bash
# Assembles an application bundle around the built host, so that it runs the
# way an installed copy does: DEST/Contents/MacOS/Korvane and
# DEST/Contents/Info.plist with the given identifier, version and name.
#
# Usage: scripts/make-bundle.sh DEST.app IDENTIFIER [VERSION] [NAME]
#   e.g. scripts/make-bundle.sh ~/Applications/Korvane.app com.example.korvane 1234 Korvane
# Builds the release host first when it is missing. Refuses to overwrite DEST.
set -euo pipefail
usage() { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; }
if [[ "${1:-}" == -h || "${1:-}" == --help ]]; then usage; exit 0; fi
if [[ $# -lt 2 ]]; then usage >&2; exit 2; fi
dest="${1%/}"
identifier="$2"
version="${3:-1}"
name="${4:-$(basename "$dest" .app)}"
root="$(cd "$(dirname "$0")/.." && pwd)"
host="$root/build/release/app_shell/korvane"
if [[ -e "$dest" || -L "$dest" ]]; then
  echo "make-bundle: $dest already exists; not overwriting it" >&2
  exit 1
fi
if [[ ! -x "$host" ]]; then
  "$root/scripts/install-deps.sh"
  cmake --preset release -S "$root" >/dev/null
  cmake --build "$root/build/release" --target korvane >&2
fi
escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' <<<"$1"; }
mkdir -p "$dest/Contents/MacOS"
cp "$host" "$dest/Contents/MacOS/Korvane"
# The build's own information list, filled in with this copy's values (quoted,
# so that an "&" in them stays an "&").
plist="$(<"$root/app_shell/Info.plist.in")"
plist="${plist//@KORVANE_BUNDLE_IDENTIFIER@/"$(escape "$identifier")"}"
plist="${plist//@KORVANE_BUILD_NUMBER@/"$(escape "$version")"}"
plist="${plist//@KORVANE_BUNDLE_NAME@/"$(escape "$name")"}"
printf '%s\n' "$plist" > "$dest/Contents/Info.plist"
echo "$dest"
