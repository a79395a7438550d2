#include "runtime/ApkInstaller.h"

#include "apk/APKIconExtractor.h"
#include "apk/APKManifestReader.h"
#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "platform/FileStamp.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtConcurrent>
#include <algorithm>
#include <charconv>

using namespace Qt::Literals::StringLiterals;

namespace AndroidRuntimeCLI {

namespace {

const QString fingerprintKey = u"fingerprint"_s;
const QString packageKey = u"package"_s;
constexpr double yearOneSeconds = -62135596800.0; // 0001-01-01T00:00:00Z since 1970

QString seconds(const QElapsedTimer& timer) {
    return QString::number(timer.elapsed() / 1000.0, 'f', 2);
}

QStringList trimmedLines(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
        lines.append(line.trimmed());
    return lines;
}

QString validated(const QString& package) {
    if (!isValidPackageName(package)) throw AndroidRuntimeError::invalidPackageName(package);
    return package;
}

// The package the APK's own manifest names, checked; nothing when the manifest can't be read.
std::optional<QString> manifestPackage(const QString& apkPath) {
    const auto package = APKManifestReader::packageName(apkPath);
    if (!package || package->isEmpty()) return std::nullopt;
    return validated(*package);
}

// The launchable activity check; true when some line names an activity ("pkg/.Main").
bool isLaunchable(const QString& package) {
    const QString output =
        adbDevice({u"shell"_s, u"cmd"_s, u"package"_s, u"resolve-activity"_s, u"--brief"_s, package});
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString& line) { return line.contains(u'/'); });
}

// The device path of the package's APK ("pm path"), or nothing.
std::optional<QString> devicePath(const QString& package) {
    const QString output = adbDevice({u"shell"_s, u"pm"_s, u"path"_s, package});
    for (const QString& line : trimmedLines(output))
        if (line.endsWith(u".apk"_s)) return QString(line).remove(u"package:"_s);
    return std::nullopt;
}

// Runs on a pool thread after the boot: the installed-record fast path, else the real install.
QString installSteps(const QString& apkPath) {
    QElapsedTimer timer;
    timer.start();
    const QString print = fingerprint(apkPath);

    const auto record = VantleSettings::readDictionary(SettingsKeys::installed.key(apkPath));
    if (record && record->value(fingerprintKey) == print) {
        const QString package = record->value(packageKey).toString();
        if (isValidPackageName(package)) {
            try {
                if (adbDevice({u"shell"_s, u"pm"_s, u"path"_s, package}).contains(u"package:"_s)) {
                    VantleLog::main().write(u"already installed package="_s + package + u" check="_s +
                                            seconds(timer) + u's');
                    return package;
                }
            } catch (const AndroidRuntimeError&) {
            }
        }
    }

    // Identified before the first device command: a name Android would refuse ends here.
    std::optional<QString> identified;
    try {
        identified = packageIdentifier(apkPath);
    } catch (const AndroidRuntimeError& error) {
        if (error.kind() == AndroidRuntimeError::Kind::invalidPackageName) throw;
    }
    const QSet<QString> before = thirdPartyPackages();
    try {
        adbDevice({u"install"_s, u"--no-streaming"_s, u"-r"_s, apkPath});
    } catch (const AndroidRuntimeError& error) {
        if (error.kind() != AndroidRuntimeError::Kind::commandFailed) throw;
        throw AndroidRuntimeError::commandFailed(installFailureText(error.description()));
    }
    const QSet<QString> after = thirdPartyPackages();

    QString package;
    if (identified) {
        package = *identified;
    } else {
        QStringList appeared = (after - before).values();
        std::sort(appeared.begin(), appeared.end()); // a stable choice among several
        if (!appeared.isEmpty())
            package = appeared.first();
        else if (after.size() == 1)
            package = *after.cbegin();
        else
            throw AndroidRuntimeError::packageNameMissing();
    }
    if (!isLaunchable(package))
        throw AndroidRuntimeError::commandFailed(u"No launchable activity found for "_s + package);
    rememberInstalled(apkPath, package);
    VantleLog::main().write(u"installed package="_s + package + u" install+resolve="_s + seconds(timer) +
                            u's');
    return package;
}

} // namespace

bool isValidPackageName(const QString& name) {
    static const QRegularExpression rule(u"^[A-Za-z][A-Za-z0-9_]*(\\.[A-Za-z][A-Za-z0-9_]*)+$"_s);
    return name.size() <= 255 && rule.match(name).hasMatch();
}

