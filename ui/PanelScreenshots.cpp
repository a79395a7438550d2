// vantle-panel-shots <folder> [--dark]: the home panel in its main states and its settings pages, built from
// a crafted library in a private home and saved as PNG files for a person to look at.
// scripts/take-screenshots runs it under Xvfb.
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleSettings.h"
#include "platform/linux/SettingsFile.h"
#include "ui/AppTile.h"
#include "ui/InertActions.h"
#include "ui/MenuPanel.h"
#include "ui/SettingsView.h"
#include "ui/Wallpaper.h"
#include "updates/AppUpdates.h"
#include "windows/MediaCardView.h"
#include "windows/ScreenshotSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStyleFactory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// The panel's actions have nothing to act on here.
class InertActions final : public InertLauncherActions {
public:
    std::optional<bool> isLocked(const QUuid& id) const override { return locked.contains(id); }
    // The tile menu as complete as it gets: a tray and backups.
    std::optional<bool> isInTray(const QUuid&) const override { return false; }
    bool offersBackups() const override { return true; }

    QSet<QUuid> locked;
};

// A soft diagonal gradient standing in for the user's photo.
QString makePhoto(const QString& folder) {
    QImage photo(600, 900, QImage::Format_RGB32);
    QPainter painter(&photo);
    QLinearGradient gradient(0, 0, 600, 900);
    gradient.setColorAt(0, QColor(0xff, 0x9a, 0x62));
    gradient.setColorAt(0.5, QColor(0xd0, 0x5c, 0x9e));
    gradient.setColorAt(1, QColor(0x3a, 0x5b, 0xc7));
    painter.fillRect(photo.rect(), gradient);
    painter.end();
    const QString path = folder + u"/photo.jpg"_s;
    photo.save(path);
    return path;
}

using ScreenshotSupport::darkPalette;
using ScreenshotSupport::settle;

QList<MobileApp> craftedLibrary(const QString& apkFolder) {
    // Some entries point at real APKs (real icons), the others at nothing (monograms).
    const QList<std::tuple<QString, QString, bool>> entries = {
        {u"Maps"_s, u"densities.apk"_s, true},  {u"Notes-v7.2.1"_s, u"adaptive_vector.apk"_s, true},
        {u"Camera"_s, u"formats.apk"_s, false}, {u"Weather"_s, u"adaptive_white.apk"_s, false},
        {u"Chess"_s, QString(), false},         {u"Podcasts"_s, QString(), false},
        {u"Mail"_s, u"fallback.apk"_s, false},  {u"Calendar"_s, QString(), false},
        {u"Music Player"_s, QString(), false},  {u"Translate"_s, QString(), false},
    };
    QList<MobileApp> apps;
    for (const auto& [name, apk, favourite] : entries) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = name;
        app.sourcePath = apk.isEmpty() ? u"/nonexistent/"_s + name + u".apk"_s : apkFolder + u'/' + apk;
        app.addedAt = QDateTime::currentDateTimeUtc();
        app.isFavorite = favourite;
        apps.append(app);
    }
    return apps;
}

