#pragma once

#include "support/TestSupport.h" // writeFile, readFile

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Byte-level builders for the hand-made cases that aapt cannot produce (UTF-8 manifests, sparse
// and 16-bit offset tables, compact entries, truncated and hostile files), and a zip writer to
// wrap them in an APK. Layouts follow the framework's ResourceTypes.h.
namespace ApkBuilders {

void setU16(QByteArray& bytes, qsizetype offset, quint16 value);
void setU32(QByteArray& bytes, qsizetype offset, quint32 value);

// A string pool chunk (header 28 bytes, offsets, strings, padded to 4).
QByteArray stringPool(const QStringList& strings, bool utf8);

// A compiled XML document: one pool, then start and end element chunks in the order given.
class XmlBuilder {
public:
    struct Attribute {
        QString name;
        std::optional<QString> raw; // the raw value string, or none (index 0xFFFFFFFF)
        quint8 type = 0x03;
        quint32 data = 0;
    };

    explicit XmlBuilder(bool utf8 = false)
        : m_utf8(utf8) {}
    XmlBuilder& start(const QString& name, const QList<Attribute>& attributes = {});
    XmlBuilder& end();
    quint32 index(const QString& string); // the pool index of a string, added when new
    QByteArray build() const;

private:
    bool m_utf8;
    QStringList m_strings;
    QByteArray m_body;
};

// A string attribute (raw value and type 0x03), and a typed one without raw value.
XmlBuilder::Attribute text(const QString& name, const QString& value);
XmlBuilder::Attribute typed(const QString& name, quint8 type, quint32 data);

// A resource table of one package with the given type chunks.
struct EntrySpec {
    quint8 type = 0x03;
    quint32 data = 0;
    bool compact = false;
    bool complex = false;
};
enum class Offsets { bits32, bits16, sparse };
struct TypeSpec {
    quint8 typeID = 1;
    quint16 density = 0;
    Offsets offsets = Offsets::bits32;
    QList<std::optional<EntrySpec>> entries; // by entry index; none = no entry
};
QByteArray table(const QStringList& globalStrings, quint32 packageID, const QList<TypeSpec>& types);

// A zip laid out byte by byte, for every hand-made APK and the container reader's hostile cases:
// local headers with sizes and CRC (no data descriptors), the central directory, the end record.
// The offsets of each record are given so that cases can damage exactly one field.
struct ZipSpec {
    QString name;
    QByteArray data;
    bool deflate = false;
};
struct ZipLayout {
    QByteArray bytes;
    QList<qsizetype> local;   // each entry's local header
    QList<qsizetype> central; // each entry's central directory record
    qsizetype end = 0;        // the end record
};
ZipLayout zipBytes(const QList<ZipSpec>& entries);
bool writeZip(const QString& path, const QList<ZipSpec>& entries); // false when it cannot be written

// The path of a committed fixture APK, "tests/data/apk/<name>.apk".
QString fixture(const QString& name);

} // namespace ApkBuilders
