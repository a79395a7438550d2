#!/usr/bin/env bash
# make-signed-apks.sh <out folder>: org.vantle.tally 1.0 to 3.0 (aapt) as tally-<versionCode>-<key>.apk,
# v1-signed by jarsigner with one of two test keys made here (keytool), a or b.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$1"
for key in a b; do
  keytool -genkeypair -keystore "$work/$key.p12" -storetype PKCS12 -storepass vantle-test -keypass vantle-test \
    -alias "$key" -keyalg RSA -keysize 2048 -validity 3650 -dname "CN=Vantle test key $key" >/dev/null 2>&1
done
for apk in 1-a 2-a 3-b; do
  aapt package -f --version-code "${apk%-*}" --version-name "${apk%-*}.0" -M "${0%/*}/AndroidManifest.xml" \
    -I /usr/share/android-framework-res/framework-res.apk -F "$work/tally-$apk.apk" >/dev/null
  jarsigner -keystore "$work/${apk#*-}.p12" -storetype PKCS12 -storepass vantle-test -digestalg SHA-256 \
    -sigalg SHA256withRSA "$work/tally-$apk.apk" "${apk#*-}" >/dev/null
  mv "$work/tally-$apk.apk" "$1/"
done
