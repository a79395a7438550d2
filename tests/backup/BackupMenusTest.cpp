// The tile's "Back up app data…" in its place and the panel's "Restore from backup…" first, each
// reaching the application's backup actions.
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "support/TestSupport.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/LauncherActions.h"
#include "ui/MenuPanel.h"
#include "ui/RecordingLauncherActions.h"

#include <QMenu>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The menu's entries without separators, triggering the one named `trigger`.
QStringList texts(const QMenu& menu, const QString& trigger) {
    QStringList result;
    for (QAction* action : menu.actions())
        if (!action->isSeparator()) result.append(action->text());
    for (QAction* action : menu.actions())
        if (action->text() == trigger) action->trigger();
    return result;
}

TEST(BackupMenus, TileAndPanelMenusLeadToBackups) {
    ScopedSettings settings;
    QTemporaryDir files;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    actions.backups = true;
    AppIconStore icons{
        [](const QUuid&, const QString&, MobilePlatform) { return std::optional<QByteArray>(); }};
    store.setApps(
        {MobileApp{QUuid::createUuid(), u"Notes"_s, MobilePlatform::android, files.filePath(u"notes.apk"_s),
                   std::nullopt, QDateTime::currentDateTimeUtc(), false}});
    MenuPanel::Environment environment;
    environment.runtimeComplete = [] { return true; };
    environment.chooseFiles = [](QWidget*) { return QList<QUrl>(); };
    environment.localHour = [] { return 9; };
    environment.icons = &icons;
    MenuPanel panel(store, actions, environment);
    store.setAndroidState(AndroidState::sleeping);

    QMenu* menu = panel.panelMenu();
    Q_EMIT menu->aboutToShow();
    EXPECT_EQ(texts(*menu, u"Restore from backup…"_s),
              (QStringList{u"Restore from backup…"_s, u"Close all apps"_s, u"Quit Vantle"_s}));

    ASSERT_FALSE(panel.sections().isEmpty());
    ASSERT_FALSE(panel.sections().first()->tiles().isEmpty());
    const auto tileMenu = panel.sections().first()->tiles().first()->makeContextMenu();
    EXPECT_EQ(texts(*tileMenu, u"Back up app data…"_s),
              (QStringList{u"Add to favourites"_s, u"Back up app data…"_s, u"Show APK in Files"_s,
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    EXPECT_EQ(actions.calls, (QStringList{u"chooseBackupToRestore"_s, u"backup Notes"_s}));
}

} // namespace
