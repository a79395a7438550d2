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

# Manifests naming packages that Android refuses, which aapt will not compile: each was built under
# a valid name of the same length, which is now overwritten in the compiled manifest's string pool.
rename_package() { # apk, name built with, hostile name
  python3 - "$@" <<'PY'
import sys, zipfile
apk, built, hostile = sys.argv[1:]
assert len(built) == len(hostile)  # the pool's length fields stay right
with zipfile.ZipFile(apk) as z:
    entries = [(info, z.read(info.filename)) for info in z.infolist()]
with zipfile.ZipFile(apk + '.new', 'w', zipfile.ZIP_DEFLATED) as z:
    for info, data in entries:
        if info.filename == 'AndroidManifest.xml':
            encoding = next(e for e in ('utf-16-le', 'utf-8') if data.count(built.encode(e)) == 1)
            data = data.replace(built.encode(encoding), hostile.encode(encoding))
        z.writestr(info, data)
PY
  mv "$1.new" "$1"
}
rename_package "$here/bad-name-semicolon.apk" com.a.touch.pwned 'com.a;touch pwned'
rename_package "$here/bad-name-dotdot.apk" aa.aa.tmp.x ../../tmp/x
echo "make-apks: built $(ls "$here"/*.apk | wc -l) APKs in $here"
