#include "core/AppLibraryStore.h"

#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

// Readable failure output: GoogleTest finds this next to QString.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QList<QUrl> urls(const QStringList& paths) {
    QList<QUrl> list;
    for (const QString& path : paths)
        list.append(QUrl::fromLocalFile(path));
    return list;
}

QStringList names(const QList<MobileApp>& apps) {
    QStringList list;
    for (const MobileApp& app : apps)
        list.append(app.name);
    return list;
}

// The settings file's raw values, as the next start would find them.
QJsonObject storedValues(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(u"values"_s).toObject();
}

QStringList keptAsideKeys(const QString& settingsPath) {
    QStringList kept;
    for (const QString& key : storedValues(settingsPath).keys())
        if (key.startsWith(QString(SettingsKeys::unreadableApps.prefix))) kept.append(key);
    return kept;
}

class AppLibraryStoreTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QTemporaryDir files;        // the APKs the tests add
    std::atomic<int> reads = 0; // of the APK reader, from pool threads
    // Files whose name holds "labelled" have a label, "text" are no APK, "broken" throw.
    AppLibraryStore::Seams seams{{}, [this](const QString& path) {
                                     ++reads;
                                     if (path.endsWith(u"broken.apk"_s))
                                         throw std::runtime_error("truncated archive");
                                     ApkReading reading;
                                     reading.isApk = !path.contains(u"text"_s);
                                     if (path.endsWith(u"labelled.apk"_s)) reading.label = u"Real Label"_s;
                                     return reading;
                                 }};

    // A file below the test folder (folders made as needed); its absolute path.
    QString file(const QString& relative) {
        const QString path = files.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("PK\x03\x04");
        return path;
    }
    // Adds and waits until every file was taken up.
    static void add(AppLibraryStore& store, const QStringList& paths) {
        store.addFiles(urls(paths));
        EXPECT_TRUE(waitUntil([&] { return !store.isAddingFiles(); }));
    }

    // A library of entries with these names (favourites marked with a leading '*').
    std::unique_ptr<AppLibraryStore> storeWith(const QStringList& entries) {
        auto store = std::make_unique<AppLibraryStore>(seams);
        store->setApps(appsNamed(entries));
        return store;
    }
    static QList<MobileApp> appsNamed(const QStringList& entries) {
        QList<MobileApp> apps;
        for (const QString& name : entries) {
            MobileApp app;
            app.id = QUuid::createUuid();
            app.isFavorite = name.startsWith(u'*');
            app.name = app.isFavorite ? name.mid(1) : name;
            app.sourcePath = u"/apks/"_s + app.name + u".apk"_s;
            app.addedAt = QDateTime::currentDateTimeUtc();
            apps.append(app);
        }
        return apps;
    }
};

TEST_F(AppLibraryStoreTest, AddFilesReportsEachFileAndAddsOnlyNewAPKs) {
    const QString maps = file(u"in/Maps_2.0.APK"_s), labelled = file(u"other/labelled.apk"_s);
    const QString otherMaps = file(u"in/Maps_2.0.apk"_s);
    AppLibraryStore store(seams);
    EXPECT_EQ(store.statusMessage(), u"Ready"_s);

    add(store, {maps});
    EXPECT_EQ(store.statusMessage(), u"Added Maps_2.0.APK"_s);
    ASSERT_EQ(store.apps().size(), 1);
    const MobileApp added = store.apps().first();
    EXPECT_EQ(added.name, u"Maps_2.0"_s); // no label: the file name without extension
    EXPECT_EQ(added.sourcePath, QFileInfo(maps).canonicalFilePath());
    EXPECT_EQ(added.platform, MobilePlatform::android);
    EXPECT_FALSE(added.bundleIdentifier);
    EXPECT_FALSE(added.isFavorite);
    EXPECT_FALSE(added.id.isNull());

    // Several files: each is handled in order, the last message stays.
    add(store, {labelled, files.filePath(u"in/readme"_s), otherMaps});
    EXPECT_EQ(store.statusMessage(), u"Added Maps_2.0.apk"_s); // a different file is a new entry
    EXPECT_EQ(names(store.apps()), (QStringList{u"Maps_2.0"_s, u"Real Label"_s, u"Maps_2.0"_s}));
}

