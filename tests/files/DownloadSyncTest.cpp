// Android downloads copied to the desktop: the first run's seeding, two stable polls, temporary
// names, numbered names, and names from Android that try to leave the folder or replace a file.
#include "integrations/DownloadSync.h"

#include "FilesFixture.h"
#include "core/SettingsKeys.h"
#include "integrations/AndroidFileTransfer.h"

namespace {

struct RecordingNotifier final : Notifier {
    QStringList posts; // title|subtitle|body|file
    void post(const QString& title, const QString& subtitle, const QString& body, const std::optional<QUuid>&,
              const QString& file) override {
        posts.append(QStringList{title, subtitle, body, file}.join(u'|'));
    }
};

class DownloadSyncTest : public FilesFixture {
protected:
    SeenDownloads seen;
    RecordingNotifier notifier;
    DownloadSync sync{seen, notifier};
    QStringList banners;
    QString folder = Locations::downloads();

    void put(const QString& name, const QByteArray& bytes) {
        ASSERT_EQ(device().putDownload(desktopFile(u"source"_s, bytes), name), QString());
    }
    // One poll, run to its end (copies started by it included).
    void poll(int times = 1) {
        for (int i = 0; i < times; ++i) {
            sync.poll();
            ASSERT_TRUE(waitUntil([&] { return !sync.isPolling(); }, 20000));
        }
    }
    QStringList copied() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }
    QByteArray copy(const QString& name) const {
        QFile file(folder + u'/' + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Waits for copies to end and announce `count` files; takes their banners and posts.
    QStringList saved(qsizetype count) {
        EXPECT_TRUE(waitUntil(
            [&] {
                return QDir(folder).entryList({u".vantle-pull-*"_s}, QDir::Files | QDir::Hidden).isEmpty() &&
                       banners.size() == count && notifier.posts.size() == count;
            },
            20000));
        return std::exchange(banners, {}) + std::exchange(notifier.posts, {});
    }
    std::optional<QString> copyToMac(const QString& name) {
        return offMainThread([&] { return DownloadSync::copyToMac(name, folder); });
    }
};

TEST_F(DownloadSyncTest, SeedingStablePollsNumberedNamesAndHostileNames) {
    sync.onSaved = [this](const QString& title, const QString& text) { banners.append(title + u'|' + text); };
    MainLogSince since;
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
        poll();
        EXPECT_TRUE(copied().isEmpty());
        poll(); // the same size twice in a row: ready
        EXPECT_EQ(saved(1),
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
        for (const QString& name :
             {u"movie.mp4.crdownload"_s, u".pending-123-movie.mp4"_s, u"page.download"_s})
            put(name, "partial");
        put(u"empty.txt"_s, "");
        // A file dropped on a window is in the seen set before it reaches Android.
        const QString dropped = desktopFile(u"dropped.txt"_s, "from the desktop");
        offMainThread([&] {
            return AndroidFileTransfer::push({dropped}, u"org.vantle.sim.none"_s, std::nullopt, seen);
        });
        poll(3);
        EXPECT_EQ(copied().size(), 1);
        // The browser gives the file its final name: copied once its size has held for a poll.
        ASSERT_TRUE(QFile::rename(deviceDownload(u"movie.mp4.crdownload"_s), deviceDownload(u"movie.mp4"_s)));
        poll();
        EXPECT_EQ(copied().size(), 1);
        poll();
        EXPECT_EQ(saved(1).size(), 2);
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
        SCOPED_TRACE("a name that is taken gets a number and nothing is replaced");
        QFile mine(folder + u"/report.pdf"_s);
        ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
        mine.write("mine");
        mine.close();
        put(u"report.pdf"_s, "from android");
        poll(2);
        EXPECT_EQ(saved(1).first(), u"Saved to your computer|Downloads › Vantle › report 2.pdf"_s);
        EXPECT_EQ(copy(u"report.pdf"_s), "mine");
        EXPECT_EQ(copy(u"report 2.pdf"_s), "from android");
        EXPECT_EQ(copyToMac(u"report.pdf"_s), folder + u"/report 3.pdf"_s);
        put(u"README"_s, "readme"); // without an extension
        EXPECT_EQ(copyToMac(u"README"_s), folder + u"/README"_s);
        EXPECT_EQ(copyToMac(u"README"_s), folder + u"/README 2"_s);
        ASSERT_TRUE(QFile::remove(deviceDownload(u"README"_s))); // not for the watcher
    }
    {
        SCOPED_TRACE("hostile names stay inside the folder");
        put(u"bell\x07"
            "and\x1b"
            "[31mred.txt"_s,
            "escape");
        poll(2);
        EXPECT_EQ(saved(1).size(), 2);
        EXPECT_EQ(copy(u"bell_and_[31mred.txt"_s), "escape");
        // Names no honest listing has: refused before adb is asked, or the pull finds nothing.
        const QString parent = QFileInfo(folder).absolutePath();
        const QStringList before =
            QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        const qsizetype files = copied().size();
        for (const QString& name :
             {u".."_s, u"."_s, u"../escape.txt"_s, u""_s, QString(300, u'n') + u".txt"_s})
            EXPECT_EQ(copyToMac(name), std::nullopt) << name.size();
        EXPECT_EQ(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
        EXPECT_EQ(copied().size(), files);
    }
    VantleSettings::set(SettingsKeys::syncDownloads, false);
    sync.poll();
    EXPECT_FALSE(sync.isPolling()) << "off: polls do nothing";
}

TEST(DownloadRules, ListingTemporaryNamesAndSafeNames) {
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
    const std::pair<QString, QString> names[]{
        {u"a/b"_s, u"a_b"_s},
        {u".."_s, u"download"_s},
        {u"."_s, u"download"_s},
        {u" "_s, u"download"_s},
        {u"tab\there"_s, u"tab_here"_s},
        {u"del\x7f.txt"_s, u"del_.txt"_s},
        {u"line\nbreak"_s, u"line_break"_s},
    };
    for (const auto& [android, safe] : names)
        EXPECT_EQ(DownloadSync::safeName(android), safe) << android.toStdString();
    // Too long for a file name with a number: cut, keeping the extension and whole characters.
    const QString cut = DownloadSync::safeName(QString(150, u'é') + u".jpeg"_s); // 305 bytes
    EXPECT_LE(DownloadSync::numbered(cut, 9999).toUtf8().size(), 255);
    EXPECT_TRUE(cut.endsWith(u"é.jpeg"_s));
    EXPECT_EQ(DownloadSync::numbered(u".profile"_s, 2), u".profile 2"_s);
}

TEST(SeenDownloadsRules, NeverWrittenMeansFirstRunAndInsertsPersist) {
    ScopedSettings settings;
    {
        SeenDownloads seen;
        EXPECT_EQ(seen.load(), std::nullopt);
        seen.insert({u"a"_s});
        seen.insert({u"b"_s, u"a"_s});
    }
    settings.reopen();
    EXPECT_EQ(SeenDownloads().load(), (QSet<QString>{u"a"_s, u"b"_s}));
}

} // namespace
