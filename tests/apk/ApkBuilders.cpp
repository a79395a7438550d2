#include "ApkBuilders.h"

#include <QFile>
#include <zlib.h>

namespace ApkBuilders {

void setU16(QByteArray& bytes, qsizetype offset, quint16 value) {
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

void setU32(QByteArray& bytes, qsizetype offset, quint32 value) {
    setU16(bytes, offset, quint16(value & 0xFFFF));
    setU16(bytes, offset + 2, quint16(value >> 16));
}

namespace {

// Little-endian fields appended in the order given.
void put16(QByteArray& bytes, std::initializer_list<quint16> values) {
    for (const quint16 value : values) {
        bytes.append(char(value & 0xFF));
        bytes.append(char(value >> 8));
    }
}

void put32(QByteArray& bytes, std::initializer_list<quint32> values) {
    for (const quint32 value : values)
        put16(bytes, {quint16(value & 0xFFFF), quint16(value >> 16)});
}

void pad4(QByteArray& bytes) {
    bytes.append(QByteArray((4 - bytes.size() % 4) % 4, '\0'));
}

// Chunk header (type, header size, total size) and what follows it.
QByteArray chunk(quint16 type, quint16 headerSize, const QByteArray& afterHeader8) {
    QByteArray bytes;
    put16(bytes, {type, headerSize});
    put32(bytes, {quint32(8 + afterHeader8.size())});
    return bytes + afterHeader8;
}

// UTF-8 strings carry their length in characters, then in bytes; UTF-16 strings in units.
QByteArray encode(const QString& string, bool utf8) {
    QByteArray out;
    if (!utf8) {
        put16(out, {quint16(string.size())});
        for (const QChar c : string)
            put16(out, {c.unicode()});
        put16(out, {0});
        return out;
    }
    const QByteArray bytes = string.toUtf8();
    for (const qsizetype length : {string.size(), bytes.size()}) {
        if (length > 0x7F) out.append(char(0x80 | (length >> 8)));
        out.append(char(length & (length > 0x7F ? 0xFF : 0x7F)));
    }
    return out + bytes + '\0';
}

} // namespace

QByteArray stringPool(const QStringList& strings, bool utf8) {
    QByteArray data, body;
    // count, styles, flags, strings start, styles start
    put32(body, {quint32(strings.size()), 0, utf8 ? 0x100u : 0u, quint32(28 + 4 * strings.size()), 0});
    for (const QString& string : strings) {
        put32(body, {quint32(data.size())});
        data += encode(string, utf8);
    }
    pad4(data);
    return chunk(0x0001, 28, body + data);
}

quint32 XmlBuilder::index(const QString& string) {
    if (!m_strings.contains(string)) m_strings.append(string);
    return quint32(m_strings.indexOf(string));
}

XmlBuilder& XmlBuilder::start(const QString& name, const QList<Attribute>& attributes) {
    QByteArray body;
    put32(body, {1, 0xFFFFFFFF, 0xFFFFFFFF, index(name)});      // line, comment, namespace, name
    put16(body, {20, 20, quint16(attributes.size()), 0, 0, 0}); // start, size, count, id, class, style
    for (const Attribute& attribute : attributes) {
        // namespace, name, raw value; then the typed value: size 8, res0, type, data
        put32(body, {0xFFFFFFFF, index(attribute.name), attribute.raw ? index(*attribute.raw) : 0xFFFFFFFF});
        put16(body, {8, quint16(attribute.type << 8)});
        put32(body, {attribute.data});
    }
    m_body += chunk(0x0102, 16, body);
    return *this;
}

XmlBuilder& XmlBuilder::end() {
    QByteArray body;
    put32(body, {1, 0xFFFFFFFF, 0xFFFFFFFF, 0});
    m_body += chunk(0x0103, 16, body);
    return *this;
}

QByteArray XmlBuilder::build() const {
    return chunk(0x0003, 8, stringPool(m_strings, m_utf8) + m_body);
}

XmlBuilder::Attribute text(const QString& name, const QString& value) {
    return {name, value, 0x03, 0};
}
XmlBuilder::Attribute typed(const QString& name, quint8 type, quint32 data) {
    return {name, std::nullopt, type, data};
}

namespace {

QByteArray typeChunk(const TypeSpec& spec) {
    QByteArray entries, table;
    quint32 count = 0;
    for (qsizetype i = 0; i < spec.entries.size(); ++i) {
        const std::optional<EntrySpec>& entry = spec.entries[i];
        const quint32 offset = entry ? quint32(entries.size()) : 0xFFFFFFFF;
        if (spec.offsets == Offsets::bits32) put32(table, {offset});
        if (spec.offsets == Offsets::bits16) put16(table, {quint16(entry ? offset / 4 : 0xFFFF)});
        if (spec.offsets == Offsets::sparse && entry) put16(table, {quint16(i), quint16(offset / 4)});
        count += spec.offsets != Offsets::sparse || entry;
        if (!entry) continue;
        if (entry->compact) {
            put16(entries, {0, quint16(0x0008 | (entry->type << 8))}); // key, flags with the type
        } else {
            put16(entries, {quint16(entry->complex ? 16 : 8), quint16(entry->complex ? 0x0001 : 0)});
            put32(entries, {0});                        // key
            if (entry->complex) put32(entries, {0, 0}); // parent, count
            put16(entries, {8, quint16(entry->type << 8)});
        }
        put32(entries, {entry->data});
    }
    pad4(table);
    constexpr int headerSize = 20 + 64;
    const quint8 flags = spec.offsets == Offsets::sparse ? 0x01 : spec.offsets == Offsets::bits16 ? 0x02 : 0;
    QByteArray body;
    put16(body, {quint16(spec.typeID | (flags << 8)), 0});
    put32(body, {count, quint32(headerSize + table.size())});
    QByteArray config(64, '\0'); // size, then the density at byte 14
    setU32(config, 0, 64);
    setU16(config, 14, spec.density);
    return chunk(0x0201, headerSize, body + config + table + entries);
}

} // namespace

QByteArray table(const QStringList& globalStrings, quint32 packageID, const QList<TypeSpec>& types) {
    QByteArray package;
    put32(package, {packageID});
    package += QByteArray(256 + 5 * 4, '\0'); // name, then the type and key pool fields
    for (const TypeSpec& type : types)
        package += typeChunk(type);
    QByteArray body;
    put32(body, {1}); // package count
    return chunk(0x0002, 12, body + stringPool(globalStrings, true) + chunk(0x0200, 288, package));
}

namespace {

QByteArray rawDeflate(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

ZipLayout zipBytes(const QList<ZipSpec>& entries) {
    ZipLayout layout;
    QByteArray directory;
    for (const ZipSpec& spec : entries) {
        const QByteArray name = spec.name.toUtf8();
        const QByteArray body = spec.deflate ? rawDeflate(spec.data) : spec.data;
        const quint32 crc = quint32(
            crc32_z(0, reinterpret_cast<const Bytef*>(spec.data.constData()), size_t(spec.data.size())));
        // The fields from "version needed" to the name's length are the same in both records.
        QByteArray shared;
        put16(shared, {20, 0, quint16(spec.deflate ? 8 : 0), 0, 0}); // needed, flags, method, time, date
        put32(shared, {crc, quint32(body.size()), quint32(spec.data.size())});
        put16(shared, {quint16(name.size())});
        layout.local.append(layout.bytes.size());
        put32(layout.bytes, {0x04034B50});
        layout.bytes += shared + QByteArray(2, '\0') + name + body; // no extra field

        layout.central.append(directory.size()); // made absolute below
        put32(directory, {0x02014B50});
        put16(directory, {20});                     // made by
        directory += shared + QByteArray(12, '\0'); // extra, comment, disk, attributes
        put32(directory, {quint32(layout.local.last())});
        directory += name;
    }
    const qsizetype directoryOffset = layout.bytes.size();
    for (qsizetype& record : layout.central)
        record += directoryOffset;
    layout.bytes += directory;
    layout.end = layout.bytes.size();
    put32(layout.bytes, {0x06054B50, 0}); // signature, disks
    put16(layout.bytes, {quint16(entries.size()), quint16(entries.size())});
    put32(layout.bytes, {quint32(directory.size()), quint32(directoryOffset)});
    put16(layout.bytes, {0}); // comment
    return layout;
}

bool writeZip(const QString& path, const QList<ZipSpec>& entries) {
    return writeFile(path, zipBytes(entries).bytes);
}

QString fixture(const QString& name) {
    return QStringLiteral(VANTLE_APK_FIXTURES) + u'/' + name + QStringLiteral(".apk");
}

} // namespace ApkBuilders