// Every way of naming a library file is that file; and only readable APKs get in, each refusal
// saying why.
TEST_F(AppLibraryStoreTest, AddTakesOnlyReadableAPKsUnderOneNameEach) {
    const QString real = file(u"apps/a.apk"_s);
    file(u"apps/notes-text.apk"_s);
    QDir().mkpath(files.filePath(u"apps/folder.apk"_s));
    ASSERT_TRUE(QFile::link(real, files.filePath(u"link.apk"_s)));
    ASSERT_TRUE(QFile::link(files.filePath(u"apps/gone.apk"_s), files.filePath(u"dangling.apk"_s)));
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, files.filePath(u"device.apk"_s))); // never read: it has no end
    AppLibraryStore store(seams);
    add(store, {real});
    ASSERT_EQ(store.apps().size(), 1);

    struct Case {
        QString path;
        QString message;
    };
    const Case cases[] = {
        {files.filePath(u"in/notes.txt"_s), u"Skipped notes.txt: choose an APK"_s},
        // A reader that throws costs that one file; the adds after it are still taken up.
        {file(u"broken.apk"_s), u"broken.apk cannot be read: truncated archive"_s},
        {files.path() + u"/apps/./a.apk"_s, u"Already in library: a"_s},
        {files.path() + u"/apps//a.apk"_s, u"Already in library: a"_s},
        {files.path() + u"/apps/../apps/a.apk"_s, u"Already in library: a"_s},
        {files.filePath(u"link.apk"_s), u"Already in library: link"_s},
        {files.filePath(u"apps/missing.apk"_s), u"missing.apk does not exist"_s},
        {files.filePath(u"dangling.apk"_s), u"dangling.apk does not exist"_s},
        {files.filePath(u"apps/folder.apk"_s), u"folder.apk is not an Android app (APK) file"_s},
        {files.filePath(u"apps/notes-text.apk"_s), u"notes-text.apk is not an Android app (APK) file"_s},
        {files.filePath(u"device.apk"_s), u"device.apk is not an Android app (APK) file"_s},
        // The receiving process's folder means nothing to the sender: refused, not guessed.
        {u"apps/a.apk"_s, u"Skipped apps/a.apk: give the file's full path"_s},
        {u"./a.apk"_s, u"Skipped ./a.apk: give the file's full path"_s},
        {u"/b/Notes 2026-12-01.vantle"_s,
         u"Skipped Notes 2026-12-01.vantle: restoring backups is not available yet"_s},
    };
    for (const Case& c : cases) {
        add(store, {c.path});
        EXPECT_EQ(store.statusMessage(), c.message) << c.path.toStdString();
    }
    EXPECT_EQ(store.apps().size(), 1);
    EXPECT_EQ(store.apps().first().sourcePath, QFileInfo(real).canonicalFilePath());
}

// A reader that holds each file until the test lets it go (or five seconds pass).
struct GatedReader {
    QSemaphore gate;
    std::atomic<QThread*> thread = nullptr;
    AppLibraryStore::Seams seams() {
        return {{}, [this](const QString& path) {
                    thread = QThread::currentThread();
                    gate.tryAcquire(1, 5000);
                    return ApkReading{true, QFileInfo(path).baseName().toUpper()};
                }};
    }
};

