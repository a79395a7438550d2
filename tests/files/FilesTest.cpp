// Files in and out of the simulated Android with the gallery (takes images and PDFs) and notes (takes
// nothing): downloads copied out, dropped files pushed, scanned and shared, names kept in their folder.
#include "integrations/AndroidFileTransfer.h"
#include "integrations/DownloadSync.h"
#include "stream/AndroidStreamClient.h"
#include "windows/NotesWindowFixture.h"
#include "windows/NotificationBannerView.h"

#include <QLabel>
#include <QScopeGuard>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString gallery = u"org.vantle.sim.gallery"_s, saved = u"Saved in Android › Download"_s;

class FilesTest : public CommandedWindowFixture {
protected:
    QTemporaryDir desktop; // the user's files on the desktop side
    SeenDownloads seen;
    PostedNotifications notifier;
    DownloadSync sync{seen, notifier};
    QStringList banners;
    QString folder = Locations::downloads();

    QString deviceDownload(const QString& name) const {
        return device().dataRoot() + u"/media/0/Download/"_s + name;
    }
    QString desktopFile(const QString& name, const QByteArray& bytes) const {
        EXPECT_TRUE(writeFile(desktop.filePath(name), bytes));
        return desktop.filePath(name);
    }
    QList<QJsonObject> received(const QString& command) const {
        QList<QJsonObject> matching;
        for (const QJsonObject& event : device().received())
            if (event.value(u"type"_s) == u"am"_s && event.value(u"command"_s) == command)
                matching.append(event);
        return matching;
    }
    // "title|message" of a push.
    QString push(const QStringList& paths, const QString& package = gallery) {
        const auto result = offThread([&] { return AndroidFileTransfer::push(paths, package, {}, seen); },
                                      &AndroidRuntimeCLI::pool());
        return result.title + u'|' + result.message;
    }
    void put(const QString& name, const QByteArray& bytes) {
        ASSERT_EQ(device().putDownload(desktopFile(u"source"_s, bytes), name), QString());
    }
    // Polls to their ends (copies started by them included).
    void poll(int times = 1) {
        for (int i = 0; i < times; ++i) {
            sync.poll();
            ASSERT_TRUE(waitUntil([&] { return !sync.isPolling(); }, 20000));
        }
    }
    QStringList copied() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }
    QByteArray copy(const QString& name) const { return readFile(folder + u'/' + name); }
    // Waits for copies to end and announce `count` files; takes their banners and posts.
    QStringList announced(qsizetype count) {
        EXPECT_TRUE(waitUntil(
            [&] {
                return QDir(folder).entryList({u".vantle-pull-*"_s}, QDir::Files | QDir::Hidden).isEmpty() &&
                       banners.size() == count && notifier.posts.size() == count;
            },
            20000));
        QStringList posts; // title|subtitle|body|file
        for (const PostedNotifications::Post& post : std::exchange(notifier.posts, {}))
            posts.append(QStringList{post.title, post.subtitle, post.body, post.file}.join(u'|'));
        return std::exchange(banners, {}) + posts;
    }
    std::optional<QString> copyToMac(const QString& name) {
        return offThread([&] { return DownloadSync::copyToMac(name, folder); }, &AndroidRuntimeCLI::pool());
    }
};

