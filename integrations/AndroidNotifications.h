#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// One notification Android holds, as mirrored into an app window (also the payload of the window's
// banner, which other features use as a toast with their own title and text).
struct AndroidNotification {
    QString key;          // Android's notification key ("key=" of the record line)
    QString package;      // the posting package ("pkg=")
    QString title;        // the android.title extra; may be empty
    QString text;         // the android.text extra; may be empty
    bool ongoing = false; // flags & 0x42: an ongoing event or a foreground service
    bool isMedia = false; // belongs to media playback (MediaStyle, category=transport, a media session)

    // What the seen and cleared sets hold: an update in place with a new text is a new notification.
    QString identity() const { return key + u'|' + title + u'|' + text; }

    friend bool operator==(const AndroidNotification&, const AndroidNotification&) = default;
};

// The reader of `dumpsys notification --noredact`. The dump is untrusted text from the device: the
// reader never fails, ignores what it does not understand and caps what it keeps.
namespace AndroidNotifications {

// Beyond these the dump is not read further / a value is cut: a real dump of a few hundred
// notifications is well under a megabyte, and no banner shows more than a few lines.
inline constexpr qsizetype maxInputChars = 8 * 1024 * 1024;
inline constexpr qsizetype maxNotifications = 1000;
inline constexpr qsizetype maxFieldChars = 1000;

// One notification per key (a later record replaces an earlier one); records without a key, or
// with neither title nor text, are dropped. The order follows the first record of each key.
QList<AndroidNotification> parse(QStringView output);

// The notifications a window of `package` mirrors: its own, or every package's when `allPackages`.
QList<AndroidNotification> forPackage(const QList<AndroidNotification>& all, const QString& package,
                                      bool allPackages);

} // namespace AndroidNotifications
