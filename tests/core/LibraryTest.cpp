// The library: its stored form, and the store that adds, edits, orders, saves and loads it.
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
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

MobileApp sample() {
    MobileApp app;
    app.id = QUuid::fromString(u"5e0b6c2e-1f3a-4b7c-9d8e-0a1b2c3d4e5f"_s);
    app.name = u"Notes-v7.2.1"_s;
    app.sourcePath = u"/home/u/Notes.apk"_s;
    app.addedAt = LibraryCoding::fromReferenceSeconds(786543210.25);
    return app;
}

TEST(MobileApp, DisplayNameDropsATrailingVersionSuffix) {
    const std::pair<QString, QString> cases[] = {
        {u"Notes-v7.2.1"_s, u"Notes"_s}, {u"Maps_2.0"_s, u"Maps"_s},
        {u"2048"_s, u"2048"_s},          {u"v2"_s, u"v2"_s},
        {u"Chat 3"_s, u"Chat"_s},        {u"-12"_s, u"-12"_s}, // nothing left
        {u"App-V2"_s, u"App-V2"_s},                            // no case folding: "V" is not "v"
        {u"Tool v3 beta"_s, u"Tool"_s},  {u"A-1-2"_s, u"A"_s}, // the first match wins
        {u"Radio 5x"_s, u"Radio 5x"_s}, // digits must end the name or be followed by a separator
    };
    for (const auto& [name, shown] : cases) {
        MobileApp app;
        app.name = name;
        EXPECT_EQ(app.displayName(), shown) << name.toStdString();
    }
}

TEST(LibraryCoding, WritesTheStoredFormAndReadsEveryFieldBack) {
    MobileApp app = sample();
    const QJsonObject object =
        QJsonDocument::fromJson(LibraryCoding::encode({app})).array().first().toObject();
    EXPECT_EQ(object, QJsonDocument::fromJson(
                          R"({"id": "5E0B6C2E-1F3A-4B7C-9D8E-0A1B2C3D4E5F", "name": "Notes-v7.2.1",
        "platform": "Android", "sourcePath": "/home/u/Notes.apk", "addedAt": 786543210.25, "isFavorite": false})")
                          .object());
    EXPECT_EQ(LibraryCoding::fromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_DOUBLE_EQ(LibraryCoding::referenceSeconds(QDateTime(QDate(2000, 12, 31), QTime(23, 59), Qt::UTC)),
                     -60);

    app.bundleIdentifier = u"org.example.notes"_s;
    app.platform = MobilePlatform::ios;
    app.id = QUuid::createUuid();
    app.isFavorite = true;
    app.name = u"Ünïcode \"quoted\" \\ name"_s;
    const QJsonObject ios = QJsonDocument::fromJson(LibraryCoding::encode({app})).array().first().toObject();
    EXPECT_EQ(ios.value(u"bundleIdentifier"_s).toString(), u"org.example.notes"_s);
    EXPECT_EQ(ios.value(u"platform"_s).toString(), u"iOS / iPadOS"_s);
    const QList<MobileApp> apps{sample(), app};
    const LibraryCoding::Decoded decoded = LibraryCoding::decode(LibraryCoding::encode(apps));
    EXPECT_TRUE(decoded.isArray);
    EXPECT_EQ(decoded.apps, apps);
    EXPECT_TRUE(decoded.unreadable.isEmpty());
}

