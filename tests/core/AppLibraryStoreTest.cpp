#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<QUrl> urls(std::initializer_list<const char*> paths) {
    QList<QUrl> list;
    for (const char* path : paths) list.append(QUrl::fromLocalFile(QString::fromUtf8(path)));
    return list;
}

QStringList names(const QList<MobileApp>& apps) {
    QStringList list;
    for (const MobileApp& app : apps) list.append(app.name);
    return list;
}

class AppLibraryStoreTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    QStringList labelledPaths;
    AppLibraryStore::Seams seams{[this](const QString& path) -> std::optional<QString> {
                                     labelledPaths.append(path);
                                     if (path.endsWith(u"labelled.apk"_s)) return u"Real Label"_s;
                                     return std::nullopt;
                                 },
                                 {}};

    // A library of entries with these names (favourites marked with a leading '*').
    std::unique_ptr<AppLibraryStore> storeWith(const QStringList& entries) {
        auto store = std::make_unique<AppLibraryStore>(seams);
        QList<MobileApp> apps;
        for (QString name : entries) {
            MobileApp app;
            app.id = QUuid::createUuid();
            app.isFavorite = name.startsWith(u'*');
            app.name = app.isFavorite ? name.mid(1) : name;
            app.sourcePath = u"/apks/"_s + app.name + u".apk"_s;
            app.addedAt = QDateTime::currentDateTimeUtc();
            apps.append(app);
        }
        store->setApps(apps);
        return store;
    }
};

TEST_F(AppLibraryStoreTest, AddFilesReportsEachFileAndAddsOnlyNewAPKs) {
    AppLibraryStore store(seams);
    QSignalSpy status(&store, &AppLibraryStore::statusMessageChanged);
    EXPECT_EQ(store.statusMessage(), u"Ready"_s);

    store.addFiles(urls({"/in/Maps_2.0.APK"}));
    EXPECT_EQ(store.statusMessage(), u"Added Maps_2.0.APK"_s);
    ASSERT_EQ(store.apps().size(), 1);
    const MobileApp added = store.apps().first();
    EXPECT_EQ(added.name, u"Maps_2.0"_s); // no label: the file name without extension
    EXPECT_EQ(added.sourcePath, u"/in/Maps_2.0.APK"_s);
    EXPECT_EQ(added.platform, MobilePlatform::android);
    EXPECT_FALSE(added.bundleIdentifier);
    EXPECT_FALSE(added.isFavorite);
    EXPECT_FALSE(added.id.isNull());

    store.addFiles(urls({"/in/notes.txt"}));
    EXPECT_EQ(store.statusMessage(), u"Skipped notes.txt: choose an APK"_s);
    store.addFiles(urls({"/in/Maps_2.0.APK"}));
    EXPECT_EQ(store.statusMessage(), u"Already in library: Maps_2.0"_s);
    EXPECT_EQ(store.apps().size(), 1);

    // Several files: each is handled, the last message stays.
    store.addFiles(urls({"/other/labelled.apk", "/in/readme", "/in/Maps_2.0.apk"}));
    EXPECT_EQ(store.statusMessage(), u"Added Maps_2.0.apk"_s); // a different path is a new entry
    EXPECT_EQ(names(store.apps()), (QStringList{u"Maps_2.0"_s, u"Real Label"_s, u"Maps_2.0"_s}));
    EXPECT_GE(status.count(), 5);
}

TEST_F(AppLibraryStoreTest, BackupFilesNeedTheRestoreFeature) {
    AppLibraryStore store(seams);
    store.addFiles(urls({"/b/Notes 2026-12-01.vantle"}));
    EXPECT_EQ(store.statusMessage(), u"Skipped Notes 2026-12-01.vantle: restoring backups is not available yet"_s);

    QStringList restored;
    AppLibraryStore withRestore({{}, [&](const QString& path) { restored.append(path); }});
    withRestore.addFiles(urls({"/b/Notes 2026-12-01.VANTLE"}));
    EXPECT_EQ(withRestore.statusMessage(), u"Restoring Notes 2026-12-01…"_s);
    EXPECT_EQ(restored, QStringList{u"/b/Notes 2026-12-01.VANTLE"_s});
    EXPECT_TRUE(withRestore.apps().isEmpty());
}

