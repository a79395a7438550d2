#include "PanelFixture.h"
#include "core/SettingsKeys.h"
#include "ui/HomePanelController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using Presentation = HomePanelController::Presentation;

class HomePanelTest : public PanelFixture {};

TEST_F(HomePanelTest, AWindowPanelShowsAtStartWithTheSharedSizeIsSnapshottedAndAFloatingOneIsPutAway) {
    VantleSettings::set(SettingsKeys::panelWidth, 480.0);
    VantleSettings::set(SettingsKeys::panelHeight, 820.0);
    HomePanelController home(store, actions, environment());
    home.start(Presentation::window);
    MenuPanel& panel = home.makePanel();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.size(), QSize(480, 820));
    EXPECT_FALSE(panel.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(home.trayIcon(), nullptr);
    EXPECT_EQ(store.statusMessage(), HomePanelController::noTrayMessage);
    EXPECT_EQ(&home.makePanel(Presentation::floating), &panel); // one panel for the life of the controller

    // Becoming the active window asks for the warm-up.
    QCoreApplication::processEvents();
    actions.calls.clear();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&panel, &activate);
    EXPECT_EQ(actions.calls, QStringList{u"prewarm"_s});

    // An ordinary window stays when another application becomes active.
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&panel, &deactivate);
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel.isVisible());

    // Snapshots are the panel and the tray glyph as images; a file where the folder should be is said.
    QTemporaryDir folder;
    EXPECT_EQ(home.writeSnapshots(folder.path()), QString());
    EXPECT_EQ(QImage(folder.filePath(u"menu-panel.png"_s)).size(), QSize(480, 820));
    EXPECT_EQ(QImage(folder.filePath(u"snapshots/glyph.png"_s)).size(), QSize(64, 64));
    ASSERT_TRUE(writeFile(folder.filePath(u"blocked"_s), {}));
    EXPECT_EQ(home.writeSnapshots(folder.filePath(u"blocked"_s)),
              u"cannot create "_s + folder.filePath(u"blocked"_s) + u"/snapshots"_s);

    VantleSettings::set(SettingsKeys::panelWidth, 200.0); // too narrow: the default size
    HomePanelController other(store, actions, environment());
    EXPECT_EQ(other.makePanel(Presentation::window).size(), QSize(390, 760));

    // A floating panel is put away, not closed, and leaves when Vantle is no longer active.
    HomePanelController floating(store, actions, environment());
    MenuPanel& put = floating.makePanel(Presentation::floating);
    EXPECT_TRUE(put.windowFlags() & Qt::FramelessWindowHint);
    floating.showPanel(QRect(100, 0, 20, 24));
    ASSERT_TRUE(put.isVisible());

    QCloseEvent close;
    QCoreApplication::sendEvent(&put, &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_FALSE(put.isVisible());

    floating.togglePanel();
    EXPECT_TRUE(put.isVisible());
    floating.togglePanel();
    EXPECT_FALSE(put.isVisible());

    // Escape with no search to undo puts it away too.
    floating.showPanel();
    QTest::keyClick(put.searchField(), Qt::Key_Escape);
    EXPECT_FALSE(put.isVisible());

    // Another application became active: nothing of Vantle's is, so the panel goes.
    floating.showPanel();
    QApplication::setActiveWindow(nullptr);
    QCoreApplication::sendEvent(&put, &deactivate);
    EXPECT_TRUE(waitUntil([&] { return !put.isVisible(); }, 2000));
}
