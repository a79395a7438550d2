#!/usr/bin/env bash
# Builds the committed fixture APKs and their resource ids (<name>.apk, <name>.R.java) from src/<name>/
# with aapt against Debian's android-framework-res (apt-get install aapt android-framework-res).
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