TEST_F(FilesTest, DownloadsOutAndDropsIn) {
    sync.onSaved = [this](const QString& title, const QString& text) { banners.append(title + u'|' + text); };
    {
        SCOPED_TRACE("the first run seeds, then a new file arrives once after two stable polls");
        for (const QString& name : {u"old1.pdf"_s, u"old2.jpg"_s, u"old3.txt"_s})
            put(name, "old");
        sync.start(); // polls at once
        EXPECT_TRUE(sync.isRunning());
        ASSERT_TRUE(waitUntil([&] {
            return since.count(u"downloads: watching Android Download folder (3 existing files)"_s) == 1;
        }));
        sync.stop();
        put(u"song.mp3"_s, "first part");
        poll();
        EXPECT_TRUE(copied().isEmpty());                 // seen once: waits
        put(u"song.mp3"_s, "first part, then the rest"); // still growing
        poll(2);
        EXPECT_EQ(announced(1),
                  (QStringList{u"Saved to your computer|Downloads › Vantle › song.mp3"_s,
                               u"Saved to your computer|From Android|Downloads › Vantle › song.mp3|"_s +
                                   folder + u"/song.mp3"_s}));
        poll(3);
        EXPECT_EQ(copied(), QStringList{u"song.mp3"_s}); // once
        EXPECT_EQ(copy(u"song.mp3"_s), "first part, then the rest");
        EXPECT_EQ(since.count(u"downloads: song.mp3 -> "_s + folder + u"/song.mp3"_s), 1);
        EXPECT_EQ(since.count(u"downloads: old"_s), 0); // what was there at first is never copied
    }
    {
        SCOPED_TRACE("temporary names, empty files and files sent from the desktop are not copied");
        put(u"movie.mp4.crdownload"_s, "partial"); // the other temporary names are in the rules' table
        put(u"empty.txt"_s, "");
        // A file dropped on a window is in the seen set before it reaches Android.
        push({desktopFile(u"dropped.txt"_s, "from the desktop")}, u"org.vantle.sim.none"_s);
        poll(3);
        EXPECT_EQ(copied().size(), 1);
        // The browser gives the file its final name: copied once its size has held for a poll.
        ASSERT_TRUE(QFile::rename(deviceDownload(u"movie.mp4.crdownload"_s), deviceDownload(u"movie.mp4"_s)));
        poll();
        EXPECT_EQ(copied().size(), 1);
        poll();
        EXPECT_EQ(announced(1).size(), 2);
        EXPECT_EQ(copied(), (QStringList{u"movie.mp4"_s, u"song.mp3"_s}));
        // A file deleted before it was ready is forgotten: back with the same size, it waits again.
        put(u"brief.bin"_s, "12345");
        poll();
        ASSERT_TRUE(QFile::remove(deviceDownload(u"brief.bin"_s)));
        poll();
        put(u"brief.bin"_s, "12345");
        poll();
        EXPECT_FALSE(seen.load()->contains(u"brief.bin"_s)); // a ready file is marked before its copy starts
        ASSERT_TRUE(QFile::remove(deviceDownload(u"brief.bin"_s)));
    }
    {
        SCOPED_TRACE("a name that is taken gets a number and nothing is replaced; hostile names stay inside");
        ASSERT_TRUE(writeFile(folder + u"/report.pdf"_s, "mine"));
        put(u"report.pdf"_s, "from android");
        poll(2);
        EXPECT_EQ(announced(1).first(), u"Saved to your computer|Downloads › Vantle › report 2.pdf"_s);
        EXPECT_EQ(copy(u"report.pdf"_s) + copy(u"report 2.pdf"_s), "minefrom android");
        EXPECT_EQ(copyToMac(u"report.pdf"_s), folder + u"/report 3.pdf"_s);
        put(u"bell\u0007and\u001b[31mred.txt"_s, "escape");
        poll(2);
        EXPECT_EQ(announced(1).size(), 2);
        EXPECT_EQ(copy(u"bell_and_[31mred.txt"_s), "escape");
        // Names no honest listing has: refused before adb is asked, or the pull finds nothing.
        const auto around = [&] {
            return QDir(folder + u"/.."_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) +
                   copied();
        };
        const QStringList before = around();
        for (const QString& name :
             {u".."_s, u"."_s, u"../escape.txt"_s, u""_s, QString(300, u'n') + u".txt"_s})
            EXPECT_EQ(copyToMac(name), std::nullopt) << name.size();
        EXPECT_EQ(around(), before);
    }
    VantleSettings::set(SettingsKeys::syncDownloads, false);
    sync.poll();
    EXPECT_FALSE(sync.isPolling()) << "off: polls do nothing";
    settings.reopen(); // what was seen is kept for the next run
    EXPECT_TRUE(SeenDownloads().load().value_or(QSet<QString>()).contains(u"song.mp3"_s));

    // Files dropped on windows, walked through the cases; the last one breaks the Download folder.
    ASSERT_EQ(Coroutines::waitFor(
                  AndroidRuntimeCLI::installAndLaunch(QStringLiteral(VANTLE_SIM_TEST_DATA "/gallery.apk"))),
              gallery);
    {
        SCOPED_TRACE(
            "a photo dropped on a gallery window lands in Download, is scanned and shared on its display");
        registry.sendFiles = [this](const QStringList& paths, const QString& package,
                                    std::optional<int> display) {
            return AndroidFileTransfer::push(paths, package, display, seen);
        };
        const auto unset = qScopeGuard([&] { registry.sendFiles = nullptr; }); // open windows keep a copy
        AndroidWindowSession* session = registry.open(QUuid::createUuid(), gallery, u"Gallery"_s, {});
        ASSERT_TRUE(waitUntil([&] { return !session->videoView()->currentFrame().isNull(); }, 30000));
        // The display's id comes from the server's output, which adb may relay after the first frame.
        ASSERT_TRUE(waitUntil([&] { return session->client()->displayID().has_value(); }, 10000));
        // The window's toast: title, then text.
        const auto notice = [session] {
            return session->banner()->titleLabel()->text() + u'\n' + session->banner()->bodyLabel()->text();
        };
        device().clearReceived();
        commands.dispatch(u"drop:"_s + desktopFile(u"photo.jpg"_s, QByteArray(5000, 'j')));
        EXPECT_TRUE(waitUntil([&] { return notice() == u"photo.jpg\nChoose where to send it"_s; }, 20000));
        EXPECT_EQ(readFile(deviceDownload(u"photo.jpg"_s)), QByteArray(5000, 'j'));
        const QList<QJsonObject> scans = received(u"broadcast"_s), shares = received(u"start"_s);
        ASSERT_EQ(QList<qsizetype>({scans.size(), shares.size()}), QList<qsizetype>({1, 1}));
        EXPECT_EQ(scans[0].value(u"action"_s).toString() + u' ' + scans[0].value(u"data"_s).toString(),
                  u"android.intent.action.MEDIA_SCANNER_SCAN_FILE file:///sdcard/Download/photo.jpg"_s);
        EXPECT_EQ(QStringList({shares[0][u"component"_s].toString(), shares[0][u"action"_s].toString(),
                               shares[0][u"mime"_s].toString()}),
                  (QStringList{u"org.vantle.sim.gallery/.ShareActivity"_s, u"android.intent.action.SEND"_s,
                               u"image/jpeg"_s}));
        EXPECT_TRUE(shares[0].value(u"stream"_s).toString().startsWith(u"content://media/external/file/"_s));
        EXPECT_TRUE(shares[0].value(u"grantRead"_s).toBool());
        EXPECT_EQ(shares[0].value(u"display"_s).toInt(), session->client()->displayID().value_or(-2));
        EXPECT_TRUE(seen.load().value_or(QSet<QString>()).contains(u"photo.jpg"_s)); // never copied back
        EXPECT_EQ(since.count(u"drop: sent photo.jpg to Android"_s), 1);
        EXPECT_EQ(since.count(u"drop: share to org.vantle.sim.gallery opened (Starting: Intent { "_s), 1);
    }
    {
        SCOPED_TRACE("what the app cannot take stays in Download; shell words in a name stay text");
        const QString photo = desktopFile(u"holiday.png"_s, "png"),
                      table = desktopFile(u"table.xyz"_s, "xyz");
        const QString quoted = desktopFile(u"it's.jpg"_s, "quote"),
                      dollar = desktopFile(u"$(id) `id`.pdf"_s, "$");
        const std::tuple<QStringList, QString, QString, qsizetype> cases[]{
            // paths, package, result, shares
            {{photo}, package, u"holiday.png|"_s + saved, 0}, // notes takes no images
            {{table}, gallery, u"table.xyz|"_s + saved, 0},   // unknown type
            {{quoted}, gallery, u"it's.jpg|"_s + saved, 0},   // no media lookup
            {{dollar}, gallery, u"$(id) `id`.pdf|Choose where to send it"_s, 1},
            {{photo, table, quoted}, gallery, u"3 files sent|"_s + saved, 0},
        };
        for (const auto& [paths, package, result, shares] : cases) {
            SCOPED_TRACE(result.toStdString());
            device().clearReceived();
            EXPECT_EQ(push(paths, package), result);
            EXPECT_EQ(received(u"broadcast"_s).size(), paths.size());
            EXPECT_EQ(received(u"start"_s).size(), shares);
        }
        EXPECT_EQ(readFile(deviceDownload(u"it's.jpg"_s)) + readFile(deviceDownload(u"$(id) `id`.pdf"_s)),
                  "quote$");
        EXPECT_EQ(since.count(u"drop: share to org.vantle.sim.notes not supported ("_s), 1);
    }
    {
        SCOPED_TRACE("folders, missing and unreadable files are refused with a reason");
        QDir(desktop.path()).mkdir(u"Photos"_s);
        const QString folder = desktop.filePath(u"Photos"_s);
        EXPECT_EQ(push({folder}), u"Could not send|Photos is a folder: drop the files inside it instead."_s);
        EXPECT_FALSE(QFileInfo::exists(deviceDownload(u"Photos"_s)));
        EXPECT_EQ(push({desktop.filePath(u"gone.txt"_s)}), u"Could not send|gone.txt no longer exists."_s);
        // Root reads any file: a write-only kernel attribute is what it cannot read.
        const QString unreadable =
            ::geteuid() != 0 ? desktopFile(u"secret.txt"_s, "s") : u"/sys/bus/pci/rescan"_s;
        if (::geteuid() != 0) QFile::setPermissions(unreadable, {});
        if (QFileInfo::exists(unreadable)) {
            const QString name = QFileInfo(unreadable).fileName();
            EXPECT_TRUE(push({unreadable}).startsWith(u"Could not send|"_s + name + u" cannot be read ("_s));
            EXPECT_FALSE(QFileInfo::exists(deviceDownload(name)));
        }
        // With a good file beside it, the good one goes and the result is about what was sent.
        EXPECT_EQ(push({folder, desktopFile(u"note.txt"_s, "hello")}), u"note.txt|"_s + saved);
    }
    {
        SCOPED_TRACE("the media lookup waits for the scanner, then gives up");
        ASSERT_EQ(device().putDownload(desktopFile(u"late.png"_s, "late")), QString());
        EXPECT_FALSE(offThread([] { return AndroidFileTransfer::mediaURI(u"late.png"_s, 3, 10ms); }));
        auto lookup = QtConcurrent::run(&AndroidRuntimeCLI::pool(), [] {
            return AndroidFileTransfer::mediaURI(u"late.png"_s, 6, 300ms);
        });
        offThread([] {
            return AndroidRuntimeCLI::runADB(
                {u"shell"_s, u"am broadcast -a android.intent.action."
                             u"MEDIA_SCANNER_SCAN_FILE -d file:///sdcard/Download/late.png"_s});
        });
        EXPECT_TRUE(lookup.result().value_or(QString()).startsWith(u"content://media/external/file/"_s));
    }
    {
        SCOPED_TRACE("a push that did not arrive is not sent, though the device's error names the file");
        const QString download = device().dataRoot() + u"/media/0/Download"_s;
        ASSERT_TRUE(QDir(download).removeRecursively());
        ASSERT_TRUE(writeFile(download, {})); // a file in the folder's place: nothing can be written below it
        device().clearReceived();
        EXPECT_EQ(push({desktopFile(u"x.txt"_s, "x")}),
                  u"Could not send|The file could not be copied into Android."_s);
        EXPECT_EQ(since.count(u"drop: push x.txt failed: "_s), 1);
        EXPECT_TRUE(received(u"broadcast"_s).isEmpty());
    }
}

