#include "apk/APKIconExtractor.h"
#include "apk/ApkFile.h"
#include "apk/AppIconStore.h"
#include "app/ctl/CtlCommand.h"
#include "core/LibraryFile.h"

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

// Why `path` is not an APK that can be read, or nothing when it is one.
std::optional<QString> refusal(const QString& path, const LibraryFile& located, const Report& report) {
    switch (located.kind) {
    case LibraryFile::Kind::missing:
        return u"no such file"_s;
    case LibraryFile::Kind::folder:
        return u"is a folder"_s;
    case LibraryFile::Kind::special:
        return u"not a regular file"_s;
    case LibraryFile::Kind::unreadable:
        return u"cannot be read: "_s + located.reason;
    case LibraryFile::Kind::file:
        break;
    }
    if (report.package || report.label || ApkFile::isApk(path)) return std::nullopt;
    return u"not an Android app (APK) file"_s;
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
        // Only regular files are read: a device such as /dev/zero has no end.
        const LibraryFile located = LibraryFile::locate(apk);
        Report report = located.kind == LibraryFile::Kind::file ? inspect(apk) : Report{};
        if (const std::optional<QString> problem = refusal(apk, located, report)) {
            std::fprintf(stderr, "vantlectl: %s: %s\n", qPrintable(apk), qPrintable(*problem));
            report = {}; // whatever a file that is no APK gave is no app's
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
    "                          --icon writes the icon PNG (into a folder when several APKs are given);\n"
    "                          exits 1 when a file is no readable APK (missing, a folder, a device, not an "
    "APK)",
    run};