TEST_F(AppLibraryStoreTest, TheLibrarySurvivesARestart) {
    {
        AppLibraryStore store(seams);
        store.addFiles(urls({"/a/One.apk", "/a/Two.apk"}));
        store.toggleFavorite(store.apps().last());
    }
    settings.reopen();
    AppLibraryStore store(seams);
    ASSERT_EQ(names(store.apps()), (QStringList{u"One"_s, u"Two"_s}));
    EXPECT_TRUE(store.apps().last().isFavorite);
}

TEST_F(AppLibraryStoreTest, AnUndecodableLibraryStartsEmptyButIsKept) {
    QByteArray stored = R"([{"id":"5E0B6C2E-1F3A-4B7C-9D8E-0A1B2C3D4E5F","name":"Mail","platform":"Android",)"
                        R"("sourcePath":"/a/Mail.apk","addedAt":1.5}])"; // lacks "isFavorite"
    VantleSettings::set(SettingsKeys::apps, stored);
    AppLibraryStore store(seams);
    EXPECT_TRUE(store.apps().isEmpty());
    store.addFiles(urls({"/a/New.apk"})); // saving must not lose the old bytes

    // Exactly one kept copy in the settings file, holding the user's bytes unchanged.
    QFile file(settings.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject values = QJsonDocument::fromJson(file.readAll()).object().value(u"values"_s).toObject();
    QStringList keptKeys;
    for (const QString& key : values.keys())
        if (key.startsWith(QString(SettingsKeys::unreadableApps.prefix))) keptKeys.append(key);
    ASSERT_EQ(keptKeys.size(), 1);
    settings.reopen();
    EXPECT_EQ(VantleSettings::readData(keptKeys.first()), stored);
    EXPECT_EQ(names(AppLibraryStore(seams).apps()), QStringList{u"New"_s});
}

TEST_F(AppLibraryStoreTest, OrderedAppsPutsFavouritesFirstThenSortsByDisplayName) {
    auto store = storeWith({u"*b"_s, u"c"_s, u"*A"_s, u"B2"_s});
    EXPECT_EQ(names(store->orderedApps()), (QStringList{u"A"_s, u"b"_s, u"B2"_s, u"c"_s}));

    // Display names decide, and equal names keep library order.
    auto versions = storeWith({u"Zed"_s, u"Notes-v9"_s, u"alpha"_s, u"Notes_1.0"_s, u"notes"_s});
    EXPECT_EQ(names(versions->orderedApps()),
              (QStringList{u"alpha"_s, u"Notes-v9"_s, u"Notes_1.0"_s, u"notes"_s, u"Zed"_s}));
}

TEST_F(AppLibraryStoreTest, FilteredAppsHidesShotNamesAndMatchesTheSearchAsTyped) {
    auto store = storeWith({u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s});
    EXPECT_EQ(store->filteredApps().size(), 4);

    store->setSearch(u"a"_s);
    EXPECT_EQ(names(store->filteredApps()), (QStringList{u"Chat Beta"_s, u"Maps"_s, u"Calendar"_s, u"Photo Album"_s}));
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
    auto store = storeWith({u"labelled"_s, u"plain"_s, u"gone"_s});
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
    labelledPaths.clear();
    store->addFiles(urls({"/z/labelled.apk"}));
    labelledPaths.clear();
    store->refreshAndroidNames();
    QCoreApplication::processEvents();
    EXPECT_TRUE(labelledPaths.isEmpty());
}

TEST_F(AppLibraryStoreTest, RefreshAndroidNamesMarksItselfDoneWhenNoLabelCanBeRead) {
    auto store = storeWith({u"plain"_s});
    store->refreshAndroidNames();
    ASSERT_TRUE(waitUntil([] { return VantleSettings::get(SettingsKeys::labelsRefreshed); }));
    EXPECT_EQ(names(store->apps()), QStringList{u"plain"_s});
}

} // namespace