TEST(FilesRules, NamesListingsAndTypes) {
    EXPECT_EQ(DownloadSync::parseListing(u"12|/sdcard/Download/a.txt\n"_s), std::nullopt); // cut short
    EXPECT_EQ(
        DownloadSync::parseListing(u"  12|/sdcard/Download/a.txt \n6442450944|/sdcard/Download/big.iso\n"
                                   "x|/sdcard/Download/bad\nnobar\n5|/sdcard/Download/\n"
                                   "7|/sdcard/Download/with|bar\n__END__\n"_s),
        (DownloadSync::Listing{{u"a.txt"_s, 12}, {u"big.iso"_s, 6442450944}, {u"with|bar"_s, 7}}));
    for (const QString& name : {u".hidden"_s, u"a.PART"_s, u"b.crdownload"_s, u"c.tmp"_s, u".pending-1-x"_s,
                                u"x.pending-2"_s, u"d.download"_s})
        EXPECT_TRUE(DownloadSync::isTemporary(name)) << name.toStdString();
    for (const QString& name : {u"part.pdf"_s, u"tmp"_s, u"download.zip"_s})
        EXPECT_FALSE(DownloadSync::isTemporary(name)) << name.toStdString();
    // Pairs of a name from Android and the name it is saved as.
    const QStringList names{u"a/b"_s,         u"a_b"_s,      u".."_s,          u"download"_s,  u"."_s,
                            u"download"_s,    u" "_s,        u"download"_s,    u"tab\there"_s, u"tab_here"_s,
                            u"del\x7f.txt"_s, u"del_.txt"_s, u"line\nbreak"_s, u"line_break"_s};
    for (qsizetype i = 0; i < names.size(); i += 2)
        EXPECT_EQ(DownloadSync::safeName(names[i]), names[i + 1]) << names[i].toStdString();
    // Too long for a file name with a number: cut, keeping the extension and whole characters.
    const QString cut = DownloadSync::safeName(QString(150, u'é') + u".jpeg"_s); // 305 bytes
    EXPECT_LE(DownloadSync::numbered(cut, 9999).toUtf8().size(), 255);
    EXPECT_TRUE(cut.endsWith(u"é.jpeg"_s));
    EXPECT_EQ(DownloadSync::numbered(u".profile"_s, 2) + DownloadSync::numbered(u"README"_s, 2),
              u".profile 2README 2"_s); // no extension
    EXPECT_EQ(AndroidFileTransfer::mimeType(u"a.JPG"_s), u"image/jpeg"_s);
    EXPECT_EQ(AndroidFileTransfer::mimeType(u"g.Docx"_s),
              u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"_s);
    for (const QString& unknown : {u"h.tar.gz"_s, u"jpg"_s, u"i."_s})
        EXPECT_EQ(AndroidFileTransfer::mimeType(unknown), std::nullopt) << unknown.toStdString();
}

} // namespace
