#pragma once

#include "support/TestSupport.h" // writeFile, readFile

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QXmlStreamReader>
#include <QtEndian>
#include <bit>
#include <optional>
#include <zlib.h>

// Byte-level builders for the hand-made cases that aapt cannot produce (UTF-8 manifests, sparse
// and 16-bit offset tables, compact entries, truncated and hostile files), and a zip writer to
// wrap them in an APK. Layouts follow the framework's ResourceTypes.h.
namespace ApkBuilders {

inline void setU16(QByteArray& bytes, qsizetype offset, quint16 value) {
    qToLittleEndian(value, bytes.data() + offset);
}
inline void setU32(QByteArray& bytes, qsizetype offset, quint32 value) {
    qToLittleEndian(value, bytes.data() + offset);
}
// Little-endian fields appended in the order given.
template <typename T> void put(QByteArray& bytes, std::initializer_list<T> values) {
    for (const T value : values) {
        bytes.resize(bytes.size() + qsizetype(sizeof(T)));
        qToLittleEndian(value, bytes.data() + bytes.size() - sizeof(T));
    }
}
// Chunk header (type, header size, total size) and what follows it.
inline QByteArray chunk(quint16 type, quint16 headerSize, const QByteArray& afterHeader8) {
    QByteArray bytes;
    put<quint16>(bytes, {type, headerSize});
    put<quint32>(bytes, {quint32(8 + afterHeader8.size())});
    return bytes + afterHeader8;
}

// A string pool chunk (header 28 bytes, offsets, strings, padded to 4). UTF-8 strings carry their
// length in characters, then in bytes; UTF-16 strings in units.
inline QByteArray stringPool(const QStringList& strings, bool utf8) {
    QByteArray data, body;
    // count, styles, flags, strings start, styles start
    put<quint32>(body, {quint32(strings.size()), 0, utf8 ? 0x100u : 0u, quint32(28 + 4 * strings.size()), 0});
    for (const QString& string : strings) {
        put<quint32>(body, {quint32(data.size())});
        if (!utf8) {
            put<quint16>(data, {quint16(string.size())});
            for (const QChar c : string + QChar(0))
                put<quint16>(data, {c.unicode()});
            continue;
        }
        const QByteArray bytes = string.toUtf8();
        for (const qsizetype length : {string.size(), bytes.size()}) {
            if (length > 0x7F) data.append(char(0x80 | (length >> 8)));
            data.append(char(length & (length > 0x7F ? 0xFF : 0x7F)));
        }
        data += bytes + '\0';
    }
    data.append(QByteArray((4 - data.size() % 4) % 4, '\0'));
    return chunk(0x0001, 28, body + data);
}

// A compiled XML document from source text: one pool, then start and end element chunks in
// document order. Attribute values "@7F010000" are references, "#FF00FF00" ARGB colours, "f:0.5"
// floats, "t:10:1" any type with its data (hex); the rest are strings (type 0x03, data 0, raw value).
// A suffix from "." on drops off a name, so an element can repeat an attribute ("icon.2").
inline QByteArray compiled(const QString& source, bool utf8 = false) {
    QStringList strings;
    const auto index = [&](const QString& string) {
        if (!strings.contains(string)) strings.append(string);
        return quint32(strings.indexOf(string));
    };
    QByteArray body;
    QXmlStreamReader reader(source);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        QByteArray element;
        if (token == QXmlStreamReader::EndElement) {
            put<quint32>(element, {1, 0xFFFFFFFF, 0xFFFFFFFF, 0});
            body += chunk(0x0103, 16, element);
        }
        if (token != QXmlStreamReader::StartElement) continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        put<quint32>(element,
                     {1, 0xFFFFFFFF, 0xFFFFFFFF, index(reader.name().toString())}); // line, comment, ns
        put<quint16>(element,
                     {20, 20, quint16(attributes.size()), 0, 0, 0}); // start, size, count, id, class, style
        for (const QXmlStreamAttribute& attribute : attributes) {
            const QString value = attribute.value().toString();
            const QStringList parts = value.split(u':');
            quint8 type = 0x03;
            quint32 data = 0;
            if (value.startsWith(u'@') || value.startsWith(u'#')) {
                type = value[0] == u'@' ? 0x01 : 0x1C;
                data = value.mid(1).toUInt(nullptr, 16);
            } else if (parts.size() == 2 && parts[0] == u"f") {
                type = 0x04;
                data = std::bit_cast<quint32>(parts[1].toFloat());
            } else if (parts.size() == 3 && parts[0] == u"t") {
                type = quint8(parts[1].toUInt(nullptr, 16));
                data = parts[2].toUInt(nullptr, 16);
            }
            // namespace, name, raw value; then the typed value: size 8, res0, type, data
            const quint32 name = index(attribute.name().toString().section(u'.', 0, 0));
            put<quint32>(element, {0xFFFFFFFF, name, type == 0x03 ? index(value) : 0xFFFFFFFF});
            put<quint16>(element, {8, quint16(type << 8)});
            put<quint32>(element, {data});
        }
        body += chunk(0x0102, 16, element);
    }
    return chunk(0x0003, 8, stringPool(strings, utf8) + body);
}

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
inline QByteArray typeChunk(const TypeSpec& spec) {
    QByteArray entries, table;
    quint32 count = 0;
    for (qsizetype i = 0; i < spec.entries.size(); ++i) {
        const std::optional<EntrySpec>& entry = spec.entries[i];
        const quint32 offset = entry ? quint32(entries.size()) : 0xFFFFFFFF;
        if (spec.offsets == Offsets::bits32) put<quint32>(table, {offset});
        if (spec.offsets == Offsets::bits16) put<quint16>(table, {quint16(entry ? offset / 4 : 0xFFFF)});
        if (spec.offsets == Offsets::sparse && entry) put<quint16>(table, {quint16(i), quint16(offset / 4)});
        count += spec.offsets != Offsets::sparse || entry;
        if (!entry) continue;
        if (entry->compact) {
            put<quint16>(entries, {0, quint16(0x0008 | (entry->type << 8))}); // key, flags with the type
        } else {
            put<quint16>(entries, {quint16(entry->complex ? 16 : 8), quint16(entry->complex ? 0x0001 : 0)});
            put<quint32>(entries, {0});                        // key
            if (entry->complex) put<quint32>(entries, {0, 0}); // parent, count
            put<quint16>(entries, {8, quint16(entry->type << 8)});
        }
        put<quint32>(entries, {entry->data});
    }
    table.append(QByteArray((4 - table.size() % 4) % 4, '\0'));
    constexpr int headerSize = 20 + 64;
    const quint8 flags = spec.offsets == Offsets::sparse ? 0x01 : spec.offsets == Offsets::bits16 ? 0x02 : 0;
    QByteArray body, config(64, '\0'); // the configuration's size, then the density at byte 14
    put<quint16>(body, {quint16(spec.typeID | (flags << 8)), 0});
    put<quint32>(body, {count, quint32(headerSize + table.size())});
    setU32(config, 0, 64);
    setU16(config, 14, spec.density);
    return chunk(0x0201, headerSize, body + config + table + entries);
}
inline QByteArray table(const QStringList& globalStrings, quint32 packageID, const QList<TypeSpec>& types) {
    QByteArray package, body;
    put<quint32>(package, {packageID});
    package += QByteArray(256 + 5 * 4, '\0'); // name, then the type and key pool fields
    for (const TypeSpec& type : types)
        package += typeChunk(type);
    put<quint32>(body, {1}); // package count
    return chunk(0x0002, 12, body + stringPool(globalStrings, true) + chunk(0x0200, 288, package));
}

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
// Raw deflate data, as zip entries hold it: qCompress's zlib stream without its size, header and checksum.
inline QByteArray rawDeflate(const QByteArray& data) {
    return qCompress(data).mid(4 + 2).chopped(4);
}
inline ZipLayout zipBytes(const QList<ZipSpec>& entries) {
    ZipLayout layout;
    QByteArray directory;
    for (const ZipSpec& spec : entries) {
        const QByteArray name = spec.name.toUtf8(), body = spec.deflate ? rawDeflate(spec.data) : spec.data;
        const auto crc = quint32(
            crc32_z(0, reinterpret_cast<const Bytef*>(spec.data.constData()), size_t(spec.data.size())));
        // The fields from "version needed" to the name's length are the same in both records.
        QByteArray shared;
        put<quint16>(shared,
                     {20, 0, quint16(spec.deflate ? 8 : 0), 0, 0}); // needed, flags, method, time, date
        put<quint32>(shared, {crc, quint32(body.size()), quint32(spec.data.size())});
        put<quint16>(shared, {quint16(name.size()), 0}); // name length; the local header's extra
        layout.local.append(layout.bytes.size());
        put<quint32>(layout.bytes, {0x04034B50});
        layout.bytes += shared + name + body;
        layout.central.append(directory.size()); // made absolute below
        put<quint32>(directory, {0x02014B50});
        put<quint16>(directory, {20});              // made by
        directory += shared + QByteArray(10, '\0'); // comment, disk, attributes
        put<quint32>(directory, {quint32(layout.local.last())});
        directory += name;
    }
    const qsizetype directoryOffset = layout.bytes.size();
    for (qsizetype& record : layout.central)
        record += directoryOffset;
    layout.bytes += directory;
    layout.end = layout.bytes.size();
    put<quint32>(layout.bytes, {0x06054B50, 0}); // signature, disks
    put<quint16>(layout.bytes, {quint16(entries.size()), quint16(entries.size())});
    put<quint32>(layout.bytes, {quint32(directory.size()), quint32(directoryOffset)});
    put<quint16>(layout.bytes, {0}); // comment
    return layout;
}
// False when it cannot be written.
inline bool writeZip(const QString& path, const QList<ZipSpec>& entries) {
    return writeFile(path, zipBytes(entries).bytes);
}

// The path of a committed fixture APK, "tests/data/apk/<name>.apk".
inline QString fixture(const QString& name) {
    return QStringLiteral(VANTLE_APK_FIXTURES) + u'/' + name + QStringLiteral(".apk");
}

} // namespace ApkBuilders