// A malformed entry costs only itself and comes back byte for byte; bytes that are no array are
// no library.
TEST(LibraryCoding, AMalformedEntryCostsOnlyItselfAndIsReturnedAsStored) {
    const QJsonObject object =
        QJsonDocument::fromJson(LibraryCoding::encode({sample()})).array().first().toObject();
    // The good entry, then the changed one, then the good entry again.
    const auto withChange = [&](auto change) {
        QJsonObject changed = object;
        change(changed);
        return LibraryCoding::decode(QJsonDocument(QJsonArray{object, changed, object}).toJson());
    };
    const auto expectOnlyTheChangedOneRefused = [](const LibraryCoding::Decoded& decoded, const char* what) {
        EXPECT_TRUE(decoded.isArray) << what;
        EXPECT_EQ(decoded.apps, (QList<MobileApp>{sample(), sample()})) << what;
        ASSERT_EQ(decoded.unreadable.size(), 1) << what;
        EXPECT_TRUE(QJsonDocument::fromJson(decoded.unreadable.first()).isObject()) << what;
    };
    for (const char* key : {"id", "name", "platform", "sourcePath", "addedAt", "isFavorite"})
        expectOnlyTheChangedOneRefused(withChange([&](QJsonObject& o) { o.remove(QLatin1StringView(key)); }),
                                       key);
    const std::pair<const char*, QJsonValue> wrongValues[] = {
        {"id", u"not-a-uuid"_s}, {"platform", u"iOS"_s}, {"addedAt", u"yesterday"_s},
        {"addedAt", 1e300},      {"isFavorite", 1},      {"bundleIdentifier", 5},
    };
    for (const auto& [key, value] : wrongValues)
        expectOnlyTheChangedOneRefused(withChange([&](QJsonObject& o) { o[QLatin1StringView(key)] = value; }),
                                       key);
    // Accepted variations: lower-case ids, a null package, extra keys.
    const auto varied = withChange([](QJsonObject& o) {
        o[u"id"_s] = u"00000000-0000-0000-0000-000000000000"_s;
        o[u"bundleIdentifier"_s] = QJsonValue::Null;
        o[u"extra"_s] = true;
    });
    ASSERT_EQ(varied.apps.size(), 3);
    EXPECT_FALSE(varied.apps[1].bundleIdentifier);

    // Strings holding brackets, commas and escaped quotes, deep nesting, scalars, odd spacing.
    const QByteArray good = LibraryCoding::encode({sample()}).mid(1).chopped(1);
    const QList<QByteArray> bad{
        R"({"name":"a],[b\"}{,","weird":  [1, {"x":"]"}]})", "1",    R"("text")", "null",
        QByteArray(5000, '[') + QByteArray(5000, ']'),       R"({})"};
    const LibraryCoding::Decoded decoded =
        LibraryCoding::decode("  [\n " + good + " ,\t" + bad.join(" ,\t") + ",\n" + good + " ]\n");
    EXPECT_TRUE(decoded.isArray);
    EXPECT_EQ(decoded.apps.size(), 2);
    EXPECT_EQ(decoded.unreadable, bad);
    for (const QByteArray bytes : {"{}", "[{]", "", "[1] [2]"}) {
        EXPECT_FALSE(LibraryCoding::decode(bytes).isArray) << bytes.constData();
        EXPECT_TRUE(LibraryCoding::decode(bytes).apps.isEmpty());
    }
    EXPECT_TRUE(LibraryCoding::decode("[]").isArray);
}

QStringList names(const QList<MobileApp>& apps) {
    QStringList list;
    for (const MobileApp& app : apps)
        list.append(app.name);
    return list;
}

