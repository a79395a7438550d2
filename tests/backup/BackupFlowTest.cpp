// The library's backup and restore operations against the simulated Android: what the status line
// says at each step, which window closes, what the user is notified of and shown.
#include "datacare/BackupFlow.h"

#include "BackupFixtures.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "core/WaitFor.h"
#include "datacare/AppBackup.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");
const QString notes = u"org.vantle.sim.notes"_s;

class BackupFlowTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    QStringList statuses, events;
    std::unique_ptr<AppLibraryStore> store;
    std::unique_ptr<BackupFlow> flow;
    MobileApp app{QUuid::createUuid(), u"Notes"_s, MobilePlatform::android, notesApk, notes, {}, false};

    void SetUp() override {
        AppLibraryStore::Seams storeSeams;
        storeSeams.restoreBackup = [this](const QString& path) { flow->restoreBackup(path); };
        store = std::make_unique<AppLibraryStore>(storeSeams);
        QObject::connect(store.get(), &AppLibraryStore::statusMessageChanged, store.get(),
                         [this] { statuses.append(store->statusMessage()); });
        BackupFlow::Seams seams;
        seams.closeWindow = [this](const QUuid& id, const QString& reason) {
            events.append(u"close "_s + (id == app.id ? u"notes "_s : u"other "_s) + reason);
        };
        seams.syncInstalledApps = [this] { events.append(u"sync"_s); };
        seams.notify = [this](const QString& title, const QString& subtitle, const QString& body,
                              const QString& file) {
            events.append(u"notify "_s + title + u'|' + subtitle + u'|' + body + u'|' +
                          (file.isEmpty() ? QString() : QFileInfo(file).suffix()));
        };
        seams.reveal = [this](const QString& path) {
            events.append(u"reveal "_s + QFileInfo(path).suffix());
        };
        flow = std::make_unique<BackupFlow>(*store, seams);
        store->setApps({app});
    }
    void waitForFlow() {
        ASSERT_TRUE(waitUntil([this] { return flow->running() == 0; }, 120'000));
    }
};

TEST_F(BackupFlowTest, BackupAndRestoreTellTheUserEachStep) {
    MobileApp unknown = app;
    unknown.id = QUuid::createUuid();
    unknown.bundleIdentifier.reset();
    unknown.sourcePath = u"/nowhere/never-installed.apk"_s;
    flow->backup(unknown);
    EXPECT_EQ(statuses.last(), u"Open Notes once first"_s);
    EXPECT_EQ(flow->running(), 0);

    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    const QString installed = AndroidRuntimeCLI::runADB({u"install"_s, notesApk}).value_or(u"(adb failed)"_s);
    ASSERT_TRUE(installed.contains(u"Success"_s)) << qPrintable(installed);
    statuses.clear();
    flow->backup(app);
    waitForFlow();
    EXPECT_EQ(statuses, (QStringList{u"Backing up Notes…"_s, u"Backed up Notes"_s}));
    EXPECT_EQ(events, (QStringList{u"close notes backup"_s,
                                   u"notify Backup saved|Notes|Documents › Vantle Backups|vantle"_s,
                                   u"reveal vantle"_s}));
    const QStringList saved = QDir(AppBackup::folder()).entryList({u"*.vantle"_s}, QDir::Files);
    ASSERT_EQ(saved.size(), 1);

    // A dropped backup file restores through the library.
    statuses.clear();
    events.clear();
    const QString file = AppBackup::folder() + u'/' + saved.first();
    store->addFiles({QUrl::fromLocalFile(file)});
    waitForFlow();
    EXPECT_EQ(statuses, (QStringList{u"Restoring "_s + QFileInfo(file).completeBaseName() + u"…"_s,
                                     u"Restoring "_s + saved.first() + u"…"_s, u"Restored "_s + notes}));
    EXPECT_EQ(events, (QStringList{u"close notes restore"_s, u"sync"_s,
                                   u"notify App restored|"_s + notes + u"|Its data is back|"_s}));
}

TEST_F(BackupFlowTest, FailuresGoToTheStatusLineAndTheLog) {
    const MainLogSince since;
    QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath(u"letter.vantle"_s), "Dear Vantle"));
    flow->restoreBackup(folder.filePath(u"letter.vantle"_s));
    waitForFlow();
    EXPECT_EQ(statuses.last(), u"This is not a Vantle backup"_s);
    EXPECT_EQ(since.count(u"restore failed: This is not a Vantle backup"_s), 1);
    EXPECT_FALSE(events.contains(u"sync"_s));

    // An Android version that is not installed cannot start.
    VantleSettings::set(SettingsKeys::androidAPI, qint64(30));
    flow->backup(app);
    waitForFlow();
    EXPECT_EQ(statuses.last(), u"Android could not start"_s);
}

} // namespace
