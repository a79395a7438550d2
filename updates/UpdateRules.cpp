#include "updates/UpdateRules.h"

#include "core/VantleLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace UpdateRules {

namespace {

// A JSON number that is an integer (JSON has no integer type: 42 and 42.0 are the same number).
std::optional<qint64> integer(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    // Beyond 2^53 doubles skip integers; such a code cannot be compared reliably.
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return qint64(number);
}

QString quoted(const QString& text) {
    return u'"' + VantleLog::escaped(text) + u'"';
}

} // namespace

std::optional<AppUpdate> readPackageApi(const QByteArray& body, const QString& package, UpdateSource source) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject answer = document.object();
    const std::optional<qint64> suggested = integer(answer.value(u"suggestedVersionCode"_s));
    if (!suggested) return std::nullopt;
    QString name = QString::number(*suggested);
    for (const QJsonValue& element : answer.value(u"packages"_s).toArray()) {
        const QJsonObject version = element.toObject();
        if (integer(version.value(u"versionCode"_s)) != suggested) continue;
        if (version.value(u"versionName"_s).isString()) name = version.value(u"versionName"_s).toString();
        break;
    }
    return AppUpdate{package, *suggested, name, source};
}

QHash<QString, qint64> readPackageList(const QString& output) {
    static const QRegularExpression line(
        u"^package:([A-Za-z][A-Za-z0-9_.]*) versionCode:(\\d+)(?:[ \\r]|$)"_s,
        QRegularExpression::MultilineOption);
    QHash<QString, qint64> codes;
    for (QRegularExpressionMatchIterator it = line.globalMatch(output); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        bool ok = false;
        const qint64 code = match.captured(2).toLongLong(&ok);
        if (ok) codes.insert(match.captured(1), code);
    }
    return codes;
}

void sortBestFirst(QList<AppUpdate>& candidates) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const AppUpdate& a, const AppUpdate& b) { return a.versionCode > b.versionCode; });
}

QString checkingMessage(const QList<UpdateSource>& sources) {
    QStringList names;
    for (const UpdateSource source : sources)
        names.append(UpdateSources::displayName(source));
    return u"Checking "_s + names.join(u" and "_s) + u"…"_s;
}

QString resultMessage(qsizetype available) {
    return available == 0 ? u"All apps are up to date"_s : u"%1 update(s) available"_s.arg(available);
}

QString checkLogLine(qsizetype packages, const QList<UpdateSource>& sources,
                     const QMap<QString, AppUpdate>& available) {
    QStringList names;
    for (const UpdateSource source : sources)
        names.append(quoted(UpdateSources::displayName(source)));
    QStringList found;
    for (auto it = available.cbegin(); it != available.cend(); ++it)
        found.append(quoted(it.key()) + u": "_s +
                     quoted(it->versionName + u" ("_s + UpdateSources::displayName(it->source) + u')'));
    // One pass over the pattern: text from a repository is never read as a placeholder.
    return u"updates: checked %1 apps in [%2], %3 available [%4]"_s.arg(
        QString::number(packages), names.join(u", "_s), QString::number(available.size()),
        found.isEmpty() ? u":"_s : found.join(u", "_s));
}

QString installRefusal(const QString& adbOutput) {
    if (adbOutput.contains(u"UPDATE_INCOMPATIBLE"_s) || adbOutput.contains(u"signatures do not match"_s))
        return u"this copy was installed from a different store"_s;
    return u"update failed: "_s + adbOutput.trimmed().left(120).trimmed();
}

QString notThePackage(const QString& package) {
    return u"the download is not "_s + package;
}

} // namespace UpdateRules