// The settings file's raw values, as the next start would find them.
QJsonObject storedValues(const QString& path) {
    return QJsonDocument::fromJson(readFile(path)).object().value(u"values"_s).toObject();
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
                                     return ApkReading{!path.contains(u"text"_s),
                                                       path.endsWith(u"labelled.apk"_s)
                                                           ? std::optional(u"Real Label"_s)
                                                           : std::nullopt};
                                 }};

    // A file below the test folder (folders made as needed); its absolute path.
    QString file(const QString& relative) {
        EXPECT_TRUE(writeFile(files.filePath(relative), "PK\x03\x04"));
        return files.filePath(relative);
    }
    // Adds and waits until every file was taken up.
    static void add(AppLibraryStore& store, const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        store.addFiles(urls);
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

// Each file is reported in order and the last message stays; every way of naming a library file
// is that file; only readable APKs get in, each refusal saying why.
TEST_F(AppLibraryStoreTest, AddTakesOnlyReadableAPKsUnderOneNameEachAndSaysWhy) {
    const QString maps = file(u"in/Maps_2.0.APK"_s), real = file(u"apps/a.apk"_s);
    file(u"apps/notes-text.apk"_s);
    QDir().mkpath(files.filePath(u"apps/folder.apk"_s));
    ASSERT_TRUE(QFile::link(real, files.filePath(u"link.apk"_s)));
    ASSERT_TRUE(QFile::link(files.filePath(u"apps/gone.apk"_s), files.filePath(u"dangling.apk"_s)));
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, files.filePath(u"device.apk"_s))); // never read: it has no end
    AppLibraryStore store(seams);
    EXPECT_EQ(store.statusMessage(), u"Ready"_s);
    add(store, {maps});
    EXPECT_EQ(store.statusMessage(), u"Added Maps_2.0.APK"_s);
    ASSERT_EQ(store.apps().size(), 1);
    const MobileApp added = store.apps().first(); // no label: named for the file without its extension
    EXPECT_FALSE(added.id.isNull());
    EXPECT_EQ(added, (MobileApp{added.id, u"Maps_2.0"_s, MobilePlatform::android,
                                QFileInfo(maps).canonicalFilePath(), std::nullopt, added.addedAt, false}));
    // A file of the same name in another case is another file, and a new entry.
    add(store,
        {file(u"other/labelled.apk"_s), files.filePath(u"in/readme"_s), file(u"in/Maps_2.0.apk"_s), real});
    EXPECT_EQ(store.statusMessage(), u"Added a.apk"_s);
    EXPECT_EQ(names(store.apps()), (QStringList{u"Maps_2.0"_s, u"Real Label"_s, u"Maps_2.0"_s, u"a"_s}));

    const std::pair<QString, QString> cases[] = {
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
    for (const auto& [path, message] : cases) {
        add(store, {path});
        EXPECT_EQ(store.statusMessage(), message) << path.toStdString();
    }
    EXPECT_EQ(store.apps().size(), 4);
    EXPECT_EQ(store.apps().last().sourcePath, QFileInfo(real).canonicalFilePath());

    // With the restore feature a backup goes to it, never a relative one.
    QStringList restored;
    AppLibraryStore withRestore({[&](const QString& path) { restored.append(path); }, {}});
    const qsizetype entries = withRestore.apps().size();
    add(withRestore, {u"/b/Notes 2026-12-01.VANTLE"_s});
    EXPECT_EQ(withRestore.statusMessage(), u"Restoring Notes 2026-12-01…"_s);
    add(withRestore, {u"b/Notes.vantle"_s});
    EXPECT_EQ(withRestore.statusMessage(), u"Skipped b/Notes.vantle: give the file's full path"_s);
    EXPECT_EQ(restored, QStringList{u"/b/Notes 2026-12-01.VANTLE"_s});
    EXPECT_EQ(withRestore.apps().size(), entries) << "a backup is no library entry";
}

// A big APK takes long to read: the event loop turns meanwhile, files given later wait their
// turn, the entries come in the order given, and a store closed meanwhile ignores the result.
TEST_F(AppLibraryStoreTest, FilesAreReadOffTheMainThreadOneAfterAnother) {
    QSemaphore gate; // each read waits for the test to let it go (or five seconds)
    std::atomic<QThread*> thread = nullptr;
    const AppLibraryStore::Seams gated{{}, [&](const QString& path) {
                                           thread = QThread::currentThread();
                                           gate.tryAcquire(1, 5000);
                                           return ApkReading{true, QFileInfo(path).baseName().toUpper()};
                                       }};
    AppLibraryStore store(gated);
    store.addFiles({QUrl::fromLocalFile(file(u"a.apk"_s))});
    store.addFiles({QUrl::fromLocalFile(file(u"b.apk"_s)), QUrl::fromLocalFile(file(u"c.apk"_s))});
    EXPECT_TRUE(store.isAddingFiles());
    bool turned = false;
    QTimer::singleShot(0, &store, [&] { turned = true; });
    EXPECT_TRUE(waitUntil([&] { return turned; }, 2000)) << "the event loop turns while a file is read";
    EXPECT_TRUE(store.apps().isEmpty());
    QSignalSpy done(&store, &AppLibraryStore::filesAdded);
    gate.release(3);
    ASSERT_TRUE(waitUntil([&] { return !store.isAddingFiles(); }));
    EXPECT_EQ(names(store.apps()), (QStringList{u"A"_s, u"B"_s, u"C"_s}));
    EXPECT_NE(thread.load(), QThread::currentThread());
    EXPECT_EQ(done.count(), 1);

    auto closing = std::make_unique<AppLibraryStore>(gated);
    thread = nullptr;
    closing->addFiles({QUrl::fromLocalFile(file(u"d.apk"_s))});
    ASSERT_TRUE(waitUntil([&] { return thread.load() != nullptr; }));
    closing.reset();
    gate.release();
    QThreadPool::globalInstance()->waitForDone();
    waitUntil([] { return false; }, 100); // the finished read is delivered to nobody
    settings.reopen();
    EXPECT_FALSE(names(AppLibraryStore(seams).apps()).contains(u"D"_s));
}

