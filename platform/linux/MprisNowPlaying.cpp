// The now-playing service as an MPRIS 2.2 player on the session bus: the root interface
// org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player at /org/mpris/MediaPlayer2. Vantle
// controls an Android app through its media keys only: there is no seeking, no position, no
// volume, no track list, and the rate is always 1.
#include "platform/NowPlayingService.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString serviceName = u"org.mpris.MediaPlayer2.vantle"_s;
const QString objectPath = u"/org/mpris/MediaPlayer2"_s;
const QString playerInterface = u"org.mpris.MediaPlayer2.Player"_s;
const QString rootInterface = u"org.mpris.MediaPlayer2"_s;

class MprisNowPlaying;

// org.mpris.MediaPlayer2: who the player is. Vantle cannot be raised or quit from here.
class MprisRoot final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    MprisRoot(QObject* parent, const NowPlayingService::Track& track)
        : QDBusAbstractAdaptor(parent)
        , m_track(track) {}
    bool canQuit() const { return false; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return m_track.appName.isEmpty() ? u"Vantle"_s : m_track.appName; }
    QString desktopEntry() const { return u"app.vantle.Vantle"_s; }
    QStringList none() const { return {}; }

public Q_SLOTS:
    void Raise() {}
    void Quit() {}

private:
    const NowPlayingService::Track& m_track;
};

// org.mpris.MediaPlayer2.Player: the track and the transport.
class MprisPlayer final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Rate READ one WRITE ignore)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one WRITE ignore)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    MprisPlayer(QObject* parent, const NowPlayingService::Track& track,
                std::function<void(NowPlayingService::Command)> command)
        : QDBusAbstractAdaptor(parent)
        , m_track(track)
        , m_command(std::move(command)) {}

    QString playbackStatus() const { return m_track.playing ? u"Playing"_s : u"Paused"_s; }
    QVariantMap metadata() const {
        // The track id names the track; one made of a counter changes with every new title.
        QVariantMap map{{u"mpris:trackid"_s,
                         QVariant::fromValue(
                             QDBusObjectPath(u"/app/vantle/Vantle/track/"_s + QString::number(trackNumber)))},
                        {u"xesam:title"_s, m_track.title}};
        if (!m_track.artist.isEmpty()) map.insert(u"xesam:artist"_s, QStringList{m_track.artist});
        return map;
    }
    double one() const { return 1.0; }
    void ignore(double) {}
    qlonglong position() const { return 0; }
    bool yes() const { return true; }
    bool no() const { return false; }

    quint64 trackNumber = 0;

public Q_SLOTS:
    void Next() { m_command(NowPlayingService::Command::next); }
    void Previous() { m_command(NowPlayingService::Command::previous); }
    void PlayPause() { m_command(NowPlayingService::Command::playPause); }
    void Play() {
        if (!m_track.playing) m_command(NowPlayingService::Command::play);
    }
    void Pause() {
        if (m_track.playing) m_command(NowPlayingService::Command::pause);
    }
    // An Android app has no stop key of its own here: Stop pauses.
    void Stop() { Pause(); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    const NowPlayingService::Track& m_track;
    std::function<void(NowPlayingService::Command)> m_command;
};

class MprisNowPlaying final : public NowPlayingService {
    Q_OBJECT
public:
    MprisNowPlaying()
        : m_root(new MprisRoot(this, m_track))
        , m_player(new MprisPlayer(this, m_track, [this](Command command) {
            if (onCommand) onCommand(command);
        })) {}
    ~MprisNowPlaying() override { withdraw(); }

    bool publish(const Track& track) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        const Track before = std::exchange(m_track, track);
        if (before.title != track.title || before.artist != track.artist) ++m_player->trackNumber;
        if (m_published) {
            announce(before);
            return true;
        }
        if (!bus.registerObject(objectPath, this)) return false;
        if (!bus.registerService(serviceName)) {
            bus.unregisterObject(objectPath);
            return false;
        }
        m_published = true;
        return true;
    }

    void withdraw() override {
        if (!m_published) return;
        m_published = false;
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(serviceName);
        bus.unregisterObject(objectPath);
    }

    bool isPublished() const override { return m_published; }

private:
    // PropertiesChanged for what differs from `before`, one signal per interface.
    void announce(const Track& before) {
        QVariantMap player;
        if (before.playing != m_track.playing) player.insert(u"PlaybackStatus"_s, m_player->playbackStatus());
        if (before.title != m_track.title || before.artist != m_track.artist)
            player.insert(u"Metadata"_s, m_player->metadata());
        if (!player.isEmpty()) changed(playerInterface, player);
        if (before.appName != m_track.appName) changed(rootInterface, {{u"Identity"_s, m_root->identity()}});
    }

    static void changed(const QString& interface, const QVariantMap& properties) {
        QDBusMessage signal = QDBusMessage::createSignal(objectPath, u"org.freedesktop.DBus.Properties"_s,
                                                         u"PropertiesChanged"_s);
        signal << interface << properties << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }

    Track m_track;
    MprisRoot* m_root;
    MprisPlayer* m_player;
    bool m_published = false;
};

} // namespace

std::unique_ptr<NowPlayingService> NowPlayingService::create() {
    return std::make_unique<MprisNowPlaying>();
}

#include "MprisNowPlaying.moc"
