#include "core/VantleLog.h"

#include "platform/Locations.h"

#include <QDateTime>
#include <QDir>

using namespace Qt::Literals::StringLiterals;

VantleLog::VantleLog(const QString& fileName, Opening opening)
    : m_path(Locations::logs() + u'/' + fileName) {
    QDir().mkpath(Locations::logs());
    auto file = std::make_unique<QFile>(m_path);
    const QIODevice::OpenMode mode =
        opening == Opening::truncate ? QIODevice::WriteOnly | QIODevice::Truncate : QIODevice::Append;
    if (file->open(mode)) m_handle = std::move(file);
}

VantleLog& VantleLog::main() {
    static VantleLog log(QStringLiteral("vantle.log"), Opening::append);
    return log;
}

void VantleLog::write(const QString& message) {
    const QStringList lines = message.split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty()) return;
    std::lock_guard lock(m_mutex);
    if (!m_handle) return;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QByteArray bytes;
    for (const QString& line : lines) bytes += (stamp + u' ' + line + u'\n').toUtf8();
    m_handle->write(bytes);
    m_handle->flush();
}

std::optional<QString> VantleLog::tail(int maxLines) const {
    std::lock_guard lock(m_mutex);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QStringList kept;
    for (qsizetype i = std::max<qsizetype>(0, lines.size() - std::max(0, maxLines)); i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qsizetype blank = line.indexOf(u' ');
        kept.append(blank < 0 ? line : line.mid(blank + 1));
    }
    return kept.join(u'\n');
}

QString VantleLog::escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += u"\\\\"_s;
        else if (u == u'\n')
            out += u"\\n"_s;
        else if (u == u'\r')
            out += u"\\r"_s;
        else if (u == u'\t')
            out += u"\\t"_s;
        else if (u < 0x20 || u == 0x7f)
            out += u"\\x"_s + QString::number(u, 16).rightJustified(2, u'0');
        else if (u == 0x85 || u == 0x2028 || u == 0x2029)
            out += u"\\u"_s + QString::number(u, 16).rightJustified(4, u'0');
        else
            out += c;
    }
    return out;
}
