// The mirror mode: screenshots become cropped frames, the player window's gestures reach the device.
#include "core/AppLibraryStore.h"
#include "external/AndroidMirrorModel.h"
#include "external/AndroidPlayerView.h"
#include "external/AndroidPlayerWindow.h"
#include "platform/Locations.h"
#include "sim/SimControl.h"
#include "support/SimulatedAndroid.h"

#include <QJsonDocument>
#include <QPainter>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(MirrorFrames, TheBarsAreCutAwayTooSmallScreenshotsGiveNoFrameAndViewPointsBecomeDevicePixels) {
    QImage screen(1080, 2400, QImage::Format_RGB32),
        green(AndroidMirrorModel::deviceSize, QImage::Format_RGB32);
    screen.fill(Qt::red); // the status bar (96 pixels) and the navigation bar (150)
    green.fill(Qt::green);
    QPainter(&screen).drawImage(0, 96, green);
    EXPECT_EQ(AndroidMirrorModel::cropped(screen), green);
    EXPECT_EQ(AndroidMirrorModel::cropped(QImage(100, 247, QImage::Format_RGB32))->height(), 1);
    EXPECT_FALSE(AndroidMirrorModel::cropped(QImage(100, 246, QImage::Format_RGB32)));
    EXPECT_FALSE(AndroidMirrorModel::cropped(QImage()));

    // View points become device pixels below the status bar and inside the screen.
    const struct {
        QPointF at;
        QSizeF view;
        QPoint device;
    } cases[] = {
        {{0, 0}, {430, 857.6}, {0, 96}},
        {{215, 428.8}, {430, 857.6}, {540, 96 + 1077}},
        {{430, 857.6}, {430, 857.6}, {1079, 96 + 2153}}, // the far edge stays on the screen
        {{-5, 900}, {430, 857.6}, {0, 96 + 2153}},
        {{108, 215.4}, {216, 430.8}, {540, 96 + 1077}}, // half the size: the same device point
    };
    for (const auto& c : cases)
        EXPECT_EQ(AndroidMirrorModel::devicePoint(c.at, c.view), c.device) << c.at.x() << "," << c.at.y();
}

// The player window follows the library; with the simulated Android it shows frames and passes gestures on.
TEST(MirrorModel, ThePlayerWindowFollowsTheLibraryShowsTheDeviceAndPassesGesturesOn) {
    const QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    const ScopedSettings settings;
    AppLibraryStore store;
    int libraryShown = 0;
    AndroidPlayerWindow player(store, [&] { ++libraryShown; });
    EXPECT_EQ(player.view(), nullptr);
    EXPECT_EQ(player.model().status(), u"Connecting to Android…"_s);

    store.setShowAndroidPlayer(true);
    ASSERT_NE(player.view(), nullptr);
    EXPECT_TRUE(player.view()->isVisible());
    EXPECT_EQ(player.model().status(), u"Android runtime unavailable"_s);
    EXPECT_FALSE(player.model().isRunning());

    // The pin keeps the window on top and says how to undo it.
    QToolButton* pin = player.view()->findChildren<QToolButton*>().at(1);
    pin->click();
    EXPECT_TRUE(player.view()->isPinned());
    EXPECT_EQ(pin->toolTip(), u"Unpin window"_s);
    pin->click();
    EXPECT_FALSE(player.view()->isPinned()); // its help reads "Keep window on top" again below

    // Closing the window clears the flag; setting it again shows the window again.
    player.view()->close();
    EXPECT_FALSE(store.showAndroidPlayer());
    store.setShowAndroidPlayer(true);
    EXPECT_TRUE(player.view()->isVisible());
    player.view()->findChildren<QToolButton*>().first()->click(); // "Back to app library"
    EXPECT_EQ(libraryShown, 1);
    EXPECT_FALSE(store.showAndroidPlayer());
    EXPECT_FALSE(player.view()->isVisible());

    const SimulatedAndroidHome android;
    SimControl device(Locations::runtime(), 35);
    store.setShowAndroidPlayer(true);
    AndroidMirrorModel& model = player.model();
    AndroidPlayerView& view = *player.view();
    EXPECT_TRUE(model.isRunning());
    ASSERT_TRUE(waitUntil([&] { return model.frame().has_value(); }, 60000)) << model.status().toStdString();
    EXPECT_EQ(model.status(), u"Android connected"_s);
    EXPECT_EQ(model.frame()->size(), AndroidMirrorModel::deviceSize); // 1080 × 2400 less both bars

    EXPECT_EQ(view.windowTitle(), u"Vantle Android"_s);
    QStringList help;
    for (const QToolButton* button : view.findChildren<QToolButton*>())
        help.append(button->toolTip());
    EXPECT_EQ(help,
              (QStringList{u"Back to app library"_s, u"Keep window on top"_s, u"Minimise"_s, u"Close"_s}));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    // VANTLE_SCREENSHOTS=<folder> keeps a picture of the player for scripts/take-screenshots.
    if (const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS"); !folder.isEmpty())
        view.grab().save(folder + u"/android-player.png"_s);

    // A click a quarter into the shown frame, a drag up its middle, the Back key.
    device.clearReceived();
    const QRectF frame = view.frameRect();
    const auto at = [&](double x, double y) {
        return (frame.topLeft() + QPointF(frame.width() * x, frame.height() * y)).toPoint();
    };
    const auto onDevice = [&](QPoint p) {
        return AndroidMirrorModel::devicePoint(p - frame.topLeft(), frame.size());
    };
    QTest::mouseClick(view.screenArea(), Qt::LeftButton, {}, at(0.25, 0.25));
    QTest::mousePress(view.screenArea(), Qt::LeftButton, {}, at(0.5, 0.8));
    QTest::mouseRelease(view.screenArea(), Qt::LeftButton, {}, at(0.5, 0.2));
    model.key(4);
    const auto inputs = [&] { // three adb calls on the pool, in any order; without the time each came
        QStringList events;
        for (QJsonObject event : device.received()) {
            event.remove(u"atMs"_s);
            if (event.take(u"type"_s) == u"input"_s)
                events.append(QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
        }
        events.sort();
        return events;
    };
    const QPoint tap = onDevice(at(0.25, 0.25)), from = onDevice(at(0.5, 0.8)), to = onDevice(at(0.5, 0.2));
    ASSERT_TRUE(waitUntil([&] { return inputs().size() == 3; }, 20000));
    EXPECT_EQ(inputs(), (QStringList{uR"({"action":"keyevent","keycodes":[4]})"_s,
                                     uR"({"action":"swipe","from":[%1,%2],"x":%3,"y":%4})"_s.arg(from.x())
                                         .arg(from.y())
                                         .arg(to.x())
                                         .arg(to.y()),
                                     uR"({"action":"tap","x":%1,"y":%2})"_s.arg(tap.x()).arg(tap.y())}));
    EXPECT_NEAR(tap.y(), 96 + 538, 4);

    // Closing the window stops the captures.
    view.close();
    EXPECT_FALSE(model.isRunning() || store.showAndroidPlayer());
}

} // namespace
