#!/usr/bin/env bash
# Builds the simulator tests' APKs from src/<name>/AndroidManifest.xml with Android's own asset
# packaging tool (apt-get install aapt android-framework-res). The APKs are committed; run this
# again only after changing a manifest.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
framework=/usr/share/android-framework-res/framework-res.apk
for source in "$here"/src/*/; do
  name="$(basename "$source")"
  aapt package -f -M "$source/AndroidManifest.xml" -I "$framework" -F "$here/$name.apk" >/dev/null
done
echo "make-apks: built $(ls "$here"/*.apk | wc -l) APKs in $here"
