#include "datacare/BugReport.h"

#include "core/VantleLog.h"
#include "datacare/AppVersion.h"
#include "platform/SystemDescription.h"
#include "provisioning/AndroidVersions.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace BugReport {

QString subject() {
    return u"Vantle "_s + AppVersion::shortVersion() + u" bug report"_s;
}

QString body() {
    return u"What happened?\n\n\nWhat did you expect to happen?\n\n\nSteps to reproduce:\n1.\n\n---\nVantle "_s +
           AppVersion::shortVersion() + u" ("_s + AppVersion::buildNumber() + u")\n"_s +
           SystemDescription::operatingSystem() + u"\nComputer: "_s + SystemDescription::hardwareModel() +
           u"\nAndroid: "_s + AndroidVersions::name(AndroidVersions::selected());
}

std::optional<QString> recentLog() {
    return recentLog(VantleLog::main().path());
}

std::optional<QString> recentLog(const QString& logPath) {
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly)) return std::nullopt;
    // Lines as written, time stamps included; empty lines are kept. A log that ends with a line
    // feed has an empty last piece, which is no line.
    QList<QByteArray> lines = log.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    const qsizetype first = std::max<qsizetype>(0, lines.size() - logLines);
    QSaveFile out(QDir::temp().filePath(u"Vantle-log.txt"_s));
    if (!out.open(QIODevice::WriteOnly)) return std::nullopt;
    for (qsizetype i = first; i < lines.size(); ++i) {
        out.write(lines[i]);
        if (i + 1 < lines.size()) out.write("\n");
    }
    if (!out.commit()) return std::nullopt;
    return out.fileName();
}

QUrl mailto() {
    QUrl url;
    url.setScheme(u"mailto"_s);
    url.setPath(QString::fromLatin1(supportAddress));
    // Every reserved character percent-encoded (spaces as %20, line feeds as %0A): mail programs
    // read "+" literally, and a "&" in a text would end its item.
    url.setQuery(u"subject="_s + QString::fromLatin1(QUrl::toPercentEncoding(subject())) + u"&body="_s +
                     QString::fromLatin1(QUrl::toPercentEncoding(body())),
                 QUrl::StrictMode);
    return url;
}

void compose(const std::function<bool(const QUrl&)>& open) {
    const std::optional<QString> log = recentLog();
    // A mailto link carries no attachment: the log waits in the temporary folder for the user to
    // attach.
    if (open)
        open(mailto());
    else
        QDesktopServices::openUrl(mailto());
    VantleLog::main().write(u"bug report: mail opened"_s + (log ? u" log="_s + *log : QString()));
}

} // namespace BugReport
