// Media sessions end to end: the window, the registry's record and MPRIS follow the app's media session;
// the card, the registry's key (the dock's path), the commands and playerctl reach it as media keys.
#include "NotesWindowFixture.h"
#include "support/PrivateSessionBus.h"
#include "windows/MediaCardView.h"
#include "windows/NotificationShadeView.h"
#include "windows/NowPlayingPublisher.h"

#include <QProcess>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

class MediaTest : public CommandedWindowFixture {
protected:
    bool recordIs(const QString& title, bool playing) const {
        const auto& record = registry.nowPlaying();
        return record && record->appID == appID && record->media.title == title &&
               record->media.playing == playing;
    }
    // The player is served by this thread's event loop: playerctl runs while the loop turns.
    static QString playerctl(const QStringList& arguments) {
        QProcess process;
        process.start(u"playerctl"_s, QStringList{u"--player=vantle"_s} + arguments);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000); // else killed on return
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    // playerctl prints the track id, an object path, quoted.
    static QString track() {
        return playerctl({u"metadata"_s, u"--format"_s, u"{{title}}|{{artist}}|{{mpris:trackid}}"_s});
    }
};

TEST_F(MediaTest, TheCardTheRegistryAndPlayerctlReachTheAppAsAndroidMediaKeysAndTheRecordGoesWithItsWindow) {
    // A private session bus for the MPRIS player: Qt connects to the session bus once per process.
    PrivateSessionBus bus;
    ASSERT_EQ(bus.start(), QString());
    NowPlayingPublisher publisher(registry, NowPlayingService::create());
    AndroidWindowSession* session = open();
    ASSERT_EQ(device().setMediaSession(package, u"playing"_s, u"Song"_s, u"Singer"_s, u"Album"_s), QString());
    ASSERT_TRUE(waitUntil([&] { return recordIs(u"Song"_s, true); }, 10000));
    EXPECT_TRUE(waitUntil([] { return playerctl({u"status"_s}) == u"Playing"_s; }));
    EXPECT_EQ(track().toStdString(), "Song|Singer|'/app/vantle/Vantle/track/1'");

    // The card in the window's shade follows the record; its buttons are media keys.
    auto* card = session->shade()->findChild<MediaCardView*>();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->media(), (AndroidMedia{u"Song"_s, u"Singer"_s, true}));
    device().clearReceived();
    for (const char* button : {"previous", "playPause", "next"})
        card->findChild<QToolButton*>(QLatin1StringView(button))->click();
    // The app paused on the key; the re-read 0.6 s later shows it well before the next poll.
    EXPECT_TRUE(waitUntil([&] { return recordIs(u"Song"_s, false); }, 2500));
    EXPECT_TRUE(waitUntil([] { return playerctl({u"status"_s}) == u"Paused"_s; }));

    // The desktop's controls: play-pause, then Pause while paused does nothing, Play plays.
    playerctl({u"play-pause"_s});
    ASSERT_TRUE(waitUntil([&] { return recordIs(u"Song"_s, true); }, 5000));
    playerctl({u"pause"_s});
    ASSERT_TRUE(waitUntil([&] { return recordIs(u"Song"_s, false); }, 5000));
    playerctl({u"pause"_s});
    playerctl({u"next"_s});
    playerctl({u"previous"_s});

    // The dock's path (the registry's key for the app's window), then the automation commands; a key
    // name they do not know sends nothing.
    EXPECT_TRUE(registry.sendMediaKey(appID, MediaAction::playPause));
    EXPECT_FALSE(registry.sendMediaKey(QUuid::createUuid(), MediaAction::playPause));
    for (const QString& command : {u"media:louder"_s, u"media:previous"_s, u"media"_s, u"media:next"_s})
        commands.dispatch(command);
    // The keys in the order sent: the card's, playerctl's, the dock's and the commands'.
    ASSERT_TRUE(waitUntil([&] { return device().keysReceived().size() == 22; }));
    EXPECT_EQ(device().keysReceived(), (QList<qint64>{88, -88, 85, -85, 87, -87, 85, -85, 85, -85, 87, -87,
                                                      88, -88, 85, -85, 88, -88, 85, -85, 87, -87}));

    // A new title is a new track for the desktop.
    ASSERT_EQ(device().setMediaSession(package, u"playing"_s, u"Next song"_s, {}, {}), QString());
    ASSERT_TRUE(waitUntil([&] { return recordIs(u"Next song"_s, true); }, 10000));
    EXPECT_TRUE(waitUntil([] { return track() == u"Next song||'/app/vantle/Vantle/track/2'"_s; }));

    // The record goes with its holder's session, comes back paused, and goes with its window at once;
    // a read still on its way when the window closed does not bring it back.
    ASSERT_EQ(device().setMediaSession(package, u"none"_s, {}, {}, {}), QString());
    EXPECT_TRUE(
        waitUntil([&] { return !registry.nowPlaying() && !publisher.service().isPublished(); }, 10000));
    ASSERT_EQ(device().setMediaSession(package, u"paused"_s, u"Song"_s, {}, {}), QString());
    ASSERT_TRUE(waitUntil([&] { return recordIs(u"Song"_s, false); }, 10000));
    EXPECT_TRUE(waitUntil([] { return playerctl({u"status"_s}) == u"Paused"_s; }));
    session->close(u"close button"_s);
    EXPECT_FALSE(registry.nowPlaying()); // at once, not when the stream has ended
    EXPECT_FALSE(publisher.service().isPublished());
    EXPECT_FALSE(session->media());
    EXPECT_TRUE(waitUntil([] { return !playerctl({u"--list-all"_s}).contains(u"vantle"_s); }));
    ASSERT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    EXPECT_FALSE(registry.nowPlaying());
}

} // namespace
