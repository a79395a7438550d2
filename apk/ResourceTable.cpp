#include "apk/ResourceTable.h"

#include "apk/BinaryXml.h"

#include <algorithm>

namespace APKIconExtractor {

namespace {

constexpr quint8 sparseFlag = 0x01;
constexpr quint8 offset16Flag = 0x02;
constexpr quint16 complexEntryFlag = 0x0001;
constexpr quint16 compactEntryFlag = 0x0008;

// Where entry `index` of the type chunk at `chunk` (which ends at `chunkEnd`) lies, or nothing.
std::optional<qint64> entryOffset(const QByteArray& arsc, qint64 chunk, qint64 chunkEnd, quint32 index) {
    const quint8 flags = u8(arsc, chunk + 9);
    const quint32 count = u32(arsc, chunk + 12);
    const qint64 table = chunk + u16(arsc, chunk + 2);
    if (flags & sparseFlag) {
        // Pairs outside the chunk cannot belong to it; this also bounds the search.
        const qint64 inChunk = std::max<qint64>(0, (chunkEnd - table) / 4);
        const qint64 pairs = std::min<qint64>(count, inChunk);
        for (qint64 i = 0; i < pairs; ++i)
            if (u16(arsc, table + 4 * i) == index) return qint64(u16(arsc, table + 4 * i + 2)) * 4;
        return std::nullopt;
    }
    if (index >= count) return std::nullopt;
    if (flags & offset16Flag) {
        const quint16 slot = u16(arsc, table + 2 * qint64(index));
        if (slot == 0xFFFF) return std::nullopt;
        return qint64(slot) * 4;
    }
    const quint32 slot = u32(arsc, table + 4 * qint64(index));
    if (slot == 0xFFFFFFFF) return std::nullopt;
    return qint64(slot);
}

struct Lookup {
    const QByteArray& arsc;
    quint32 typeID;
    quint32 entryIndex;
    std::optional<qint64> globalPool;
    qint64 budget = maxDecodedUnits;
    QList<Entry> found;

    bool full() const { return found.size() >= maxEntriesPerLookup || budget <= 0; }

    void readType(qint64 chunk, qint64 chunkEnd) {
        const std::optional<qint64> offset = entryOffset(arsc, chunk, chunkEnd, entryIndex);
        if (!offset) return;
        const qint64 entry = chunk + u32(arsc, chunk + 16) + *offset;
        const quint16 flags = u16(arsc, entry + 2);
        if (flags & complexEntryFlag) return;
        Entry value;
        value.density = u16(arsc, chunk + 34);
        if (flags & compactEntryFlag) {
            value.type = u8(arsc, entry + 3);
            value.data = u32(arsc, entry + 4);
        } else {
            const qint64 at = entry + u16(arsc, entry);
            value.type = u8(arsc, at + 3);
            value.data = u32(arsc, at + 4);
        }
        if (value.type == stringType && globalPool)
            value.file = string(arsc, *globalPool, value.data, budget);
        found.append(std::move(value));
    }

    void readPackage(qint64 package, qint64 packageEnd) {
        qint64 p = package + u16(arsc, package + 2);
        while (p + 8 <= packageEnd && !full()) {
            const quint32 size = u32(arsc, p + 4);
            if (size == 0) return;
            if (u16(arsc, p) == tableTypeChunk && u8(arsc, p + 8) == typeID)
                readType(p, std::min(packageEnd, p + qint64(size)));
            p += size;
        }
    }
};

} // namespace

QList<Entry> entries(const QByteArray& arsc, quint32 id) {
    Lookup lookup{arsc, (id >> 16) & 0xFF, id & 0xFFFF, std::nullopt, maxDecodedUnits, {}};
    const quint32 packageID = id >> 24;
    const qint64 end = arsc.size();
    qint64 p = u16(arsc, 2);
    while (p + 8 <= end && !lookup.full()) {
        const quint16 type = u16(arsc, p);
        const quint32 size = u32(arsc, p + 4);
        if (size == 0) break;
        if (type == stringPoolChunk && !lookup.globalPool) lookup.globalPool = p;
        if (type == tablePackageChunk && u32(arsc, p + 8) == packageID)
            lookup.readPackage(p, std::min(end, p + qint64(size)));
        p += size;
    }
    return lookup.found;
}

std::optional<quint32> systemColor(quint32 id) {
    switch (id) {
    case 0x0106000B:
        return 0xFFFFFFFF; // white
    case 0x0106000C:
        return 0xFF000000; // black
    case 0x0106000D:
        return 0x00000000; // transparent
    default:
        return std::nullopt;
    }
}

} // namespace APKIconExtractor
