// An app tile with an update: the "Update available" mark, "Update to …" in its menu in the menu's
// order, the ring while the update installs, and the mark kept when the install failed.
#include "StoreServer.h"
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "support/TestSupport.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/MenuPanel.h"
#include "ui/RecordingLauncherActions.h"
#include "updates/AppUpdates.h"

#include <QMenu>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QStringList actionTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions())
        if (!action->isSeparator()) texts.append(action->text());
    return texts;
}

TEST(UpdateTileTest, ATileShowsItsUpdateAndStartsIt) {
    QTemporaryDir home; // no Android here: the install fails when it asks for one
    ScopedEnvironment vantleHome("VANTLE_HOME", home.path());
    ScopedEnvironment sdk("VANTLE_SDK_REPOSITORY", u"http://127.0.0.1:9/"_s);
    ScopedSettings settings;
    StoreServers stores;
    AppLibraryStore store;
    RecordingLauncherActions actions;
    AppIconStore icons{[](const QUuid&, const QString&, MobilePlatform) { return std::nullopt; }};
    QList<QUuid> closed;
    AppUpdates updates{{[](const QStringList& packages) {
                            QHash<QString, qint64> codes;
                            for (const QString& package : packages)
                                codes.insert(package, 1);
                            return codes;
                        },
                        [&closed](const QUuid& id) { closed.append(id); },
                        {}}};
    MobileApp tally, other;
    for (auto [app, name] : {std::pair{&tally, u"Tally"_s}, std::pair{&other, u"Other"_s}}) {
        app->id = QUuid::createUuid();
        app->name = name;
        app->bundleIdentifier = u"org.vantle."_s + name.toLower();
    }
    store.setApps({tally, other});
    stores.offer(UpdateSource::izzy, u"org.vantle.tally"_s, 6, u"6.1"_s);

    MenuPanel::Environment environment;
    environment.runtimeComplete = [] { return true; };
    environment.icons = &icons;
    environment.updates = &updates;
    MenuPanel panel(store, actions, environment);
    const auto tile = [&panel](const QString& name) -> AppTile* {
        for (AppTile* t : panel.tiles())
            if (t->app().name == name) return t;
        return nullptr;
    };
    ASSERT_TRUE(tile(u"Tally"_s));
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), std::nullopt);

    updates.checkIfDue(store, AppUpdates::Trigger::forced);
    ASSERT_TRUE(waitUntil([&] { return !updates.isChecking(); }));
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), u"6.1"_s);
    EXPECT_EQ(tile(u"Tally"_s)->accessibleDescription(), u"Update available"_s);
    EXPECT_EQ(tile(u"Other"_s)->accessibleDescription(), QString());
    auto menu = tile(u"Tally"_s)->makeContextMenu();
    EXPECT_EQ(actionTexts(*menu),
              (QStringList{u"Add to favourites"_s, u"Update to 6.1"_s, AppTile::revealTitle(),
                           u"Remove from Vantle"_s, u"Uninstall from Android…"_s}));
    EXPECT_FALSE(actionTexts(*tile(u"Other"_s)->makeContextMenu()).join(u' ').contains(u"Update"_s));

    // Without an Android here the install may end before trigger() returns: the marks are read
    // as the updating set changes.
    QList<bool> ringShown;
    QStringList menuWhileUpdating;
    QObject::connect(&updates, &AppUpdates::updatingChanged, &panel, [&] {
        ringShown.append(tile(u"Tally"_s)->isUpdatingMarked());
        if (ringShown.size() == 1) menuWhileUpdating = actionTexts(*tile(u"Tally"_s)->makeContextMenu());
    });
    menu->actions().at(1)->trigger();
    EXPECT_EQ(closed, QList<QUuid>{tally.id});
    ASSERT_TRUE(waitUntil([&] { return updates.updating().isEmpty(); }, 20000));
    EXPECT_EQ(ringShown, (QList<bool>{true, false}));
    EXPECT_FALSE(menuWhileUpdating.join(u' ').contains(u"Update to"_s))
        << menuWhileUpdating.join(u'|').toStdString();
    EXPECT_FALSE(tile(u"Tally"_s)->isUpdatingMarked());
    EXPECT_TRUE(updates.lastMessage().startsWith(u"IzzyOnDroid: update failed: "_s))
        << updates.lastMessage().toStdString();
    EXPECT_EQ(store.statusMessage(), updates.lastMessage());
    EXPECT_EQ(tile(u"Tally"_s)->updateVersion(), u"6.1"_s); // still on offer
}

} // namespace
