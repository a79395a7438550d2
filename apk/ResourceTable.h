#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Looking up one resource id in an APK's resources.arsc, read from untrusted bytes. Based on the
// framework's ResourceTypes.h (ResTable_header, ResTable_package, ResTable_type, ResTable_entry,
// Res_value, ResTable_config) and checked against tables written by aapt.
//
// Table chunk (type 0x0002, not examined): header size at +2; top-level chunks follow it. The
// first top-level string pool holds every string value of the table.
// Package chunk (0x0200):  +8 u32 package id; inner chunks start at its header size.
// Type chunk (0x0201):     +8 u8 type id   +9 u8 flags   +12 u32 entry count
//                          +16 u32 entries start   +20 configuration, screen density u16 at +34
//   flags 0x01 sparse:     offset table of (u16 entry index, u16 offset / 4) pairs
//   flags 0x02 16-bit:     u16 offset / 4 per entry, 0xFFFF = no entry
//   otherwise:             u32 offset per entry, 0xFFFFFFFF = no entry
//   The offset table starts at the chunk's header size; offsets count from the entries start.
// Entry:                   +0 u16 size   +2 u16 flags (0x0001 complex, 0x0008 compact)
//   compact:               data type = flags' high byte (+3), data u32 at +4
//   plain:                 value at entry + size: data type u8 at +3, data u32 at +4
//   complex (map) entries are ignored.
namespace APKIconExtractor {

// One configuration's value of a resource.
struct Entry {
    int density = 0;             // the configuration's screen density in dpi, 0 when unspecified
    std::optional<QString> file; // for a string value, the text: a path inside the APK or a literal
    quint8 type = 0;             // the value's data type
    quint32 data = 0;            // colour 0xAARRGGBB, resource id, string index
};

// A hostile table may stack many small type chunks for one id; real resources have at most a few
// hundred configurations.
inline constexpr qsizetype maxEntriesPerLookup = 10'000;

// Every configuration's value of `id` (0xPPTTEEEE: package, type, entry index), in table order.
QList<Entry> entries(const QByteArray& arsc, quint32 id);

// Framework colours an app may reference without defining them: white, black and transparent.
std::optional<quint32> systemColor(quint32 id);

} // namespace APKIconExtractor
