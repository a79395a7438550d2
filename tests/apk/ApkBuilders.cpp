#include "ApkBuilders.h"

#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

namespace ApkBuilders {

void putU16(QByteArray& bytes, quint16 value) {
    bytes.append(char(value & 0xFF));
    bytes.append(char(value >> 8));
}

void putU32(QByteArray& bytes, quint32 value) {
    putU16(bytes, quint16(value & 0xFFFF));
    putU16(bytes, quint16(value >> 16));
}

void setU16(QByteArray& bytes, qsizetype offset, quint16 value) {
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

void setU32(QByteArray& bytes, qsizetype offset, quint32 value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

namespace {

void pad4(QByteArray& bytes) {
    while (bytes.size() % 4)
        bytes.append('\0');
}

// Chunk header + body, with the size filled in.
QByteArray chunk(quint16 type, quint16 headerSize, const QByteArray& afterHeader8) {
    QByteArray bytes;
    putU16(bytes, type);
    putU16(bytes, headerSize);
    putU32(bytes, quint32(8 + afterHeader8.size()));
    bytes += afterHeader8;
    return bytes;
}

QByteArray encodeUtf8(const QString& string) {
    const QByteArray utf8 = string.toUtf8();
    QByteArray out;
    for (const qsizetype length : {string.size(), utf8.size()}) {
        if (length > 0x7F) {
            out.append(char(0x80 | (length >> 8)));
            out.append(char(length & 0xFF));
        } else {
            out.append(char(length));
        }
    }
    return out + utf8 + '\0';
}

QByteArray encodeUtf16(const QString& string) {
    QByteArray out;
    putU16(out, quint16(string.size()));
    for (const QChar c : string)
        putU16(out, c.unicode());
    putU16(out, 0);
    return out;
}

} // namespace

QByteArray stringPool(const QStringList& strings, bool utf8) {
    QByteArray data;
    QList<quint32> offsets;
    for (const QString& string : strings) {
        offsets.append(quint32(data.size()));
        data += utf8 ? encodeUtf8(string) : encodeUtf16(string);
    }
    pad4(data);
    QByteArray body;
    putU32(body, quint32(strings.size()));
    putU32(body, 0);                                // styles
    putU32(body, utf8 ? 0x100 : 0);                 // flags
    putU32(body, quint32(28 + 4 * strings.size())); // strings start
    putU32(body, 0);                                // styles start
    for (const quint32 offset : offsets)
        putU32(body, offset);
    return chunk(0x0001, 28, body + data);
}

quint32 XmlBuilder::index(const QString& string) {
    qsizetype at = m_strings.indexOf(string);
    if (at < 0) {
        at = m_strings.size();
        m_strings.append(string);
    }
    return quint32(at);
}

XmlBuilder& XmlBuilder::start(const QString& name, const QList<Attribute>& attributes) {
    QByteArray body;
    putU32(body, 1);          // line
    putU32(body, 0xFFFFFFFF); // comment
    putU32(body, 0xFFFFFFFF); // namespace
    putU32(body, index(name));
    putU16(body, 20); // attribute start
    putU16(body, 20); // attribute size
    putU16(body, quint16(attributes.size()));
    putU16(body, 0);
    putU16(body, 0);
    putU16(body, 0);
    for (const Attribute& attribute : attributes) {
        putU32(body, 0xFFFFFFFF);
        putU32(body, index(attribute.name));
        putU32(body, attribute.raw ? index(*attribute.raw) : 0xFFFFFFFF);
        putU16(body, 8);
        body.append('\0');
        body.append(char(attribute.type));
        putU32(body, attribute.data);
    }
    m_body += chunk(0x0102, 16, body);
    return *this;
}

XmlBuilder& XmlBuilder::end() {
    QByteArray body;
    putU32(body, 1);
    putU32(body, 0xFFFFFFFF);
    putU32(body, 0xFFFFFFFF);
    putU32(body, 0);
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
    QByteArray entries;
    QList<quint32> offsets; // 0xFFFFFFFF for none
    for (const std::optional<EntrySpec>& entry : spec.entries) {
        if (!entry) {
            offsets.append(0xFFFFFFFF);
            continue;
        }
        offsets.append(quint32(entries.size()));
        if (entry->compact) {
            putU16(entries, 0); // key
            putU16(entries, quint16(0x0008 | (entry->type << 8)));
            putU32(entries, entry->data);
        } else {
            putU16(entries, entry->complex ? 16 : 8);
            putU16(entries, entry->complex ? 0x0001 : 0);
            putU32(entries, 0); // key
            if (entry->complex) {
                putU32(entries, 0); // parent
                putU32(entries, 0); // count
            }
            putU16(entries, 8);
            entries.append('\0');
            entries.append(char(entry->type));
            putU32(entries, entry->data);
        }
    }
    QByteArray table;
    quint32 count = quint32(spec.entries.size());
    if (spec.offsets == Offsets::sparse) {
        count = 0;
        for (qsizetype i = 0; i < offsets.size(); ++i) {
            if (offsets[i] == 0xFFFFFFFF) continue;
            putU16(table, quint16(i));
            putU16(table, quint16(offsets[i] / 4));
            ++count;
        }
    } else {
        for (const quint32 offset : offsets) {
            if (spec.offsets == Offsets::bits16)
                putU16(table, offset == 0xFFFFFFFF ? 0xFFFF : quint16(offset / 4));
            else
                putU32(table, offset);
        }
    }
    pad4(table);
    constexpr int headerSize = 20 + 64;
    QByteArray body;
    body.append(char(spec.typeID));
    body.append(char(spec.offsets == Offsets::sparse ? 0x01 : spec.offsets == Offsets::bits16 ? 0x02 : 0));
    putU16(body, 0);
    putU32(body, count);
    putU32(body, quint32(headerSize + table.size()));
    QByteArray config(64, '\0');
    setU32(config, 0, 64);
    config[14] = char(spec.density & 0xFF);
    config[15] = char(spec.density >> 8);
    body += config;
    return chunk(0x0201, headerSize, body + table + entries);
}

} // namespace

QByteArray table(const QStringList& globalStrings, quint32 packageID, const QList<TypeSpec>& types) {
    QByteArray package;
    putU32(package, packageID);
    package += QByteArray(256, '\0'); // name
    for (int i = 0; i < 5; ++i)
        putU32(package, 0);
    for (const TypeSpec& type : types)
        package += typeChunk(type);
    QByteArray body;
    putU32(body, 1); // package count
    body += stringPool(globalStrings, true);
    body += chunk(0x0200, 288, package);
    return chunk(0x0002, 12, body);
}

bool writeZip(const QString& path, const QList<std::pair<QString, QByteArray>>& entries) {
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    bool ok = archive_write_open_filename(zip, path.toLocal8Bit().constData()) == ARCHIVE_OK;
    for (const auto& [name, bytes] : entries) {
        if (!ok) break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.toUtf8().constData());
        archive_entry_set_size(entry, bytes.size());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        ok = archive_write_header(zip, entry) == ARCHIVE_OK &&
             archive_write_data(zip, bytes.constData(), size_t(bytes.size())) == bytes.size();
        archive_entry_free(entry);
    }
    ok = archive_write_close(zip) == ARCHIVE_OK && ok;
    archive_write_free(zip);
    return ok;
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
        const quint32 offset = quint32(layout.bytes.size());
        layout.local.append(offset);
        QByteArray& out = layout.bytes;
        putU32(out, 0x04034B50);
        putU16(out, 20);                   // version needed
        putU16(out, 0);                    // flags
        putU16(out, spec.deflate ? 8 : 0); // method
        putU32(out, 0);                    // time, date
        putU32(out, crc);
        putU32(out, quint32(body.size()));
        putU32(out, quint32(spec.data.size()));
        putU16(out, quint16(name.size()));
        putU16(out, 0); // extra
        out += name + body;

        layout.central.append(directory.size()); // made absolute below
        putU32(directory, 0x02014B50);
        putU16(directory, 20);                   // made by
        putU16(directory, 20);                   // needed
        putU16(directory, 0);                    // flags
        putU16(directory, spec.deflate ? 8 : 0); // method
        putU32(directory, 0);                    // time, date
        putU32(directory, crc);
        putU32(directory, quint32(body.size()));
        putU32(directory, quint32(spec.data.size()));
        putU16(directory, quint16(name.size()));
        putU32(directory, 0); // extra, comment lengths
        putU32(directory, 0); // disk, internal attributes
        putU32(directory, 0); // external attributes
        putU32(directory, offset);
        directory += name;
    }
    const qsizetype directoryOffset = layout.bytes.size();
    for (qsizetype& record : layout.central)
        record += directoryOffset;
    layout.bytes += directory;
    layout.end = layout.bytes.size();
    putU32(layout.bytes, 0x06054B50);
    putU32(layout.bytes, 0); // disks
    putU16(layout.bytes, quint16(entries.size()));
    putU16(layout.bytes, quint16(entries.size()));
    putU32(layout.bytes, quint32(directory.size()));
    putU32(layout.bytes, quint32(directoryOffset));
    putU16(layout.bytes, 0); // comment
    return layout;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString fixture(const QString& name) {
    return QStringLiteral(VANTLE_APK_FIXTURES) + u'/' + name + QStringLiteral(".apk");
}

} // namespace ApkBuilders
