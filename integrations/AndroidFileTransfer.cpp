#include "integrations/AndroidFileTransfer.h"

#include "core/LibraryFile.h"
#include "core/VantleLog.h"
#include "runtime/AndroidRuntimeCLI.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <thread>

using namespace Qt::StringLiterals;

namespace AndroidFileTransfer {

namespace {

const QString savedInAndroid = u"Saved in Android › Download"_s;

QString runShell(const QString& command) {
    return AndroidRuntimeCLI::runADB({u"shell"_s, command}).value_or(QString());
}

QString oneLine(QString text, qsizetype length) {
    return VantleLog::escaped(text.left(length).replace(u'\n', u' '));
}

// Why a dropped path cannot be sent, or nothing when it is a readable regular file.
std::optional<QString> refusal(const QString& path, const QString& name) {
    const LibraryFile file = LibraryFile::locate(path);
    switch (file.kind) {
    case LibraryFile::Kind::file:
        return std::nullopt;
    case LibraryFile::Kind::folder:
        return name + u" is a folder: drop the files inside it instead."_s;
    case LibraryFile::Kind::missing:
        return name + u" no longer exists."_s;
    case LibraryFile::Kind::special:
        return name + u" is not a regular file."_s;
    case LibraryFile::Kind::unreadable:
        return name + u" cannot be read ("_s + file.reason + u")."_s;
    }
    return std::nullopt;
}

// Opens the share sheet of `package` for the file; true when Android delivered the intent.
bool share(const QString& mime, const QString& uri, const QString& package, std::optional<int> displayID) {
    QString command = u"am start"_s;
    if (displayID) command += u" --display "_s + QString::number(*displayID);
    command += u" -a android.intent.action.SEND -t "_s + mime + u" --eu android.intent.extra.STREAM "_s +
               uri + u" --grant-read-uri-permission -p "_s + package;
    // am says why it did not start anything on its error stream, which adb keeps apart.
    const QString output = runShell(command + u" 2>&1"_s);
    const bool opened =
        !output.contains(u"Error"_s) && !output.contains(u"unable to resolve"_s) && !output.isEmpty();
    VantleLog::main().write(u"drop: share to "_s + package + (opened ? u" opened"_s : u" not supported"_s) +
                            u" ("_s + oneLine(output, 120) + u')');
    return opened;
}

} // namespace

QString quoted(const QString& path) {
    QString inner = path;
    return u'\'' + inner.replace(u"'"_s, u"'\\''"_s) + u'\'';
}

std::optional<QString> mimeType(const QString& name) {
    static const QHash<QString, QString> types{
        {u"jpg"_s, u"image/jpeg"_s},
        {u"jpeg"_s, u"image/jpeg"_s},
        {u"png"_s, u"image/png"_s},
        {u"gif"_s, u"image/gif"_s},
        {u"webp"_s, u"image/webp"_s},
        {u"heic"_s, u"image/heic"_s},
        {u"mp4"_s, u"video/mp4"_s},
        {u"m4v"_s, u"video/mp4"_s},
        {u"mov"_s, u"video/quicktime"_s},
        {u"mp3"_s, u"audio/mpeg"_s},
        {u"m4a"_s, u"audio/mp4"_s},
        {u"pdf"_s, u"application/pdf"_s},
        {u"txt"_s, u"text/plain"_s},
        {u"zip"_s, u"application/zip"_s},
        {u"doc"_s, u"application/msword"_s},
        {u"docx"_s, u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"_s},
    };
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return std::nullopt;
    const auto found = types.constFind(name.mid(dot + 1).toLower());
    return found == types.cend() ? std::nullopt : std::optional(*found);
}

std::optional<QString> mediaURI(const QString& name, int attempts, std::chrono::milliseconds pause) {
    const QString path = QString(mediaStoreFolder) + name;
    if (name.contains(u'\'') || name.contains(u'"')) return std::nullopt;
    static const QRegularExpression id(u"_id=(\\d+)"_s);
    // The condition is one shell word in single quotes: a "$" or "`" in the name stays text.
    const QString command = u"content query --uri content://media/external/file --projection _id --where "_s +
                            quoted(u"_data='"_s + path + u'\'');
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const QRegularExpressionMatch match = id.match(runShell(command));
        if (match.hasMatch()) return u"content://media/external/file/"_s + match.captured(1);
        if (attempt < attempts) std::this_thread::sleep_for(pause); // the scanner may not have finished
    }
    return std::nullopt;
}

Result push(const QStringList& localPaths, const QString& package, std::optional<int> displayID,
            SeenDownloads& seen) {
    QStringList names;
    for (const QString& path : localPaths)
        names.append(QFileInfo(path).fileName());
    seen.insert(names);

    QStringList sent, refusals;
    for (qsizetype i = 0; i < localPaths.size(); ++i) {
        const QString& name = names[i];
        if (const std::optional<QString> why = refusal(localPaths[i], name)) {
            VantleLog::main().write(u"drop: "_s + VantleLog::escaped(*why));
            refusals.append(*why);
            continue;
        }
        const QString target = QString(downloadFolder) + name;
        (void)AndroidRuntimeCLI::runADB({u"push"_s, localPaths[i], target});
        // Sent when Android holds a file of the full size: a push cut short, or an error text that
        // names the file, is not a sent file.
        const QString size = runShell(u"stat -c %s "_s + quoted(target) + u" 2>&1"_s);
        if (size.trimmed() == QString::number(QFileInfo(localPaths[i]).size())) {
            sent.append(name);
        } else {
            VantleLog::main().write(u"drop: push "_s + VantleLog::escaped(name) + u" failed: "_s +
                                    oneLine(size, 160));
        }
    }
    if (sent.isEmpty())
        return {u"Could not send"_s, refusals.isEmpty() || refusals.size() < localPaths.size()
                                         ? u"The file could not be copied into Android."_s
                                         : refusals.join(u' ')};

    for (const QString& name : sent)
        (void)runShell(u"am broadcast -a android.intent.action.MEDIA_SCANNER_SCAN_FILE -d "_s +
                       quoted(u"file://"_s + QString(downloadFolder) + name));
    QStringList logged;
    for (const QString& name : sent)
        logged.append(VantleLog::escaped(name));
    VantleLog::main().write(u"drop: sent "_s + logged.join(u", "_s) + u" to Android"_s);

    if (sent.size() == 1) {
        const QString& name = sent.first();
        const std::optional<QString> mime = mimeType(name);
        const std::optional<QString> uri = mime ? mediaURI(name) : std::nullopt;
        if (uri && share(*mime, *uri, package, displayID)) return {name, u"Choose where to send it"_s};
        return {name, savedInAndroid};
    }
    return {QString::number(sent.size()) + u" files sent"_s, savedInAndroid};
}

} // namespace AndroidFileTransfer
