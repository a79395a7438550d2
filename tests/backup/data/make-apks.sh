#!/usr/bin/env bash
# Builds the backup tests' split APK (a configuration split of the simulator's notes app) with
# Android's own asset packaging tool (apt-get install aapt android-framework-res). The APK is
# committed; run this again only after changing its manifest.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
framework=/usr/share/android-framework-res/framework-res.apk
aapt package -f -M "$here/src/notes_split/AndroidManifest.xml" -I "$framework" -F "$here/notes_split.apk" >/dev/null
echo "make-apks: built $here/notes_split.apk"
