#include "apk/BinaryXml.h"

#include <QtEndian>
#include <algorithm>

namespace APKIconExtractor {

quint8 u8(const QByteArray& bytes, qint64 offset) {
    if (offset < 0 || offset >= bytes.size()) return 0;
    return static_cast<quint8>(bytes.at(static_cast<qsizetype>(offset)));
}

quint16 u16(const QByteArray& bytes, qint64 offset) {
    return static_cast<quint16>(u8(bytes, offset) | (u8(bytes, offset + 1) << 8));
}

quint32 u32(const QByteArray& bytes, qint64 offset) {
    return static_cast<quint32>(u16(bytes, offset)) | (static_cast<quint32>(u16(bytes, offset + 2)) << 16);
}

bool isColorType(quint8 type) {
    return type >= colorARGB8Type && type <= colorRGB4Type;
}

namespace {

constexpr quint32 utf8Flag = 0x100;
constexpr qint64 costPerString = 8;

QString decodeUtf8(const QByteArray& bytes, qint64 at, qint64& budget) {
    qint64 p = at + ((u8(bytes, at) & 0x80) ? 2 : 1); // character count, not needed
    qint64 length = u8(bytes, p);
    if (length & 0x80) {
        length = ((length & 0x7F) << 8) | u8(bytes, p + 1);
        p += 2;
    } else {
        p += 1;
    }
    if (p + length > bytes.size() || budget < length + costPerString) return {};
    budget -= length + costPerString;
    if (length == 0) return {};
    return QString::fromUtf8(bytes.constData() + p, static_cast<qsizetype>(length));
}

QString decodeUtf16(const QByteArray& bytes, qint64 at, qint64& budget) {
    quint32 units = u16(bytes, at);
    qint64 p = at + 2;
    if (units & 0x8000) {
        units = ((units & 0x7FFF) << 16) | u16(bytes, at + 2);
        p += 2;
    }
    units = std::min(units, maxUtf16Units);
    if (budget < units + costPerString) return {};
    budget -= units + costPerString;
    if (units == 0) return {};
    // Units past the end of the data read as 0, like every other read.
    QString text(static_cast<qsizetype>(units), QChar(0));
    const qint64 present = std::clamp<qint64>((bytes.size() - p) / 2, 0, units);
    if (present > 0)
        qFromLittleEndian<char16_t>(bytes.constData() + p, present, reinterpret_cast<char16_t*>(text.data()));
    if (present < units && p + 2 * present < bytes.size()) // half a unit left: its low byte
        text[present] = QChar(u16(bytes, p + 2 * present));
    // Unpaired surrogates are invalid UTF-16.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text;
}

// A pool's header fields, read once for all its strings.
struct PoolHeader {
    qint64 offset;
    qint64 offsetsStart;
    qint64 stringsStart;
    bool utf8;
    quint32 count; // as claimed
};

PoolHeader poolHeader(const QByteArray& bytes, qint64 pool) {
    return {pool, pool + u16(bytes, pool + 2), pool + u32(bytes, pool + 20),
            bool(u32(bytes, pool + 16) & utf8Flag), u32(bytes, pool + 8)};
}

// String `index` of the pool, which the caller has checked against the count.
QString decodeString(const QByteArray& bytes, const PoolHeader& pool, quint32 index, qint64& budget) {
    const qint64 at = pool.stringsStart + u32(bytes, pool.offsetsStart + 4 * qint64(index));
    return pool.utf8 ? decodeUtf8(bytes, at, budget) : decodeUtf16(bytes, at, budget);
}

} // namespace

QStringList stringPool(const QByteArray& bytes, qint64 offset) {
    const PoolHeader pool = poolHeader(bytes, offset);
    const quint32 count = std::min(pool.count, maxPoolStrings);
    qint64 budget = maxDecodedUnits;
    QStringList strings;
    strings.reserve(count);
    // Once the budget cannot pay for even an empty string, the rest are empty.
    for (quint32 i = 0; i < count && budget >= costPerString; ++i)
        strings.append(decodeString(bytes, pool, i, budget));
    strings.resize(count);
    return strings;
}

QString string(const QByteArray& bytes, qint64 poolOffset, qint64 index) {
    qint64 budget = maxDecodedUnits; // one string is bounded by its length field anyway
    return string(bytes, poolOffset, index, budget);
}

QString string(const QByteArray& bytes, qint64 poolOffset, qint64 index, qint64& budget) {
    const PoolHeader pool = poolHeader(bytes, poolOffset);
    if (index < 0 || index >= pool.count) return {};
    return decodeString(bytes, pool, static_cast<quint32>(index), budget);
}

BinaryXmlReader::BinaryXmlReader(const QByteArray& bytes)
    : m_bytes(bytes)
    , m_position(u16(bytes, 2)) {}

BinaryXmlReader::Token BinaryXmlReader::next() {
    while (!m_ended) {
        if (m_position + 8 > m_bytes.size()) break;
        const qint64 chunk = m_position;
        const quint16 type = u16(m_bytes, chunk);
        const quint32 size = u32(m_bytes, chunk + 4);
        if (size == 0) break;
        m_position += size;
        switch (type) {
        case stringPoolChunk:
            m_pool = Pool{chunk, std::min(u32(m_bytes, chunk + 8), maxPoolStrings), {}};
            break;
        case xmlStartElementChunk:
            if (--m_elementsLeft < 0) {
                m_ended = true;
                break;
            }
            readStartElement(chunk, size);
            return Token::startElement;
        case xmlEndElementChunk:
            return Token::endElement;
        default:
            break;
        }
    }
    m_ended = true;
    return Token::end;
}

std::optional<QString> BinaryXmlReader::poolString(quint32 index) {
    if (m_pool.offset < 0 || index >= m_pool.count) return std::nullopt;
    const auto known = m_pool.decoded.constFind(index);
    if (known != m_pool.decoded.cend()) return *known;
    const QString text = decodeString(m_bytes, poolHeader(m_bytes, m_pool.offset), index, m_unitsLeft);
    m_pool.decoded.insert(index, text);
    return text;
}

void BinaryXmlReader::readStartElement(qint64 chunk, qint64 chunkSize) {
    m_name = poolString(u32(m_bytes, chunk + 20)).value_or(QString());
    m_attributes.clear();
    const qint64 start = u16(m_bytes, chunk + 24);
    const qint64 recordSize = u16(m_bytes, chunk + 26);
    const qint64 first = chunk + 16 + start;
    // Only records that start inside the element's own chunk (and the data) are its attributes:
    // past it lie the next chunks, which would read as junk attributes. Records of size 0 are one
    // record read over and over.
    const qint64 end = std::min<qint64>(chunk + chunkSize, m_bytes.size());
    qint64 count = u16(m_bytes, chunk + 28);
    if (recordSize == 0)
        count = std::min<qint64>(count, 1);
    else
        count = std::min(count, std::max<qint64>(0, (end - first + recordSize - 1) / recordSize));
    for (qint64 i = 0; i < count; ++i) {
        if (--m_attributesLeft < 0) {
            m_ended = true; // this element is still delivered, with the attributes read so far
            return;
        }
        const qint64 record = first + i * recordSize;
        std::optional<QString> name = poolString(u32(m_bytes, record + 4));
        if (!name) continue;
        Attr attr;
        attr.type = u8(m_bytes, record + 15);
        attr.data = u32(m_bytes, record + 16);
        attr.string = poolString(u32(m_bytes, record + 8));
        m_attributes.append({std::move(*name), std::move(attr)});
    }
}

Element BinaryXmlReader::element() const {
    Element element{m_name, {}};
    for (const auto& [name, attr] : m_attributes)
        element.attrs.insert(name, attr);
    return element;
}

QList<Element> elements(const QByteArray& bytes) {
    QList<Element> found;
    BinaryXmlReader reader(bytes);
    for (BinaryXmlReader::Token token; (token = reader.next()) != BinaryXmlReader::Token::end;)
        if (token == BinaryXmlReader::Token::startElement) found.append(reader.element());
    return found;
}

} // namespace APKIconExtractor