// A repository that offers version 2.4.1 (code 8) of every package it is asked about.
class GenerousRepository {
public:
    GenerousRepository() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n")) return;
                    const QByteArray body =
                        R"({"suggestedVersionCode":8,"packages":[{"versionName":"2.4.1","versionCode":8}]})";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return u"http://127.0.0.1:%1"_s.arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fputs("usage: vantle-panel-shots <folder> [--dark]\n", stderr);
        return 2;
    }
    const QString folder = arguments[1];
    QDir().mkpath(folder);
    QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
    const bool dark = arguments.contains(u"--dark"_s);
    if (dark) QApplication::setPalette(darkPalette());
    const QString suffix = dark ? u"-dark.png"_s : u".png"_s;

    VantleSettings::install(std::make_shared<SettingsFile>(home.filePath(u"settings.json"_s)));
    // Google's lists come from a server that never answers, so the set-up stays at "checking".
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    qputenv("VANTLE_SDK_REPOSITORY", u"http://127.0.0.1:%1/"_s.arg(silent.serverPort()).toUtf8());

    GenerousRepository repository;
    qputenv("VANTLE_FDROID_URL", repository.base().toUtf8());
    VantleSettings::set(SettingsKeys::updatesIzzy, false);

    AppLibraryStore store;
    InertActions actions;
    bool runtimeComplete = true;
    // Every app counts as installed in version 1, so the repository's version 8 is an update.
    AppUpdates updates({[](const QStringList& packages) {
                            QHash<QString, qint64> codes;
                            for (const QString& package : packages)
                                codes.insert(package, 1);
                            return codes;
                        },
                        [](const QUuid&) {},
                        {}});
    InertSettingsActions settingsActions;
    MenuPanel::Environment environment;
    environment.updates = &updates;
    environment.settings = &settingsActions;
    environment.runtimeComplete = [&runtimeComplete] { return runtimeComplete; };
    environment.localHour = [] { return 10; };
    MenuPanel panel(store, actions, environment);
    panel.resize(390, 760);
    store.setAndroidState(AndroidState::sleeping);
    store.setStatusMessage(u"Ready"_s);
    panel.show();

    int failures = 0;
    const auto shoot = [&](const QString& name) {
        settle(300);
        const QString path = folder + u'/' + name + suffix;
        if (!panel.grab().save(path)) ++failures;
        std::printf("%s\n", qPrintable(path));
    };

    shoot(u"1-empty"_s);

    store.setApps(craftedLibrary(QStringLiteral(VANTLE_TEST_APKS)));
    const QList<MobileApp> apps = store.apps();
    store.setAndroidState(AndroidState::ready);
    store.setRunningAppIDs({apps[0].id});
    store.setLaunchingAppID(apps[3].id);
    store.setUnreadAppIDs({apps[6].id});
    actions.locked = {apps[1].id, apps[4].id};
    store.setStatusMessage(u"Starting Weather…"_s);
    // Icons come from the background; give them a moment.
    for (const MobileApp& app : apps)
        AppIconStore::shared().image(app);
    settle(1500);
    shoot(u"2-apps"_s);

    // Two apps with an update; the menu of the first one open over the panel.
    QList<MobileApp> withPackages = store.apps();
    withPackages[0].bundleIdentifier = u"org.example.maps"_s;
    withPackages[6].bundleIdentifier = u"org.example.mail"_s;
    store.setApps(withPackages);
    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    QDeadlineTimer checkDeadline(5000);
    while (updates.isChecking() && !checkDeadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    settle(300);
    for (AppTile* tile : panel.tiles()) {
        if (!tile->updateVersion()) continue;
        const std::unique_ptr<QMenu> menu = tile->makeContextMenu();
        menu->popup(tile->mapToGlobal(tile->rect().center()));
        settle(500);
        const QRect area = panel.frameGeometry().united(menu->geometry());
        const QString path = folder + u"/7-update-menu"_s + suffix;
        if (!panel.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path))
            ++failures;
        std::printf("%s\n", qPrintable(path));
        menu->close();
        break;
    }
    store.setApps(apps);

    store.setSearch(u"ma"_s);
    shoot(u"3-searching"_s);
    store.setSearch(u"xylophone"_s);
    shoot(u"4-no-matches"_s);
    store.setSearch(QString());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(u"/tmp/Game.apk"_s)});
    QDragEnterEvent enter(panel.rect().center(), Qt::CopyAction, &files, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&panel, &enter);
    shoot(u"5-drop"_s);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&panel, &leave);

    // The app that plays, in the dock; and the media card of a window's shade, playing and paused.
    store.setRunningAppIDs({apps[0].id});
    store.setNowPlaying(AndroidMedia{u"Midnight City"_s, u"M83"_s, true}, apps[0].id);
    shoot(u"8-dock-playing"_s);
    store.setNowPlaying(std::nullopt, std::nullopt);
    QWidget backdrop; // the shade's background around the card
    backdrop.setAutoFillBackground(true);
    auto* card = new MediaCardView(&backdrop);
    auto* around = new QVBoxLayout(&backdrop);
    around->setContentsMargins(12, 12, 12, 12);
    around->addWidget(card);
    card->setAppName(apps[0].displayName());
    backdrop.resize(360, 190);
    backdrop.show();
    for (const bool playing : {true, false}) {
        card->setMedia(
            AndroidMedia{u"A very long song title that does not fit on one line"_s, u"The Band"_s, playing});
        settle(300);
        const QString path = folder + (playing ? u"/9-media-card"_s : u"/9-media-card-paused"_s) + suffix;
        if (!backdrop.grab().save(path)) ++failures;
        std::printf("%s\n", qPrintable(path));
    }
    backdrop.hide();

    // The settings pages, each in turn, and the apps over a photo wallpaper.
    store.setRunningAppIDs({});
    store.setLaunchingAppID(std::nullopt);
    panel.showSettings();
    for (int page = 0; page < SettingsView::pageTitles().size(); ++page) {
        panel.settingsView()->showPage(page);
        shoot(u"10-settings-%1-"_s.arg(page + 1) +
              SettingsView::pageTitles()[page].toLower().replace(u' ', u'-'));
    }
    panel.showLauncher();
    if (Wallpaper::adopt(makePhoto(home.path()))) ++failures;
    shoot(u"11-wallpaper"_s);
    VantleSettings::set(SettingsKeys::wallpaper, QString(Wallpaper::none));
    EventCenter::shared().post(SettingsKeys::wallpaper.name);

    runtimeComplete = false;
    store.setRunningAppIDs({});
    store.setLaunchingAppID(std::nullopt);
    store.setAndroidState(AndroidState::notSetUp);
    store.setStatusMessage(u"Ready"_s);
    panel.render();
    shoot(u"6-setup"_s);
    return failures == 0 ? 0 : 1;
}
