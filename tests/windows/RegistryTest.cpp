// The window registry without windows: idle shutdown, unread marks, the now-playing record, size presets.
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "support/TestSupport.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/VantleLayout.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    ScopedSettings settings;
    AndroidWindowRegistry& registry = AndroidWindowRegistry::shared();
    MainLogSince since;
    QStringList events;
    QObject observer;

    void SetUp() override {
        for (QLatin1StringView name :
             {VantleEvent::unreadChanged, VantleEvent::runtimeChanged, VantleEvent::mediaChanged})
            EventCenter::shared().observe(name, &observer, [this, name](const QVariantMap& info) {
                events.append(QString(name) + u' ' + info.value(u"state"_s).toString());
            });
    }
    void TearDown() override { registry.cancelIdleShutdown(); }
};

} // namespace

TEST_F(RegistryTest, IdleShutdownIsAnnouncedCancelledDisabledByZeroAndStopsAndroidWhenDue) {
    registry.scheduleIdleShutdown();
    EXPECT_TRUE(registry.idleShutdownPending());
    registry.cancelIdleShutdown();
    EXPECT_FALSE(registry.idleShutdownPending());
    registry.cancelIdleShutdown(); // nothing pending: no second line
    EXPECT_EQ(since.lines(), (QStringList{u"idle: Android stops in 5.0 min unless an app is opened"_s,
                                          u"idle: shutdown cancelled (app opened)"_s}));

    VantleSettings::set(SettingsKeys::idleShutdownMinutes, 0.0);
    const qsizetype before = since.lines().size();
    registry.scheduleIdleShutdown();
    EXPECT_FALSE(registry.idleShutdownPending());
    EXPECT_EQ(since.lines().size(), before);

    VantleSettings::set(SettingsKeys::idleShutdownMinutes, u"soon"_s); // another type: the default
    EXPECT_EQ(AndroidWindowRegistry::idleShutdownMinutes(), 5.0);

    // An expired timer stops Android and says it sleeps.
    VantleSettings::set(SettingsKeys::idleShutdownMinutes, 0.001); // 60 ms
    registry.scheduleIdleShutdown();
    ASSERT_TRUE(
        waitUntil([&] { return since.lines().contains(u"stopping Android runtime (idle 0.001 min)"_s); }));
    EXPECT_TRUE(since.lines().contains(u"idle: Android stops in 0.001 min unless an app is opened"_s));
    EXPECT_TRUE(events.contains(u"Vantle.runtimeChanged sleeping"_s));
    EXPECT_FALSE(registry.idleShutdownPending());
}

TEST_F(RegistryTest, UnreadMarksAndTheNowPlayingRecordAnnounceOnlyChangesAndAPresetSetsThePanelSize) {
    const QUuid app = QUuid::createUuid();
    registry.setUnread(app, true);
    registry.setUnread(app, true);
    registry.setUnread(app, false);
    registry.setUnread(app, false);
    EXPECT_EQ(events, (QStringList{u"Vantle.unreadChanged "_s, u"Vantle.unreadChanged "_s}));

    registry.applySize(WindowSizePreset::all()[7]);
    EXPECT_EQ(VantleLayout::size(), QSizeF(660, 456));
    EXPECT_EQ(since.lines().last(), u"window size preset Landscape — 660 × 420"_s);

    // The last window to report media takes the record; one reporting none clears it only if it holds it.
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid();
    const AndroidMedia song{u"Song"_s, u"Singer"_s, true}, paused{u"Song"_s, u"Singer"_s, false},
        other{u"Other"_s, {}, true};
    const struct {
        const char* name;
        std::optional<AndroidMedia> media;
        QUuid from;
        std::optional<AndroidWindowRegistry::NowPlaying> record;
        bool announced;
    } steps[] = {
        {"a clears nothing", std::nullopt, a, std::nullopt, false},
        {"a plays", song, a, {{a, song}}, true},
        {"a again", song, a, {{a, song}}, false},
        {"a pauses", paused, a, {{a, paused}}, true},
        {"b takes over", other, b, {{b, other}}, true},
        {"a stops", std::nullopt, a, {{b, other}}, false},
        {"a plays again", song, a, {{a, song}}, true},
        {"a stops", std::nullopt, a, std::nullopt, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        events.clear();
        registry.setNowPlaying(step.media, step.from);
        EXPECT_EQ(registry.nowPlaying(), step.record);
        EXPECT_EQ(events, step.announced ? QStringList{u"Vantle.mediaChanged "_s} : QStringList());
    }
}