// A big APK takes long to read: the event loop turns meanwhile, files given later wait their
// turn, and the entries come in the order given.
TEST_F(AppLibraryStoreTest, FilesAreReadOffTheMainThreadOneAfterAnother) {
    GatedReader reader;
    AppLibraryStore store(reader.seams());
    store.addFiles(urls({file(u"a.apk"_s)}));
    store.addFiles(urls({file(u"b.apk"_s), file(u"c.apk"_s)}));
    EXPECT_TRUE(store.isAddingFiles());
    bool turned = false;
    QTimer::singleShot(0, &store, [&] { turned = true; });
    EXPECT_TRUE(waitUntil([&] { return turned; }, 2000)) << "the event loop turns while a file is read";
    EXPECT_TRUE(store.apps().isEmpty());

    QSignalSpy done(&store, &AppLibraryStore::filesAdded);
    reader.gate.release(3);
    ASSERT_TRUE(waitUntil([&] { return !store.isAddingFiles(); }));
    EXPECT_EQ(names(store.apps()), (QStringList{u"A"_s, u"B"_s, u"C"_s}));
    EXPECT_NE(reader.thread.load(), QThread::currentThread());
    EXPECT_EQ(done.count(), 1);

    // A store closed while a file is read ignores the result.
    auto closing = std::make_unique<AppLibraryStore>(reader.seams());
    reader.thread = nullptr;
    closing->addFiles(urls({file(u"d.apk"_s)}));
    ASSERT_TRUE(waitUntil([&] { return reader.thread.load() != nullptr; }));
    closing.reset();
    reader.gate.release();
    QThreadPool::globalInstance()->waitForDone();
    waitUntil([] { return false; }, 100); // the finished read is delivered to nobody
    settings.reopen();
    EXPECT_FALSE(names(AppLibraryStore(seams).apps()).contains(u"D"_s));
}

// Without the restore feature backups are skipped (AddTakesOnlyReadableAPKsUnderOneNameEach).
TEST_F(AppLibraryStoreTest, BackupFilesGoToTheRestoreFeature) {
    QStringList restored;
    AppLibraryStore withRestore({[&](const QString& path) { restored.append(path); }, {}});
    add(withRestore, {u"/b/Notes 2026-12-01.VANTLE"_s});
    EXPECT_EQ(withRestore.statusMessage(), u"Restoring Notes 2026-12-01…"_s);
    EXPECT_EQ(restored, QStringList{u"/b/Notes 2026-12-01.VANTLE"_s});
    EXPECT_TRUE(withRestore.apps().isEmpty());

    add(withRestore, {u"b/Notes.vantle"_s}); // relative: never handed to the restore
    EXPECT_EQ(withRestore.statusMessage(), u"Skipped b/Notes.vantle: give the file's full path"_s);
    EXPECT_EQ(restored.size(), 1);
}

// Saves in quick succession are one write at the end of the quiet time; closing the store
// writes a save still waiting, so nothing is lost.
TEST_F(AppLibraryStoreTest, SavesInQuickSuccessionAreCoalescedAndClosingWritesThem) {
    auto store = storeWith({u"One"_s, u"Two"_s});
    const auto favouriteOnDisk = [&] {
        const QJsonValue stored = storedValues(settings.path).value(SettingsKeys::apps.key());
        return LibraryCoding::decode(stored[u"utf8"_s].toString().toUtf8()).apps.value(0).isFavorite;
    };
    // storeWith saved at once; the event loop has not run since, so the quiet time is not over.
    store->toggleFavorite(store->apps().first());
    EXPECT_FALSE(favouriteOnDisk()) << "saved at once, within the quiet time of the last save";
    EXPECT_TRUE(waitUntil(favouriteOnDisk, 5000)) << "saved at the end of the quiet time";

    store->toggleFavorite(store->apps().first()); // within the quiet time of that save
    EXPECT_TRUE(favouriteOnDisk());
    store.reset();
    EXPECT_FALSE(favouriteOnDisk()) << "closing the store writes the waiting save";
}

