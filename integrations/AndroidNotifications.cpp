#include "integrations/AndroidNotifications.h"

#include <QHash>

using namespace Qt::StringLiterals;

// The parts of the dump that are read (Android 14 and 15; other lines are skipped):
//
//   NotificationRecord(0x0c1f…: pkg=org.example.chat user=UserHandle{0} id=7 tag=null importance=3
//       key=0|org.example.chat|7|null|10123: Notification(channel=… flags=0x10 color=… vis=PRIVATE))
//     …
//     extras={
//       android.title=String (Anna)
//       android.text=String (See you at 8 (or 9))      value: first "(" to last ")"
//       android.template=String (android.app.Notification$MediaStyle)
//       android.mediaSession=MediaSession.Token {…}
//     }

namespace {

// The token after the first `name` in the line, up to a space, ")" or the end of the line.
QStringView tokenAfter(QStringView line, QStringView name) {
    const qsizetype at = line.indexOf(name);
    if (at < 0) return {};
    const QStringView rest = line.mid(at + name.size());
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != u' ' && rest[end] != u')')
        ++end;
    return rest.first(end);
}

quint32 flagsOf(QStringView notificationPart) {
    bool ok = false;
    const quint32 flags = tokenAfter(notificationPart, u"flags=0x").toUInt(&ok, 16);
    return ok ? flags : 0;
}

// "String (value)": the text between the first "(" and the last ")".
QString extraValue(QStringView line) {
    const qsizetype open = line.indexOf(u'(');
    const qsizetype close = line.lastIndexOf(u')');
    if (open < 0 || close <= open) return {};
    return line.mid(open + 1, close - open - 1).left(AndroidNotifications::maxFieldChars).toString();
}

bool marksMedia(QStringView line) {
    return line.contains(u"MediaStyle") || line.contains(u"category=transport") ||
           line.startsWith(u"android.mediaSession=");
}

struct Record {
    QString key, package, title, text;
    quint32 flags = 0;
    bool isMedia = false;
};

class Reader {
public:
    void line(QStringView line) {
        if (line.startsWith(u"NotificationRecord(")) {
            flush();
            m_open = true;
            m_record = Record{};
            // Android prints "key=<key>: Notification(…)"; a key itself ends in the uid, never in ":".
            QStringView key = tokenAfter(line, u"key=");
            if (key.endsWith(u':')) key.chop(1);
            m_record.key = key.left(AndroidNotifications::maxFieldChars).toString();
            m_record.package = tokenAfter(line, u"pkg=").left(AndroidNotifications::maxFieldChars).toString();
            if (const qsizetype at = line.indexOf(u"Notification("); at >= 0)
                m_record.flags = flagsOf(line.mid(at));
            m_record.isMedia = line.contains(u"MediaStyle") || line.contains(u"category=transport");
            return;
        }
        if (!m_open) return;
        if (line.startsWith(u"android.title="))
            m_record.title = extraValue(line);
        else if (line.startsWith(u"android.text="))
            m_record.text = extraValue(line);
        else if (m_record.flags == 0 && line.startsWith(u"Notification("))
            m_record.flags = flagsOf(line);
        if (marksMedia(line)) m_record.isMedia = true;
    }

    QList<AndroidNotification> finish() {
        flush();
        return m_result;
    }

private:
    void flush() {
        if (!m_open) return;
        m_open = false;
        if (m_record.key.isEmpty() || (m_record.title.isEmpty() && m_record.text.isEmpty())) return;
        const AndroidNotification n{
            m_record.key,    m_record.package, m_record.title, m_record.text, (m_record.flags & 0x42) != 0,
            m_record.isMedia};
        if (const auto at = m_index.constFind(n.key); at != m_index.cend()) {
            m_result[*at] = n;
        } else if (m_result.size() < AndroidNotifications::maxNotifications) {
            m_index.insert(n.key, m_result.size());
            m_result.append(n);
        }
    }

    Record m_record;
    bool m_open = false;
    QList<AndroidNotification> m_result;
    QHash<QString, qsizetype> m_index; // key → position in m_result
};

} // namespace

QList<AndroidNotification> AndroidNotifications::parse(QStringView output) {
    Reader reader;
    const QStringView text = output.first(std::min(output.size(), maxInputChars));
    for (const QStringView line : text.tokenize(u'\n')) {
        const QStringView cut = line.trimmed();
        if (!cut.isEmpty()) reader.line(cut);
    }
    return reader.finish();
}

QList<AndroidNotification> AndroidNotifications::forPackage(const QList<AndroidNotification>& all,
                                                            const QString& package, bool allPackages) {
    if (allPackages) return all;
    QList<AndroidNotification> own;
    for (const AndroidNotification& n : all)
        if (n.package == package) own.append(n);
    return own;
}
