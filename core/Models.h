#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

enum class MobilePlatform { android, ios };

// The stored raw value ("Android", "iOS / iPadOS"), and back (nullopt for anything else).
QString rawValue(MobilePlatform platform);
std::optional<MobilePlatform> mobilePlatform(const QString& rawValue);

// One library entry: an APK file on this computer that the user added (Vantle never copies it).
struct MobileApp {
    QUuid id;
    QString name; // the APK's label when it could be read, else the file name without extension
    MobilePlatform platform = MobilePlatform::android;
    QString sourcePath;                      // absolute path of the APK
    std::optional<QString> bundleIdentifier; // Android package name, once known
    QDateTime addedAt;                       // UTC, millisecond precision
    bool isFavorite = false;

    // `name` without a trailing version suffix ("Notes-v7.2.1" shows as "Notes").
    QString displayName() const;

    bool operator==(const MobileApp&) const = default;
};

size_t qHash(const MobileApp& app, size_t seed = 0);

// The stored form of the library: a JSON array of objects
//   {"id": "<UUID, upper case>", "name": "...", "platform": "Android", "sourcePath": "...",
//    "bundleIdentifier": "..." (omitted when absent), "addedAt": <seconds since 2001-01-01 UTC>,
//    "isFavorite": false}
// Decoding needs every key but "bundleIdentifier". It goes entry by entry: one malformed entry
// costs that entry only, and comes back as its own JSON text so that it can be kept.
namespace LibraryCoding {
QByteArray encode(const QList<MobileApp>& apps);

struct Decoded {
    bool isArray = false;         // false: the bytes are not a JSON array, and nothing was read
    QList<MobileApp> apps;        // the entries that could be read, in stored order
    QList<QByteArray> unreadable; // the entries that could not, each as compact JSON
};
Decoded decode(const QByteArray& json);
// Seconds since 2001-01-01 00:00:00 UTC, the reference date of the stored dates.
double referenceSeconds(const QDateTime& date);
QDateTime fromReferenceSeconds(double seconds);
} // namespace LibraryCoding