// Saves in quick succession are one write at the end of the quiet time, and closing the store
// writes a save still waiting. A settings file that cannot be replaced (a folder in its place; a
// full disk fails alike): the panel says so, the library stays in memory, the next change saves it.
TEST_F(AppLibraryStoreTest, SavesAreCoalescedWrittenAtCloseAndAFailedOneIsShownAndRetried) {
    auto store = storeWith({u"One"_s, u"Two"_s});
    const auto favouriteOnDisk = [&] {
        const QJsonValue stored = storedValues(settings.path).value(SettingsKeys::apps.key());
        return LibraryCoding::decode(stored[u"utf8"_s].toString().toUtf8()).apps.value(0).isFavorite;
    };
    // storeWith saved at once; the event loop has not run since, so the quiet time is not over.
    store->toggleFavorite(store->apps().first());
    EXPECT_FALSE(favouriteOnDisk()) << "saved at once, within the quiet time of the last save";
    EXPECT_TRUE(waitUntil(favouriteOnDisk, 5000)) << "saved at the end of the quiet time";

    ASSERT_TRUE(QFile::remove(settings.path));
    ASSERT_TRUE(QDir().mkpath(settings.path + u"/in-the-way"_s));
    const MainLogSince log;
    store->toggleFavorite(store->apps().first());
    EXPECT_TRUE(waitUntil([&] {
        return store->statusMessage().startsWith(u"Could not save your library: "_s);
    })) << qPrintable(store->statusMessage());
    EXPECT_TRUE(store->statusMessage().contains(settings.path)) << qPrintable(store->statusMessage());
    EXPECT_FALSE(store->apps().first().isFavorite);
    EXPECT_EQ(log.count(u"library: save failed entries=2 reason="_s), 1)
        << qPrintable(log.lines().join(u'\n'));
    ASSERT_TRUE(QDir(settings.path).removeRecursively());
    store->toggleFavorite(store->apps().first());
    EXPECT_TRUE(waitUntil([&] { return store->statusMessage() == u"Your library is saved again"_s; }))
        << qPrintable(store->statusMessage());
    EXPECT_TRUE(favouriteOnDisk());

    store->toggleFavorite(store->apps().first()); // within the quiet time of that save
    EXPECT_TRUE(favouriteOnDisk());
    store.reset();
    EXPECT_FALSE(favouriteOnDisk()) << "closing the store writes the waiting save";
    settings.reopen();
    EXPECT_EQ(names(AppLibraryStore(seams).apps()), (QStringList{u"One"_s, u"Two"_s}));
}

// What cannot be read at start is kept aside once, said once, and the rest loads.
TEST_F(AppLibraryStoreTest, UnreadableFilesLibrariesAndEntriesAreKeptAsideOnce) {
    ASSERT_TRUE(writeFile(settings.path, "{ not json"));
    settings.reopen();
    EXPECT_TRUE(AppLibraryStore(seams).statusMessage().startsWith(
        u"The settings file could not be read, so Vantle started afresh; it was kept as "_s + settings.path +
        u".unreadable-"_s));

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
            QStringList kept = storedValues(fresh.path).keys();
            kept.removeIf(
                [](const QString& key) { return !key.startsWith(SettingsKeys::unreadableApps.prefix); });
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
    store = storeWith({u"Zed"_s, u"Notes-v9"_s, u"alpha"_s, u"Notes_1.0"_s, u"notes"_s});
    EXPECT_EQ(names(store->orderedApps()),
              (QStringList{u"alpha"_s, u"Notes-v9"_s, u"Notes_1.0"_s, u"notes"_s, u"Zed"_s}));

    // Filtering hides shot names and matches the search as typed.
    store = storeWith({u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s});
    const std::tuple<QString, QStringList, QStringList> cases[] = {
        {QString(), {}, {u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}},
        {u"a"_s, {}, {u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}},
        {u"CAL"_s, {}, {u"Calendar"_s}},
        {u" "_s, {}, {u"Chat Beta"_s, u"Photo Album"_s}}, // a blank is not trimmed away
        {u"chat"_s, {u"beta"_s}, {}},
        {QString(), {u"beta"_s}, {u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}},
    };
    for (const auto& [search, hidden, shown] : cases) {
        store->setSearch(search);
        store->setHiddenForShots(hidden);
        EXPECT_EQ(names(store->filteredApps()), shown) << search.toStdString();
    }
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

    // The third is relabelled too, but removed before the results arrive.
    store = storeWith({u"labelled"_s, u"plain"_s, u"also-labelled"_s});
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
