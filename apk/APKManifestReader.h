#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The package name an APK declares in its compiled AndroidManifest.xml, read without any Android
// tool. Safe from any thread; never throws. Callers that get nothing ask the device instead.
namespace APKManifestReader {

// Reads "AndroidManifest.xml" out of the APK and parses it.
std::optional<QString> packageName(const QString& apkPath);

// The raw value of the first "package" attribute (with a value string) of the first "manifest"
// element. Nothing for data under 9 bytes, a first chunk that is not an XML document, a header
// running past the data, a walk ended by a chunk of size 0 or a cut-off chunk header before the
// element is found, and plain-text XML.
std::optional<QString> parse(const QByteArray& manifestBytes);

} // namespace APKManifestReader
