#pragma once

#include "provisioning/AndroidBridgeComponents.h"

#include <QStringList>

// Finds the display-bridge files and checks them once per run against the SHA-256 hashes of their
// manifest. Main thread only (the cache has no lock).
//
// Vantle's "bundle contents" folder holds, relative to itself:
//   Resources/AndroidBridge/runtime-manifest.json   the manifest (below)
//   Resources/AndroidBridge/server/scrcpy-server    the server jar
//   Resources/AndroidBridge/icons/                  optional
//   Helpers/AndroidBridge/bin/scrcpy                optional client program
// On Linux that folder is <prefix>/share/vantle for an installed Vantle, <build>/bridge in a build
// tree, or VANTLE_BUNDLE when set. Without a bridge there, an installed scrcpy package stands in
// (development only).
//
// runtime-manifest.json:
//   { "bridgeVersion": "5.0.1",                                  optional
//     "components": [ { "path": "Resources/AndroidBridge/server/scrcpy-server",
//                       "sha256": "<64 hex digits, any case>" }, … ] }
// Paths are relative to the contents folder; only listed files are hashed.
namespace RuntimeComponentLocator {

QString contentsFolder();
// The contents folder of executables in `executableFolder`: <prefix>/bin → <prefix>/share/vantle
// when that folder exists, else <build>/app → <build>/bridge.
QString contentsFolderFor(const QString& executableFolder);
bool hasBundledBridge();
// Throws AndroidBridgeError; never cached.
AndroidBridgeComponents verifiedBundledBridge();
// The bundled bridge (verified once, then cached), else the development fallback. Throws
// AndroidBridgeError.
AndroidBridgeComponents androidBridge();

// Where an installed scrcpy client is looked for, first match wins.
QStringList developmentScrcpyCandidates();
void setDevelopmentScrcpyCandidates(const QStringList& paths); // tests
// The first candidate that is an executable file, or the first candidate when none is.
QString developmentScrcpy();

void clearCache(); // tests, and after Vantle's files were replaced

} // namespace RuntimeComponentLocator
