#include "runtime/EmulatorOutput.h"

#include <QFile>
#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace EmulatorOutput {

std::optional<QString> lastErrorLine(const QByteArray& output) {
    // "LEVEL | message" with the level padded, or "emulator: LEVEL: message".
    static const QRegularExpression tagged(u"^(?:([A-Z]+)\\s*\\|\\s?|emulator:\\s*([A-Z]+):\\s?)(.*)$"_s);
    static const QStringList errorLevels{u"ERROR"_s, u"FATAL"_s, u"PANIC"_s};
    std::optional<QString> lastError, lastUntagged;
    for (const QString& rawLine : QString::fromUtf8(output).split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty()) continue;
        const QRegularExpressionMatch match = tagged.match(line);
        if (!match.hasMatch()) {
            lastUntagged = line;
            continue;
        }
        const QString level = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        if (errorLevels.contains(level)) lastError = match.captured(3).trimmed();
    }
    return lastError ? lastError : lastUntagged;
}

std::optional<QString> lastErrorLineOfFile(const QString& path) {
    constexpr qint64 tailBytes = 64 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    if (file.size() > tailBytes) file.seek(file.size() - tailBytes);
    return lastErrorLine(file.readAll());
}

} // namespace EmulatorOutput
