#include "integrations/AndroidMediaSessions.h"

#include <QStringView>

using namespace Qt::StringLiterals;

namespace {

QString field(QStringView part) {
    if (part == u"null"_s) return {};
    return part.left(AndroidMediaSessions::maxFieldChars).toString();
}

} // namespace

std::optional<AndroidMedia> AndroidMediaSessions::parse(const QString& output, const QString& package) {
    if (package.isEmpty()) return std::nullopt; // would match the lines before the first session
    const QStringView text = QStringView(output).left(maxDumpChars);
    QStringView sessionPackage;
    AndroidMedia media;
    bool matched = false;
    // Lines are walked as views into the dump: nothing is copied but the two fields kept.
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0) end = text.size();
        const QStringView line = text.sliced(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty()) continue;
        if (line.startsWith(u"package="_s)) {
            if (matched) break; // the first matching block is complete
            sessionPackage = line.sliced(8);
            continue;
        }
        if (sessionPackage != package) continue;
        if (line.startsWith(u"state=PlaybackState"_s)) {
            media.playing = line.contains(u"PLAYING"_s) || line.contains(u"state=3,"_s);
            matched = true;
        } else if (line.startsWith(u"metadata:"_s)) {
            const qsizetype at = line.indexOf(u"description="_s);
            if (at < 0) continue;
            const QStringView description = line.sliced(at + 12);
            const qsizetype comma = description.indexOf(u", "_s);
            media.title = field(description.left(comma < 0 ? description.size() : comma));
            const QStringView rest = comma < 0 ? QStringView() : description.sliced(comma + 2);
            const qsizetype next = rest.indexOf(u", "_s);
            media.artist = field(rest.left(next < 0 ? rest.size() : next));
            matched = true;
        }
    }
    if (media.title.isEmpty()) return std::nullopt;
    return media;
}
