#!/usr/bin/env bash
# Builds the fixture APKs of the apk tests from src/<name>/ with Android's own asset packaging
# tool, against the framework resources of Debian's android-framework-res:
#   apt-get install aapt android-framework-res
# Writes <name>.apk and <name>.R.java (the resource ids the tests use) next to this script.
# The APKs are committed; run this again only after changing a source.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
framework=/usr/share/android-framework-res/framework-res.apk
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for source in "$here"/src/*/; do
  name="$(basename "$source")"
  [ -f "$source/AndroidManifest.xml" ] || continue
  extra=()
  # One fixture keeps its resource strings in UTF-16, as apps built for old Android do.
  [ "$name" = adaptive_vector ] && extra+=(--utf16)
  mkdir -p "$work/$name"
  aapt package -f --min-sdk-version 26 "${extra[@]}" -M "$source/AndroidManifest.xml" -S "$source/res" -I "$framework" \
    -J "$work/$name" -F "$here/$name.apk" >/dev/null
  find "$work/$name" -name R.java -exec cp {} "$here/$name.R.java" \;
done
echo "make-apks: built $(ls "$here"/*.apk | wc -l) APKs in $here"
