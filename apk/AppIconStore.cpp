#include "apk/AppIconStore.h"

#include "apk/APKIconExtractor.h"
#include "core/VantleLog.h"
#include "platform/Locations.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

namespace {

void writeCache(const QUuid& id, const QByteArray& png) {
    QDir().mkpath(AppIconStore::directory());
    QFile file(AppIconStore::cacheFile(id));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(png);
}

// Launcher-icon file names and how much a name says about being the icon.
int densityScore(const QString& name) {
    static const std::pair<QString, int> densities[] = {
        {u"-xxxhdpi"_s, 50}, {u"-xxhdpi"_s, 40}, {u"-xhdpi"_s, 30}, {u"-hdpi"_s, 20}, {u"-mdpi"_s, 10}};
    for (const auto& [qualifier, score] : densities)
        if (name.contains(qualifier)) return score;
    return 0;
}

bool isCandidate(const QString& name) {
    const QString lower = name.toLower();
    if (!lower.startsWith(u"res/"_s) || !(lower.endsWith(u".png"_s) || lower.endsWith(u".webp"_s)))
        return false;
    const QString file = lower.section(u'/', -1);
    static const QString prefixes[] = {u"ic_launcher"_s, u"app_icon"_s, u"icon"_s, u"ic_app"_s,
                                       u"launcher"_s};
    static const QString excluded[] = {u"foreground"_s, u"background"_s, u"monochrome"_s};
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](const QString& p) { return file.startsWith(p); }) &&
           std::none_of(std::begin(excluded), std::end(excluded),
                        [&](const QString& e) { return file.contains(e); });
}

int score(const QString& name) {
    int total = densityScore(name);
    if (name.contains(u"mipmap"_s)) total += 5;
    if (!name.contains(u"round"_s)) total += 3;
    if (name.section(u'/', -1).startsWith(u"ic_launcher."_s)) total += 2;
    return total;
}

} // namespace

AppIconStore& AppIconStore::shared() {
    static AppIconStore* store = new AppIconStore(); // lives for the process, like the views using it
    return *store;
}

AppIconStore::AppIconStore(Loader loader, QObject* parent)
    : QObject(parent)
    , m_loader(std::move(loader)) {
    m_pool.setThreadPriority(QThread::LowPriority);
    m_pool.setMaxThreadCount(2);
}

// Waits for resolutions still running; their results are dropped with the store.
AppIconStore::~AppIconStore() {
    m_pool.waitForDone();
}

std::optional<QImage> AppIconStore::image(const MobileApp& app) {
    const auto known = m_images.constFind(app.id);
    if (known != m_images.cend()) return *known;
    if (m_attempted.contains(app.id)) return std::nullopt;
    m_attempted.insert(app.id);
    QtConcurrent::run(&m_pool, m_loader, app.id, app.sourcePath, app.platform)
        .then(this, [this, id = app.id](const std::optional<QByteArray>& png) {
            if (!png) return;
            const QImage decoded = QImage::fromData(*png, "PNG");
            if (decoded.isNull()) return;
            m_images.insert(id, decoded);
            Q_EMIT imagesChanged(id);
        });
    return std::nullopt;
}

QString AppIconStore::directory() {
    return Locations::icons();
}

QString AppIconStore::cacheFile(const QUuid& id) {
    return directory() + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + u".png"_s;
}

std::optional<QByteArray> AppIconStore::loadIconData(const QUuid& id, const QString& sourcePath,
                                                     MobilePlatform platform) {
    QFile cached(cacheFile(id));
    if (cached.open(QIODevice::ReadOnly))
        if (QByteArray bytes = cached.readAll(); !bytes.isEmpty()) return bytes;
    const QString fileName = QFileInfo(sourcePath).fileName();
    if (platform == MobilePlatform::android) {
        if (std::optional<QByteArray> png = APKIconExtractor::iconPNG(sourcePath)) {
            writeCache(id, *png);
            VantleLog::main().write(u"icon: resolved via resources.arsc for "_s + fileName);
            return png;
        }
    }
    if (std::optional<Fallback> fallback = fallbackIcon(sourcePath, platform)) {
        writeCache(id, fallback->png);
        VantleLog::main().write(u"icon: "_s + fallback->entry + u" from "_s + fileName);
        return fallback->png;
    }
    VantleLog::main().write(u"icon: none found in "_s + fileName);
    return std::nullopt;
}

std::optional<AppIconStore::Fallback> AppIconStore::fallbackIcon(const QString& sourcePath, MobilePlatform) {
    APKIconExtractor::ApkArchive archive(sourcePath); // listed and read through one directory
    const std::optional<QStringList> names = archive.entryNames();
    const std::optional<QString> entry = names ? bestEntry(*names) : std::nullopt;
    if (!entry) return std::nullopt;
    const std::optional<QByteArray> bytes = archive.read(*entry);
    if (!bytes) return std::nullopt;
    const QImage image = APKIconExtractor::decodeImage(*bytes);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) return std::nullopt;
    return Fallback{png, *entry};
}

std::optional<QString> AppIconStore::bestEntry(const QStringList& entryNames) {
    std::optional<QString> best;
    int bestScore = -1;
    for (const QString& name : entryNames) {
        if (name.isEmpty() || !isCandidate(name)) continue;
        const int candidate = score(name);
        if (candidate > bestScore) {
            best = name;
            bestScore = candidate;
        }
    }
    return best;
}
