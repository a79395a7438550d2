#include "fuzz/FuzzEntries.h"

#include "apk/APKIconExtractor.h"
#include "apk/APKManifestReader.h"
#include "apk/ApkArchive.h"
#include "apk/IconVector.h"
#include "apk/PathData.h"

#include <QByteArray>

using namespace APKIconExtractor;

namespace FuzzEntries {

namespace {

QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace

void binaryXml(const uint8_t* data, size_t size) {
    const QByteArray bytes = bytesOf(data, size);
    const QList<Element> found = elements(bytes);
    (void)IconVector::tree(bytes);
    // A pool read on its own, where a document would have its first one. Pools claiming more
    // strings are the unit tests' business: decoding 200,000 of them would slow every run down.
    if (u32(bytes, u16(bytes, 2) + 8) <= 256) (void)stringPool(bytes, u16(bytes, 2));
    (void)string(bytes, u16(bytes, 2), found.size());
}

void manifest(const uint8_t* data, size_t size) {
    (void)APKManifestReader::parse(bytesOf(data, size));
}

// The first four bytes pick the resource id; the rest is the table.
void resourceTable(const uint8_t* data, size_t size) {
    const QByteArray bytes = bytesOf(data, size);
    const quint32 id = u32(bytes, 0);
    const QByteArray table = bytes.mid(4);
    (void)entries(table, id);
    (void)entries(table, (id & 0xFFFF0000u) | 0x0000u);
}

// The input is both the drawable and the resource table, so references can lead somewhere.
// No APK file exists: every file read comes back empty.
void vector(const uint8_t* data, size_t size) {
    const QByteArray bytes = bytesOf(data, size);
    IconSource source(QString(), bytes);
    (void)IconVector::render(bytes, source, 0);
    (void)layer(elements(bytes), source, 0); // the adaptive icon's layers, without its log line
}

void pathData(const uint8_t* data, size_t size) {
    (void)PathData::parse(QString::fromUtf8(bytesOf(data, size)));
}

// The input as a whole APK: open it, list it, read every entry one by one and then together.
void zipContainer(const uint8_t* data, size_t size) {
    const std::unique_ptr<ApkArchive> archive = ApkArchive::fromBytes(bytesOf(data, size));
    const std::optional<QStringList> names = archive->entryNames();
    if (!names) return;
    for (const QString& name : *names)
        (void)archive->read(name);
    (void)archive->readMany(QSet<QString>(names->cbegin(), names->cend()));
    (void)archive->read(QStringLiteral("AndroidManifest.xml"));
}

} // namespace FuzzEntries
