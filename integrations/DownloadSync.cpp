#include "integrations/DownloadSync.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "integrations/AndroidFileTransfer.h"
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Room for " " + a number within NAME_MAX (255 bytes).
constexpr qsizetype maxNameBytes = 240;

const QString listCommand =
    u"for f in /sdcard/Download/*; do [ -f \"$f\" ] && stat -c '%s|%n' \"$f\"; done; echo __END__"_s;

// Cuts `text` to at most `bytes` bytes of UTF-8 without splitting a character.
QString cutToBytes(const QString& text, qsizetype bytes) {
    QString cut;
    qsizetype used = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype size = text.mid(i, width).toUtf8().size();
        if (used + size > bytes) break;
        cut += text.mid(i, width);
        used += size;
        i += width - 1;
    }
    return cut;
}

// Gives the pulled file its name only when nothing has that name: never replaces a file.
bool claim(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false; // EEXIST: taken
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(source.constData(), target.constData()) != 0) return false;
    ::unlink(source.constData());
    return true;
}

} // namespace

DownloadSync::DownloadSync(SeenDownloads& seen, Notifier& notifier, QObject* parent)
    : QObject(parent)
    , m_seen(seen)
    , m_notifier(notifier) {}

DownloadSync::~DownloadSync() {
    stop();
    // Their results are posted to this object, which drops them once it is gone.
    for (QFuture<void>& task : m_tasks)
        task.waitForFinished();
}

void DownloadSync::start() {
    if (m_timer) return;
    m_timer = new QTimer(this);
    m_timer->setInterval(pollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &DownloadSync::poll);
    m_timer->start();
    poll();
}

void DownloadSync::stop() {
    delete m_timer;
}

template <typename Work, typename Done> void DownloadSync::inBackground(Work work, Done done) {
    m_tasks.removeIf([](const QFuture<void>& task) { return task.isFinished(); });
    m_tasks.append(QtConcurrent::run(&AndroidRuntimeCLI::pool(), [this, work, done] {
        auto result = work();
        QMetaObject::invokeMethod(
            this, [done, result] { done(result); }, Qt::QueuedConnection);
    }));
}

void DownloadSync::poll() {
    if (m_polling || !VantleSettings::get(SettingsKeys::syncDownloads)) return;
    m_polling = true;
    inBackground(&DownloadSync::listDownloads,
                 [this](const std::optional<Listing>& listing) { handle(listing); });
}

std::optional<DownloadSync::Listing> DownloadSync::listDownloads() {
    const std::optional<QString> output = AndroidRuntimeCLI::runADB({u"shell"_s, listCommand});
    return output ? parseListing(*output) : std::nullopt;
}

std::optional<DownloadSync::Listing> DownloadSync::parseListing(const QString& output) {
    // A half-run listing must not look like an empty folder.
    if (!output.contains(u"__END__"_s)) return std::nullopt;
    Listing listing;
    for (const QString& raw : output.split(u'\n')) {
        const QString line = raw.trimmed();
        const qsizetype bar = line.indexOf(u'|');
        if (bar < 0) continue;
        bool ok = false;
        const qint64 size = line.left(bar).toLongLong(&ok);
        const QString name = line.mid(bar + 1).section(u'/', -1);
        if (!ok || name.isEmpty()) continue;
        listing.insert(name, size);
    }
    return listing;
}

bool DownloadSync::isTemporary(const QString& name) {
    const QString lower = name.toLower();
    return lower.startsWith(u'.') || lower.endsWith(u".part"_s) || lower.endsWith(u".crdownload"_s) ||
           lower.endsWith(u".tmp"_s) || lower.contains(u".pending-"_s) || lower.endsWith(u".download"_s);
}

QString DownloadSync::safeName(const QString& androidName) {
    QString name;
    for (const QChar c : androidName)
        name += (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'/') ? u'_' : c;
    name = name.trimmed();
    if (name.isEmpty() || name == u"."_s || name == u".."_s) name = u"download"_s;
    if (name.toUtf8().size() <= maxNameBytes) return name;
    // Too long: the extension stays when it is short, the base is cut.
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    const QString base = extension.isEmpty() ? name : name.left(dot);
    return cutToBytes(base, maxNameBytes - extension.toUtf8().size()) + extension;
}

QString DownloadSync::numbered(const QString& name, int number) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return name + u' ' + QString::number(number);
    return name.left(dot) + u' ' + QString::number(number) + name.mid(dot);
}

std::optional<QString> DownloadSync::copyToMac(const QString& name, const QString& folder) {
    QDir().mkpath(folder); // an error shows in the pull
    const QString logged = VantleLog::escaped(name);
    // Names that are no file of the Download folder are never asked for.
    if (name.isEmpty() || name.contains(u'/') || name == u"."_s || name == u".."_s) {
        VantleLog::main().write(u"downloads: "_s + logged + u" -> failed: not a file name"_s);
        return std::nullopt;
    }
    // Pulled under a private name first: an unfinished or failed pull never shows under the
    // file's name, and the final name is taken only when it is free.
    QTemporaryFile pulled(folder + u"/.vantle-pull-XXXXXX"_s);
    if (!pulled.open()) {
        VantleLog::main().write(u"downloads: "_s + logged + u" -> failed: "_s + pulled.errorString());
        return std::nullopt;
    }
    pulled.close();
    const QString output =
        AndroidRuntimeCLI::runADB(
            {u"pull"_s, QString(AndroidFileTransfer::downloadFolder) + name, pulled.fileName()})
            .value_or(QString());
    std::optional<QString> target;
    if (QFileInfo(pulled.fileName()).size() > 0) {
        const QString safe = safeName(name);
        for (int number = 1; number < 10000 && !target; ++number) {
            const QString candidate = folder + u'/' + (number == 1 ? safe : numbered(safe, number));
            if (claim(pulled.fileName(), candidate))
                target = candidate;
            else if (errno != EEXIST)
                break;
        }
    }
    VantleLog::main().write(u"downloads: "_s + logged + u" -> "_s +
                            (target ? *target : u"failed: "_s + VantleLog::escaped(output.left(120))));
    return target;
}

void DownloadSync::handle(std::optional<Listing> listing) {
    m_polling = false;
    if (!listing) return;
    const std::optional<QSet<QString>> seen = m_seen.load();
    if (!seen) {
        m_seen.insert(listing->keys());
        VantleLog::main().write(u"downloads: watching Android Download folder ("_s +
                                QString::number(listing->size()) + u" existing files)"_s);
        return;
    }
    QStringList ready;
    QHash<QString, qint64> waiting;
    for (auto file = listing->cbegin(); file != listing->cend(); ++file) {
        const QString& name = file.key();
        if (seen->contains(name) || isTemporary(name) || file.value() < 1) continue;
        const auto before = m_waiting.constFind(name);
        if (before != m_waiting.cend() && *before == file.value())
            ready.append(name);
        else
            waiting.insert(name, file.value());
    }
    m_waiting = std::move(waiting);
    if (ready.isEmpty()) return;
    m_seen.insert(ready); // copied or tried: never again, whatever the copy's outcome
    const QString folder = Locations::downloads();
    for (const QString& name : ready)
        inBackground([name, folder] { return copyToMac(name, folder); },
                     [this](const std::optional<QString>& target) { copied(target); });
}

void DownloadSync::copied(const std::optional<QString>& target) {
    if (!target) return;
    const QString text = u"Downloads › Vantle › "_s + QFileInfo(*target).fileName();
    if (onSaved) onSaved(u"Saved to your computer"_s, text);
    m_notifier.post(u"Saved to your computer"_s, u"From Android"_s, text, std::nullopt, *target);
}
