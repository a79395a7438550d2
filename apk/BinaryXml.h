#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

// Android's compiled ("binary") XML, as found in an APK's AndroidManifest.xml and res/**/*.xml,
// read from untrusted bytes. Based on the chunk layout of the Android framework's
// ResourceTypes.h (ResChunk_header, ResStringPool_header, ResXMLTree_attrExt,
// ResXMLTree_attribute, Res_value), checked against files written by aapt.
//
// Every number is little-endian, and every read is bounds-safe: a byte at or past the end reads
// as 0, so a value straddling the end is assembled from the bytes that exist and zeros.
// Nothing here throws; malformed input degrades to empty strings, skipped attributes or fewer
// elements.
namespace APKIconExtractor {

quint8 u8(const QByteArray& bytes, qint64 offset);
quint16 u16(const QByteArray& bytes, qint64 offset);
quint32 u32(const QByteArray& bytes, qint64 offset);

// Chunk header, common to every chunk of a document and of the resource table:
//   +0 u16 type   +2 u16 header size   +4 u32 chunk size (header included)
enum ChunkType : quint16 {
    stringPoolChunk = 0x0001,
    tableChunk = 0x0002,
    xmlDocumentChunk = 0x0003,
    xmlStartElementChunk = 0x0102,
    xmlEndElementChunk = 0x0103,
    tablePackageChunk = 0x0200,
    tableTypeChunk = 0x0201,
};

// Value data types (Res_value::dataType) that icon and label reading acts on.
enum ValueType : quint8 {
    referenceType = 0x01,
    stringType = 0x03,
    floatType = 0x04,
    dimensionType = 0x05,
    fractionType = 0x06,
    decimalType = 0x10,
    hexadecimalType = 0x11,
    colorARGB8Type = 0x1C,
    colorRGB8Type = 0x1D,
    colorARGB4Type = 0x1E,
    colorRGB4Type = 0x1F,
};
bool isColorType(quint8 type);

// One decoded attribute. For the colour types `data` holds 0xAARRGGBB.
struct Attr {
    quint8 type = 0;
    quint32 data = 0;
    std::optional<QString> string; // the raw value text, when its index lies inside the pool
};

// One start element: its name and its attributes by plain name (no namespace). A later attribute
// with the same name replaces an earlier one.
struct Element {
    QString name;
    QMap<QString, Attr> attrs;
};

// String pool chunk (offsets from the chunk start):
//   +8  u32 string count        +12 u32 style count (unused)
//   +16 u32 flags (0x100: UTF-8, else UTF-16)
//   +20 u32 strings start, from the chunk start
//   +header size: u32 per string, its offset from the strings start
// UTF-8 string:  char count (1 byte, 2 when the top bit is set; skipped), byte length L
//                (1 byte, or ((b0 & 0x7F) << 8) | b1 when the top bit is set), L bytes.
//                Bytes running past the end decode as the empty string.
// UTF-16 string: unit count N (1 unit, or ((u0 & 0x7FFF) << 16) | u1 when the top bit is set),
//                N units (cut to the first 4,096). Invalid sequences become U+FFFD.
inline constexpr quint32 maxPoolStrings = 200'000;
inline constexpr quint32 maxUtf16Units = 4'096;

// The whole pool at `offset`: its first min(count, 200,000) strings, in index order. Strings
// beyond the decoding budget of one pool (`maxDecodedUnits`) come out empty.
QStringList stringPool(const QByteArray& bytes, qint64 offset);
// One string of the pool at `poolOffset`; an index outside the pool's count gives "".
QString string(const QByteArray& bytes, qint64 poolOffset, qint64 index);
// The same, charged to `budget` (in UTF-16 units plus 8 per string); "" once the budget is spent.
QString string(const QByteArray& bytes, qint64 poolOffset, qint64 index, qint64& budget);

// A hostile document can point thousands of string offsets at the same long string, or stack
// thousands of tiny chunks. These caps bound the work and memory of one walk; real documents
// stay far below them (a large manifest has a few thousand elements and strings).
// Each decoded string costs its length plus 8 units of the budget.
inline constexpr qint64 maxDecodedUnits = 4 * 1024 * 1024;
inline constexpr qint64 maxElements = 50'000;
inline constexpr qint64 maxAttributes = 200'000;

// Pull reader over a document's chunks. Start element chunk (offsets from the chunk start):
//   +16 u32 namespace index (unused)   +20 u32 name index
//   +24 u16 attribute start, from +16  +26 u16 attribute record size  +28 u16 attribute count
// Attribute record i at chunk + 16 + start + i * record size:
//   +0 u32 namespace (unused)  +4 u32 name index  +8 u32 raw value index (0xFFFFFFFF: none)
//   +12 u16 value size (unused)  +14 u8 reserved  +15 u8 data type  +16 u32 data
// The walk begins at the document header's size, a string pool chunk replaces the pool read
// before, every other chunk type is skipped by its size; a chunk size of 0, fewer than 8 bytes
// left or an exhausted budget ends it. The document's own chunk type is not examined.
class BinaryXmlReader {
public:
    enum class Token { startElement, endElement, end };

    explicit BinaryXmlReader(const QByteArray& bytes);

    Token next();
    // The current start element. Attributes in record order, only those whose name index lies
    // inside the pool.
    const QString& name() const { return m_name; }
    const QList<std::pair<QString, Attr>>& attributes() const { return m_attributes; }
    Element element() const;

private:
    struct Pool {
        qint64 offset = -1;
        quint32 count = 0; // capped at maxPoolStrings
        QHash<quint32, QString> decoded;
    };
    std::optional<QString> poolString(quint32 index);
    void readStartElement(qint64 chunk, qint64 chunkSize);

    const QByteArray m_bytes; // shared, so a temporary argument stays alive
    qint64 m_position = 0;
    bool m_ended = false;
    Pool m_pool;
    qint64 m_unitsLeft = maxDecodedUnits;
    qint64 m_elementsLeft = maxElements;
    qint64 m_attributesLeft = maxAttributes;
    QString m_name;
    QList<std::pair<QString, Attr>> m_attributes;
};

// Every start element of a document, in document order.
QList<Element> elements(const QByteArray& bytes);

} // namespace APKIconExtractor