QString fingerprint(const QString& apkPath) {
    const auto stamp = fileStamp(apkPath);
    const qint64 size = stamp ? stamp->sizeBytes : -1;
    const double time = stamp ? stamp->modifiedSeconds : yearOneSeconds;
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, time);
    QString timeText = QString::fromLatin1(text, written.ptr - text);
    if (!timeText.contains(u'.') && !timeText.contains(u'e')) timeText += u".0"_s;
    return QString::number(size) + u'-' + timeText;
}

std::optional<QString> knownPackage(const QString& apkPath) {
    const auto record = VantleSettings::readDictionary(SettingsKeys::installed.key(apkPath));
    if (!record) return std::nullopt;
    const QVariant package = record->value(packageKey);
    if (package.typeId() != QMetaType::QString || !isValidPackageName(package.toString()))
        return std::nullopt;
    return package.toString();
}

void rememberInstalled(const QString& apkPath, const QString& package) {
    VantleSettings::set(SettingsKeys::installed.key(apkPath),
                        QVariantMap{{fingerprintKey, fingerprint(apkPath)}, {packageKey, package}});
}

QString packageIdentifier(const QString& apkPath) {
    if (auto package = manifestPackage(apkPath)) return *package;
    const QString output =
        run(AndroidRuntimePaths::current().apkanalyzer(), {u"manifest"_s, u"application-id"_s, apkPath})
            .trimmed();
    if (output.isEmpty()) throw AndroidRuntimeError::packageNameMissing();
    return validated(output);
}

QSet<QString> thirdPartyPackages() {
    QSet<QString> packages;
    for (const QString& line :
         trimmedLines(adbDevice({u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"-3"_s}))) {
        if (!line.startsWith(u"package:"_s)) continue;
        const QString package = line.mid(8);
        if (isValidPackageName(package)) packages.insert(package);
    }
    return packages;
}

QCoro::Task<QString> installAndLaunch(QString apkPath) {
    QElapsedTimer timer;
    timer.start();
    // A manifest naming an invalid package is refused before Android is even started.
    // Named futures: GCC 12 destroys the temporaries of a co_await full-expression twice.
    const auto checked = QtConcurrent::run(&pool(), manifestPackage, apkPath);
    co_await checked;
    const QFuture<bool> probed = QtConcurrent::run(&pool(), deviceIsBooted);
    const bool booted = co_await probed;
    VantleLog::main().write(u"launch begin apk="_s + QFileInfo(apkPath).fileName() + u" runtimeBooted="_s +
                            (booted ? u"true"_s : u"false"_s));
    co_await ensureRuntime();
    VantleLog::main().write(u"runtime ready after="_s + seconds(timer) + u's');
    const QFuture<QString> installed = QtConcurrent::run(&pool(), installSteps, apkPath);
    co_return co_await installed;
}

std::optional<Discovery> discoverInstalledApps(const QSet<QString>& known) {
    if (!deviceIsBooted()) return std::nullopt;
    Discovery discovery;
    try {
        discovery.installed = thirdPartyPackages();
    } catch (const AndroidRuntimeError&) {
        return std::nullopt;
    }
    QDir().mkpath(packagesDirectory());
    QStringList candidates = (discovery.installed - known).values();
    std::sort(candidates.begin(), candidates.end());
    for (const QString& package : candidates) {
        try {
            if (!isLaunchable(package)) continue;
            const auto remote = devicePath(package);
            if (!remote) continue;
            const QString local = packagesDirectory() + u'/' + package + u".apk"_s;
            if (!QFileInfo::exists(local)) {
                try {
                    adbDevice({u"pull"_s, *remote, local});
                } catch (const AndroidRuntimeError&) {
                }
            }
            if (!QFileInfo::exists(local)) continue;
            rememberInstalled(local, package);
            const auto label = APKIconExtractor::label(local);
            discovery.apps.append(
                {package, label && !label->isEmpty() ? *label : displayName(package), local});
        } catch (const AndroidRuntimeError&) {
            continue;
        }
    }
    return discovery;
}

QString displayName(const QString& package) {
    static const QStringList generic{u"android"_s, u"app"_s,  u"apps"_s,   u"client"_s,  u"mobile"_s,
                                     u"free"_s,    u"foss"_s, u"fdroid"_s, u"release"_s, u"main"_s};
    const QStringList parts = package.split(u'.', Qt::SkipEmptyParts);
    if (parts.isEmpty()) return package;
    QString chosen = parts.last();
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        if (!generic.contains(it->toLower()) && it->size() > 1) {
            chosen = *it;
            break;
        }
    }
    return chosen.left(1).toUpper() + chosen.mid(1);
}

QString installFailureText(const QString& output) {
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = line->trimmed();
        if (text.startsWith(u"Failure ["_s) || text.startsWith(u"adb: "_s) || text.startsWith(u"error: "_s))
            return text;
    }
    return output.trimmed();
}

} // namespace AndroidRuntimeCLI