// A settings file that cannot be replaced (here a folder stands where it should be; a full disk
// or a read-only folder fails the same way): the panel says so, the library stays in memory,
// and the next change saves everything.
TEST_F(AppLibraryStoreTest, AFailedSaveIsShownKeptInMemoryAndRetriedAtTheNextChange) {
    const QString one = file(u"a/One.apk"_s), two = file(u"a/Two.apk"_s);
    AppLibraryStore store(seams);
    add(store, {one});
    EXPECT_EQ(store.statusMessage(), u"Added One.apk"_s);

    ASSERT_TRUE(QFile::remove(settings.path));
    ASSERT_TRUE(QDir().mkpath(settings.path + u"/in-the-way"_s));
    const MainLogSince log;
    add(store, {two});
    EXPECT_TRUE(waitUntil([&] {
        return store.statusMessage().startsWith(u"Could not save your library: "_s);
    })) << qPrintable(store.statusMessage());
    EXPECT_TRUE(store.statusMessage().contains(settings.path)) << qPrintable(store.statusMessage());
    EXPECT_EQ(names(store.apps()), (QStringList{u"One"_s, u"Two"_s}));
    EXPECT_EQ(log.count(u"library: save failed entries=2 reason="_s), 1)
        << qPrintable(log.lines().join(u'\n'));

    ASSERT_TRUE(QDir(settings.path).removeRecursively());
    store.toggleFavorite(store.apps().first());
    EXPECT_TRUE(waitUntil([&] { return store.statusMessage() == u"Your library is saved again"_s; }))
        << qPrintable(store.statusMessage());
    settings.reopen();
    AppLibraryStore reloaded(seams);
    EXPECT_EQ(names(reloaded.apps()), (QStringList{u"One"_s, u"Two"_s}));
    EXPECT_TRUE(reloaded.apps().first().isFavorite);
}

// What cannot be read at start is kept aside once, said once, and the rest loads.
TEST_F(AppLibraryStoreTest, UnreadableFilesLibrariesAndEntriesAreKeptAsideOnce) {
    {
        QFile broken(settings.path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("{ not json");
        broken.close();
        settings.reopen();
        AppLibraryStore afresh(seams);
        EXPECT_TRUE(afresh.statusMessage().startsWith(
            u"The settings file could not be read, so Vantle started afresh; it was kept as "_s +
            settings.path + u".unreadable-"_s))
            << qPrintable(afresh.statusMessage());
    }

    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(u"App %1"_s.arg(i));
    const QList<MobileApp> apps = appsNamed(twenty);
    QJsonArray entries = QJsonDocument::fromJson(LibraryCoding::encode(apps)).array();
    QJsonObject ios = entries[3].toObject(), noId = entries[7].toObject();
    ios[u"platform"_s] = u"iOS"_s;
    noId.remove(u"id"_s);
    entries[3] = ios;
    entries[7] = noId;
    const QByteArray notAList = R"({"not":"a list"})";
    const struct {
        QByteArray stored;
        qsizetype loaded;
        QString message;
        QJsonDocument kept;
    } cases[] = {
        {QJsonDocument(entries).toJson(QJsonDocument::Compact), 18,
         u"2 of 20 library entries could not be read; they were kept in the settings as "_s,
         QJsonDocument(QJsonArray{ios, noId})},
        {notAList, 0, u"Your library could not be read; it was kept in the settings as "_s,
         QJsonDocument::fromJson(notAList)},
    };
    for (const auto& c : cases) {
        ScopedSettings fresh;
        VantleSettings::set(SettingsKeys::apps, c.stored);
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE(c.message.toStdString() + std::to_string(start));
            fresh.reopen();
            AppLibraryStore store(seams);
            EXPECT_EQ(store.apps().size(), c.loaded);
            EXPECT_FALSE(store.app(apps[3].id));
            const QStringList kept = keptAsideKeys(fresh.path);
            ASSERT_EQ(kept.size(), 1) << "kept once, not again at every start";
            EXPECT_EQ(store.statusMessage(), start == 0 ? c.message + kept.first() : u"Ready"_s);
            EXPECT_EQ(QJsonDocument::fromJson(VantleSettings::readData(kept.first()).value()), c.kept);
        }
    }
}

