#!/usr/bin/env bash
# install-test.sh <cmake> <build folder>: installs into a temporary prefix and checks what a desktop
# and a user get: valid metadata, the bridge, the simulated device's programs and a working vantle.
set -euo pipefail
cmake=$1
build=$2
appId=app.vantle.Vantle

scratch=$(mktemp -d)
prefix=$scratch/prefix
export VANTLE_HOME=$scratch/home
unset VANTLE_SIM_TOOLS VANTLE_BUNDLE
export QT_QPA_PLATFORM=offscreen
sdk=$VANTLE_HOME/.local/share/Vantle/Runtime/sdk
vantlePid=

cleanup() {
  if [ -n "$vantlePid" ]; then kill -KILL "$vantlePid" 2>/dev/null || true; fi
  # `sim install` does not boot the device and prewarming is off below; stop it should it run.
  if [ -x "$sdk/platform-tools/adb" ] && ! flock -n "$sdk/.sim-run/emulator-5556.lock" true 2>/dev/null; then
    "$sdk/platform-tools/adb" -s emulator-5556 emu kill >/dev/null 2>&1 || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "install-test: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for file in bin/vantle bin/vantlectl \
  libexec/vantle/sim/{adb,emulator,apkanalyzer,android-commands,display-server,device-adbd} \
  libexec/vantle/vantle-gl-probe; do
  [ -x "$prefix/$file" ] || fail "$file is not an installed executable"
done
for size in 16 22 24 32 48 64 128 256 512; do
  [ -s "$prefix/share/icons/hicolor/${size}x$size/apps/$appId.png" ] || fail "no ${size}px icon"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/$appId.svg" ] || fail "no scalable icon"

desktop-file-validate "$prefix/share/applications/$appId.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$appId.metainfo.xml" >"$scratch/appstream.log" ||
  { cat "$scratch/appstream.log" >&2; fail "the AppStream metadata does not validate"; }

# The bridge where an installed vantle looks (<prefix>/share/vantle), its jar matching the manifest.
bridge=$prefix/share/vantle/Resources/AndroidBridge
digest=$(sha256sum "$bridge/server/scrcpy-server" | cut -d' ' -f1)
grep -q "\"sha256\": \"$digest\"" "$bridge/runtime-manifest.json" || fail "the installed bridge jar does not match its manifest"

# The simulated device from the installed programs; the stand-in adb, as Google's would leave a
# server running on the machine's shared port 5037.
"$prefix/bin/vantlectl" sim install --stand-in-adb >/dev/null || fail "vantlectl sim install failed from the prefix"
"$prefix/bin/vantlectl" sim check || fail "the simulated runtime is incomplete"
grep -q "$prefix/libexec/vantle/sim/adb" "$VANTLE_HOME/.local/share/Vantle/Runtime/runtime-manifest.json" ||
  fail "the simulated runtime was not installed from the prefix's libexec folder"

# The installed vantle, without warming Android up when its panel shows.
mkdir -p "$VANTLE_HOME/.config/Vantle"
echo '{"format":"vantle-settings","version":1,"values":{"VantlePrewarm":{"bool":false}}}' \
  >"$VANTLE_HOME/.config/Vantle/settings.json"
"$prefix/bin/vantle" >"$scratch/vantle.out" 2>&1 &
vantlePid=$!
answered=
for _ in $(seq 100); do
  if "$prefix/bin/vantlectl" send home 2>/dev/null; then answered=yes; break; fi
  kill -0 "$vantlePid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$answered" ] || { cat "$scratch/vantle.out" >&2; fail "the installed vantle did not answer 'vantlectl send home'"; }
kill -TERM "$vantlePid"
status=0
wait "$vantlePid" || status=$?
vantlePid=
[ "$status" -eq 0 ] || { cat "$scratch/vantle.out" >&2; fail "vantle ended with status $status on SIGTERM"; }
log=$VANTLE_HOME/.local/state/Vantle/logs/vantle.log
grep -q "vantle starting" "$log" && grep -q "vantle quitting" "$log" || fail "the log lacks the start or the quit"
echo "install-test: passed"
