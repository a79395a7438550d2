#include "apk/ApkFile.h"

#include "apk/APKIconExtractor.h"

namespace ApkFile {

bool isApk(const QString& path) {
    // A compiled XML document opens with its chunk header: type 0x0003, header size 8 (little-endian).
    const std::optional<QByteArray> manifest =
        APKIconExtractor::read(path, QStringLiteral("AndroidManifest.xml"));
    return manifest && manifest->startsWith(QByteArrayLiteral("\x03\x00\x08\x00"));
}

ApkReading read(const QString& path) {
    ApkReading reading;
    reading.label = APKIconExtractor::label(path); // a label comes from the manifest: an APK
    reading.isApk = reading.label || isApk(path);
    return reading;
}

} // namespace ApkFile