TEST_F(AppLibraryStoreTest, OrderedAndFilteredApps) {
    auto store = storeWith({u"*b"_s, u"c"_s, u"*A"_s, u"B2"_s});
    EXPECT_EQ(names(store->orderedApps()), (QStringList{u"A"_s, u"b"_s, u"B2"_s, u"c"_s}));

    // Display names decide, and equal names keep library order.
    auto versions = storeWith({u"Zed"_s, u"Notes-v9"_s, u"alpha"_s, u"Notes_1.0"_s, u"notes"_s});
    EXPECT_EQ(names(versions->orderedApps()),
              (QStringList{u"alpha"_s, u"Notes-v9"_s, u"Notes_1.0"_s, u"notes"_s, u"Zed"_s}));

    // Filtering hides shot names and matches the search as typed.
    store = storeWith({u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s});
    EXPECT_EQ(store->filteredApps().size(), 4);

    store->setSearch(u"a"_s);
    EXPECT_EQ(names(store->filteredApps()),
              (QStringList{u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}));
    store->setSearch(u"CAL"_s);
    EXPECT_EQ(names(store->filteredApps()), QStringList{u"Calendar"_s});
    store->setSearch(u" "_s); // a blank is not trimmed away
    EXPECT_EQ(names(store->filteredApps()), (QStringList{u"Chat Beta"_s, u"Photo Album"_s}));

    store->setSearch(u"chat"_s);
    store->setHiddenForShots({u"beta"_s});
    EXPECT_TRUE(store->filteredApps().isEmpty());
    store->setSearch(QString());
    EXPECT_EQ(names(store->filteredApps()), (QStringList{u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}));
}

TEST_F(AppLibraryStoreTest, EditsFindEntriesById) {
    auto store = storeWith({u"One"_s, u"Two"_s, u"Three"_s});
    const MobileApp two = store->apps()[1];
    MobileApp stranger = two;
    stranger.id = QUuid::createUuid();

    store->toggleFavorite(stranger);
    store->replaceSource(stranger.id, QUrl::fromLocalFile(u"/x.apk"_s), u"p"_s);
    EXPECT_FALSE(store->apps()[1].isFavorite);
    EXPECT_EQ(store->apps()[1].sourcePath, two.sourcePath);

    store->replaceSource(two.id, QUrl::fromLocalFile(u"/updates/two-2.apk"_s), u"org.two"_s);
    store->toggleFavorite(two); // a stale copy still finds the entry by id
    store.reset();              // as at quitting: what is still to be saved is written
    settings.reopen();
    AppLibraryStore reloaded(seams);
    ASSERT_EQ(reloaded.apps().size(), 3);
    EXPECT_EQ(reloaded.apps()[1].sourcePath, u"/updates/two-2.apk"_s);
    EXPECT_EQ(reloaded.apps()[1].bundleIdentifier, u"org.two"_s);
    EXPECT_TRUE(reloaded.apps()[1].isFavorite);

    reloaded.remove(two);
    EXPECT_EQ(reloaded.statusMessage(), u"Removed Two"_s);
    EXPECT_EQ(names(reloaded.apps()), (QStringList{u"One"_s, u"Three"_s}));
}

TEST_F(AppLibraryStoreTest, RefreshAndroidNamesRunsOnceAndSkipsEntriesRemovedMeanwhile) {
    auto store = storeWith({u"plain"_s});
    store->refreshAndroidNames();
    ASSERT_TRUE(waitUntil([] { return VantleSettings::get(SettingsKeys::labelsRefreshed); }))
        << "done even when no label can be read";
    VantleSettings::set(SettingsKeys::labelsRefreshed, false);

    store = storeWith({u"labelled"_s, u"plain"_s, u"gone"_s});
    // "gone" is relabelled too, but removed before the results arrive.
    store->setApps([&] {
        auto apps = store->apps();
        apps[2].sourcePath = u"/apks/also-labelled.apk"_s;
        return apps;
    }());
    QSignalSpy changed(store.get(), &AppLibraryStore::appsChanged);
    store->refreshAndroidNames();
    store->remove(store->apps()[2]);
    ASSERT_TRUE(waitUntil([] { return VantleSettings::get(SettingsKeys::labelsRefreshed); }));
    EXPECT_EQ(names(store->apps()), (QStringList{u"Real Label"_s, u"plain"_s}));

    // Never again, even with new entries.
    add(*store, {file(u"z/labelled.apk"_s)});
    ASSERT_GT(reads.load(), 0);
    reads = 0;
    store->refreshAndroidNames();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(reads.load(), 0);
}

} // namespace
