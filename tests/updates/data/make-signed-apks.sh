#!/usr/bin/env bash
# Builds the update tests' APKs into the folder given: org.vantle.tally in versions 1 to 3, each
# signed with one of two test keys made here (keytool), with Android's asset packaging tool and the
# JDK's jarsigner (a v1 signature, META-INF/<KEY>.RSA). Names: tally-<versionCode>-<key>.apk.
#   make-signed-apks.sh <out folder>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out=$1
framework=/usr/share/android-framework-res/framework-res.apk
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
for key in a b; do
  keytool -genkeypair -keystore "$work/$key.p12" -storetype PKCS12 -storepass vantle-test -keypass vantle-test \
    -alias "$key" -keyalg RSA -keysize 2048 -validity 3650 -dname "CN=Vantle test key $key" >/dev/null 2>&1
done
for version in 1 2 3; do
  aapt package -f --version-code "$version" --version-name "$version.0" -M "$here/AndroidManifest.xml" \
    -I "$framework" -F "$work/tally-$version.apk" >/dev/null
  for key in a b; do
    cp "$work/tally-$version.apk" "$work/tally-$version-$key.apk"
    jarsigner -keystore "$work/$key.p12" -storetype PKCS12 -storepass vantle-test -digestalg SHA-256 \
      -sigalg SHA256withRSA "$work/tally-$version-$key.apk" "$key" >/dev/null
    mv "$work/tally-$version-$key.apk" "$out/tally-$version-$key.apk"
  done
done
