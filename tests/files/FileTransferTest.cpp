// Files dropped on an app window going into the simulated Android: pushed, checked, indexed by the
// media scanner and offered to the window's own app through the share intent.
#include "FilesFixture.h"
#include "core/CommandRouter.h"
#include "core/SettingsKeys.h"
#include "integrations/AndroidFileTransfer.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "stream/AndroidStreamClient.h"
#include "stream/AndroidVideoView.h"
#include "windows/AndroidAppPanel.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"
#include "windows/NotificationBannerView.h"
#include "windows/WindowCommands.h"

#include <QLabel>
#include <QScopeGuard>

namespace AndroidFileTransfer {
inline void PrintTo(const Result& result, std::ostream* out) {
    *out << '(' << result.title.toStdString() << ", " << result.message.toStdString() << ')';
}
} // namespace AndroidFileTransfer

namespace {

using AndroidFileTransfer::Result;

const QString saved = u"Saved in Android › Download"_s, gallery = u"org.vantle.sim.gallery"_s;

class FileTransferTest : public FilesFixture {
protected:
    SeenDownloads seen;

    Result push(const QStringList& paths, const QString& package, std::optional<int> display = std::nullopt) {
        return offMainThread([&] { return AndroidFileTransfer::push(paths, package, display, seen); });
    }
    QByteArray onDevice(const QString& name) const {
        QFile file(deviceDownload(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

// One device walked through the cases; the last one breaks its Download folder.
TEST_F(FileTransferTest, PushScanShareAndRefusals) {
    ASSERT_EQ(install(galleryApk), gallery);
    ASSERT_EQ(install(notesApk), u"org.vantle.sim.notes"_s);
    {
        SCOPED_TRACE("a photo lands in Download, is scanned and shared with the app on its display");
        device().clearReceived();
        MainLogSince since;
        EXPECT_EQ(push({desktopFile(u"photo.jpg"_s, QByteArray(5000, 'j'))}, gallery, 7),
                  (Result{u"photo.jpg"_s, u"Choose where to send it"_s}));
        EXPECT_EQ(onDevice(u"photo.jpg"_s), QByteArray(5000, 'j'));
        const QList<QJsonObject> scans = received(u"am"_s, u"broadcast"_s);
        ASSERT_EQ(scans.size(), 1);
        EXPECT_EQ(scans[0].value(u"action"_s).toString(), u"android.intent.action.MEDIA_SCANNER_SCAN_FILE"_s);
        EXPECT_EQ(scans[0].value(u"data"_s).toString(), u"file:///sdcard/Download/photo.jpg"_s);
        const QList<QJsonObject> shares = received(u"am"_s, u"start"_s);
        ASSERT_EQ(shares.size(), 1);
        EXPECT_EQ(shares[0].value(u"component"_s).toString(), u"org.vantle.sim.gallery/.ShareActivity"_s);
        EXPECT_EQ(shares[0].value(u"action"_s).toString(), u"android.intent.action.SEND"_s);
        EXPECT_EQ(shares[0].value(u"mime"_s).toString(), u"image/jpeg"_s);
        EXPECT_TRUE(shares[0].value(u"stream"_s).toString().startsWith(u"content://media/external/file/"_s));
        EXPECT_TRUE(shares[0].value(u"grantRead"_s).toBool());
        EXPECT_EQ(shares[0].value(u"display"_s).toInt(), 7);
        EXPECT_TRUE(seen.load().value_or(QSet<QString>()).contains(u"photo.jpg"_s)); // never copied back
        EXPECT_EQ(since.count(u"drop: sent photo.jpg to Android"_s), 1);
        EXPECT_EQ(since.count(u"drop: share to org.vantle.sim.gallery opened (Starting: Intent { "_s), 1);
    }
    {
        SCOPED_TRACE("what the app cannot take stays in Download");
        MainLogSince since;
        const QString photo = desktopFile(u"holiday.png"_s, "png"),
                      table = desktopFile(u"table.xyz"_s, "xyz");
        const QString quoted = desktopFile(u"it's.jpg"_s, "quote");
        // Shell words in a name stay text in every device command: pushed, scanned and shared as named.
        const QString dollar = desktopFile(u"$(id) `id`.pdf"_s, "dollar");
        const struct {
            QStringList paths;
            QString package;
            Result result;
            qsizetype shares;
        } cases[]{
            {{photo}, u"org.vantle.sim.notes"_s, {u"holiday.png"_s, saved}, 0}, // notes takes no images
            {{table}, gallery, {u"table.xyz"_s, saved}, 0},                     // unknown type
            {{quoted}, gallery, {u"it's.jpg"_s, saved}, 0},                     // no media lookup
            {{dollar}, gallery, {u"$(id) `id`.pdf"_s, u"Choose where to send it"_s}, 1},
            {{photo, table, quoted}, gallery, {u"3 files sent"_s, saved}, 0},
        };
        for (const auto& c : cases) {
            device().clearReceived();
            EXPECT_EQ(push(c.paths, c.package), c.result);
            EXPECT_EQ(received(u"am"_s, u"broadcast"_s).size(), c.paths.size())
                << c.result.title.toStdString();
            EXPECT_EQ(received(u"am"_s, u"start"_s).size(), c.shares) << c.result.title.toStdString();
        }
        EXPECT_EQ(onDevice(u"it's.jpg"_s), "quote");
        EXPECT_EQ(onDevice(u"$(id) `id`.pdf"_s), "dollar");
        EXPECT_EQ(since.count(u"drop: share to org.vantle.sim.notes not supported ("_s), 1);
    }
    {
        SCOPED_TRACE("folders and unreadable files are refused with a reason");
        QDir(desktop.path()).mkdir(u"Photos"_s);
        const QString folder = desktop.filePath(u"Photos"_s);
        EXPECT_EQ(push({folder}, gallery),
                  (Result{u"Could not send"_s, u"Photos is a folder: drop the files inside it instead."_s}));
        EXPECT_FALSE(QFileInfo::exists(deviceDownload(u"Photos"_s)));
        if (const QString unreadable = unreadableFile(desktop); !unreadable.isEmpty()) {
            const QString name = QFileInfo(unreadable).fileName();
            const Result result = push({unreadable}, gallery);
            EXPECT_EQ(result.title, u"Could not send"_s);
            EXPECT_TRUE(result.message.startsWith(name + u" cannot be read ("_s))
                << result.message.toStdString();
            EXPECT_FALSE(QFileInfo::exists(deviceDownload(name)));
        }
        // With a good file beside it, the good one goes and the result is about what was sent.
        EXPECT_EQ(push({folder, desktopFile(u"note.txt"_s, "hello")}, gallery),
                  (Result{u"note.txt"_s, saved}));
        EXPECT_EQ(push({desktop.filePath(u"gone.txt"_s)}, gallery),
                  (Result{u"Could not send"_s, u"gone.txt no longer exists."_s}));
    }
    {
        SCOPED_TRACE("the media lookup waits for the scanner, then gives up");
        ASSERT_EQ(device().putDownload(desktopFile(u"late.png"_s, "late")), QString());
        EXPECT_EQ(offMainThread([] {
                      return AndroidFileTransfer::mediaURI(u"late.png"_s, 3, std::chrono::milliseconds(10));
                  }),
                  std::nullopt);
        auto lookup = QtConcurrent::run(&AndroidRuntimeCLI::pool(), [] {
            return AndroidFileTransfer::mediaURI(u"late.png"_s, 6, std::chrono::milliseconds(300));
        });
        offMainThread([] {
            return AndroidRuntimeCLI::runADB(
                {u"shell"_s, u"am broadcast -a android.intent.action."
                             u"MEDIA_SCANNER_SCAN_FILE -d file:///sdcard/Download/late.png"_s});
        });
        waitUntil([&] { return lookup.isFinished(); }, 10000);
        ASSERT_TRUE(lookup.result().has_value()); // scanned while it still asked
        EXPECT_TRUE(lookup.result()->startsWith(u"content://media/external/file/"_s));
    }
    {
        SCOPED_TRACE("the whole road: a gallery window, the \"drop:\" command, the window's message");
        qputenv("VANTLE_BUNDLE", VANTLE_BUILD_BRIDGE);
        RuntimeComponentLocator::clearCache();
        VantleSettings::set(SettingsKeys::forwardAudio, false);
        AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
        registry.sendFiles = [this](const QStringList& paths, const QString& package,
                                    std::optional<int> display) {
            return AndroidFileTransfer::push(paths, package, display, seen);
        };
        const auto closed = qScopeGuard([&] {
            registry.closeAll();
            waitUntil([&] { return registry.sessions().isEmpty(); }, 10000);
            registry.cancelIdleShutdown();
            registry.sendFiles = nullptr;
            qunsetenv("VANTLE_BUNDLE");
        });
        CommandRouter commands;
        registerWindowCommands(commands);
        AndroidWindowSession* session = registry.open(QUuid::createUuid(), gallery, u"Gallery"_s, {});
        ASSERT_TRUE(waitUntil([&] { return !session->videoView()->currentFrame().isNull(); }, 30000));
        // The display's id comes from the server's output, which adb may relay after the first frame.
        ASSERT_TRUE(waitUntil([&] { return session->client()->displayID().has_value(); }, 10000));
        // The window's toast: title, then text.
        const auto notice = [session] {
            return session->banner()->titleLabel()->text() + u'\n' + session->banner()->bodyLabel()->text();
        };
        device().clearReceived();
        commands.dispatch(u"drop:"_s + desktopFile(u"photo.jpg"_s, "jpeg"));
        EXPECT_TRUE(waitUntil([&] { return notice() == u"photo.jpg\nChoose where to send it"_s; }, 20000));
        const QList<QJsonObject> shares = received(u"am"_s, u"start"_s);
        ASSERT_EQ(shares.size(), 1);
        EXPECT_EQ(shares[0].value(u"display"_s).toInt(), session->client()->displayID().value_or(-2));
        commands.dispatch(u"drop:"_s + desktop.filePath(u"Photos"_s));
        EXPECT_TRUE(waitUntil(
            [&] {
                return notice() == u"Could not send\nPhotos is a folder: drop the files inside it instead."_s;
            },
            20000))
            << notice().toStdString();
    }
    {
        SCOPED_TRACE("a push that did not arrive is not sent, though the device's error names the file");
        const QString download = device().dataRoot() + u"/media/0/Download"_s;
        ASSERT_TRUE(QDir(download).removeRecursively());
        QFile blocker(download); // a file in the folder's place: nothing can be written below it
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        device().clearReceived();
        MainLogSince since;
        EXPECT_EQ(push({desktopFile(u"x.txt"_s, "x")}, gallery),
                  (Result{u"Could not send"_s, u"The file could not be copied into Android."_s}));
        EXPECT_EQ(since.count(u"drop: push x.txt failed: "_s), 1);
        EXPECT_TRUE(received(u"am"_s, u"broadcast"_s).isEmpty());
    }
}

TEST(FileTransferRules, MimeTypesByTheLastExtension) {
    const std::pair<QString, std::optional<QString>> types[]{
        {u"a.JPG"_s, u"image/jpeg"_s},
        {u"g.Docx"_s, u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"_s},
        {u"h.tar.gz"_s, std::nullopt},
        {u"jpg"_s, std::nullopt},
        {u"i."_s, std::nullopt},
    };
    for (const auto& [name, type] : types)
        EXPECT_EQ(AndroidFileTransfer::mimeType(name), type) << name.toStdString();
}

} // namespace
