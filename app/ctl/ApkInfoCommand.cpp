#include "apk/APKIconExtractor.h"
#include "apk/AppIconStore.h"
#include "app/ctl/CtlCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Report {
    std::optional<QString> package;
    std::optional<QString> label;
    std::optional<QString> iconOrigin; // "icon 0x… <file> (<density>)", "file name <entry>"
    std::optional<QByteArray> png;
};

Report inspect(const QString& path) {
    APKIconExtractor::Summary summary = APKIconExtractor::summarize(path);
    Report report{std::move(summary.package), std::move(summary.label), {}, {}};
    if (summary.icon) {
        report.iconOrigin = summary.icon->origin;
        report.png = std::move(summary.icon->png);
    } else if (auto fallback = AppIconStore::fallbackIcon(path, MobilePlatform::android)) {
        report.iconOrigin = u"file name "_s + fallback->entry;
        report.png = std::move(fallback->png);
    }
    return report;
}

QJsonValue orNull(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue();
}

// The PNG's destination: the given file for one APK, "<folder>/<APK base name>.png" for several.
QString iconDestination(const QString& iconArgument, const QString& apk, bool several) {
    if (!several) return iconArgument;
    return QDir(iconArgument).filePath(QFileInfo(apk).completeBaseName() + u".png"_s);
}

int run(const QStringList& arguments) {
    QStringList apks;
    std::optional<QString> icon;
    bool json = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--json"_s) {
            json = true;
        } else if (arguments[i] == u"--icon"_s) {
            if (++i == arguments.size()) return exitUsage;
            icon = arguments[i];
        } else {
            apks.append(arguments[i]);
        }
    }
    if (apks.isEmpty()) return exitUsage;
    const bool several = apks.size() > 1;
    if (icon && several) QDir().mkpath(*icon);

    int status = exitSuccess;
    for (const QString& apk : apks) {
        Report report = QFileInfo(apk).isFile() ? inspect(apk) : Report{};
        if (!QFileInfo(apk).isFile()) {
            std::fprintf(stderr, "vantlectl: %s: no such file\n", qPrintable(apk));
            status = exitFailure;
        }
        std::optional<QString> written;
        if (icon && report.png) {
            QFile out(iconDestination(*icon, apk, several));
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                out.write(*report.png) == report.png->size()) {
                written = out.fileName();
            } else {
                std::fprintf(stderr, "vantlectl: cannot write %s\n", qPrintable(out.fileName()));
                status = exitFailure;
            }
        }
        if (json) {
            QJsonObject object{{u"file"_s, apk},
                               {u"package"_s, orNull(report.package)},
                               {u"label"_s, orNull(report.label)},
                               {u"icon"_s, orNull(report.iconOrigin)}};
            if (written) object.insert(u"iconFile"_s, *written);
            std::puts(QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        } else {
            const QString line = apk + u": package="_s + report.package.value_or(u"-"_s) + u" label="_s +
                                 (report.label ? u'"' + *report.label + u'"' : u"-"_s) + u" icon="_s +
                                 report.iconOrigin.value_or(u"none"_s) +
                                 (written ? u" -> "_s + *written : QString());
            std::puts(line.toUtf8().constData());
        }
    }
    return status;
}

} // namespace

const CtlCommand apkInfoCtlCommand{
    "apk-info",
    "apk-info <apk>... [--icon <out.png>|<folder>] [--json]\n"
    "                          package, label and icon source of each APK, one line (or JSON object) per "
    "file;\n"
    "                          --icon writes the icon PNG (into a folder when several APKs are given)",
    run};
