// Screenshots, window captures and debug snapshots of a real app window streaming from the
// simulated Android, the capture menu, and the names capture files get.
#include "NotesWindowFixture.h"
#include "stream/AndroidStreamClient.h"
#include "stream/StreamTestSupport.h"
#include "windows/AndroidAppPanel.h"
#include "windows/CaptureFolders.h"
#include "windows/NotificationBannerView.h"
#include "windows/ScreenshotSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

TEST(CaptureFoldersTest, NamesCarryTheTitleAndTheSecondAndASecondCaptureNeverOverwritesTheFirst) {
    const QDateTime at(QDate(2026, 3, 3), QTime(14, 5, 9));
    // A slash is no path; a copy's number follows the second.
    EXPECT_EQ(CaptureFolders::fileName(u"A/B/"_s, u"mp4"_s, at, 12), u"A-B- 2026-03-03 at 14.05.09 12.mp4"_s);
    QTemporaryDir root;
    const QString folder = root.filePath(u"Pictures/Vantle"_s); // made on the way
    for (const QString& name : {u"A-B 2026-03-03 at 14.05.09.png"_s, u"A-B 2026-03-03 at 14.05.09 2.png"_s,
                                u"A-B 2026-03-03 at 14.05.09 3.png"_s}) {
        const QString path = CaptureFolders::file(folder, u"A/B"_s, u"png"_s, at);
        EXPECT_EQ(path, folder + u'/' + name);
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    }
    // Another second starts again without a number; a movie of the same second is no copy of a picture.
    EXPECT_EQ(QFileInfo(CaptureFolders::file(folder, u"A/B"_s, u"png"_s, at.addSecs(1))).fileName(),
              u"A-B 2026-03-03 at 14.05.10.png"_s);
    EXPECT_EQ(QFileInfo(CaptureFolders::file(folder, u"A/B"_s, u"mp4"_s, at)).fileName(),
              u"A-B 2026-03-03 at 14.05.09.mp4"_s);
    // The folders follow the home Vantle uses.
    EXPECT_EQ(CaptureFolders::pictures(), Locations::home() + u"/Pictures/Vantle"_s);
    EXPECT_EQ(CaptureFolders::movies(), Locations::home() + u"/Videos/Vantle"_s);
}

class CaptureTest : public CommandedWindowFixture {
protected:
    PostedNotifications notifier; // outlives the windows, which TearDown closes
    // The items as the menu shows them: "&&" is an ampersand, a single "&" marks a shortcut key.
    static QStringList menuTexts(QMenu* menu) {
        QStringList texts;
        for (const QAction* action : menu->actions()) {
            QString shown = action->text();
            shown.replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u'\x01', u'&');
            texts.append(action->isSeparator() ? u"--"_s : shown);
        }
        return texts;
    }
};

// "screenshot" and "record" act on the app window; "capture:" saves every visible window, or says there is
// none. A screenshot is the key frame the request brought, pixel for pixel, in the pictures folder and on
// the clipboard, each in its own file. Closing the window finishes a recording as a playable file.
TEST_F(CaptureTest, ScreenshotsRecordingsAndWindowCapturesFromTheCommandsAndTheWindow) {
    QTemporaryDir shots;
    const QString prefix = shots.filePath(u"shot"_s);
    EXPECT_EQ(sendFromAnotherThread(u"screenshot"_s), CommandDelivery::delivered); // no window: nothing
    EXPECT_EQ(sendFromAnotherThread(u"record"_s), CommandDelivery::delivered);
    EXPECT_EQ(sendFromAnotherThread(u"capture:"_s + prefix), CommandDelivery::delivered);
    ASSERT_TRUE(waitForLogged(u"capture: "_s));
    EXPECT_EQ(logged(u"capture: "_s), QStringList{u"no visible windows"_s});
    EXPECT_FALSE(QFileInfo::exists(prefix + u"-1.png"_s));
    EXPECT_TRUE(logged(u"recording: "_s).isEmpty());

    registry.notifier = &notifier;
    AndroidWindowSession* session = open(u"A/B"_s);
    QList<QImage> answers; // every still image the stream decoded, in order
    const auto handle = session->client()->onSnapshot;
    session->client()->onSnapshot = [&answers, handle](std::shared_ptr<ImageBox> box) {
        if (box->image) answers.append(*box->image);
        handle(box);
    };
    EXPECT_EQ(sendFromAnotherThread(u"screenshot"_s), CommandDelivery::delivered);
    ASSERT_TRUE(waitForLogged(u"screenshot: "_s));
    session->takeScreenshot();
    ASSERT_TRUE(waitForLogged(u"screenshot: "_s, 2));
    ASSERT_EQ(answers.size(), 2);
    const QStringList lines = logged(u"screenshot: "_s);
    EXPECT_NE(lines[0].section(u' ', 0, -2), lines[1].section(u' ', 0, -2));
    for (int n = 0; n < 2; ++n) {
        // "<path> <w>x<h>"
        const QString path = lines[n].section(u' ', 0, -2);
        const QSize size = answers[n].size();
        EXPECT_EQ(lines[n].section(u' ', -1), u"%1x%2"_s.arg(size.width()).arg(size.height()));
        EXPECT_EQ(size, session->client()->videoSize());
        EXPECT_EQ(QFileInfo(path).absolutePath(), CaptureFolders::pictures());
        const QString name = QFileInfo(path).fileName();
        EXPECT_TRUE(name.startsWith(u"A-B 2"_s) && name.endsWith(u".png"_s)) << name.toStdString();
        const QImage saved(path, "PNG");
        ASSERT_FALSE(saved.isNull()) << path.toStdString();
        EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
                  answers[n].convertToFormat(QImage::Format_RGB32));
    }
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
              answers[1].convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(session->banner()->isVisible()); // the window was visible: its banner said so

    EXPECT_EQ(sendFromAnotherThread(u"record"_s), CommandDelivery::delivered);
    ASSERT_TRUE(waitForLogged(u"recording: started "_s)) << since.lines().join(u'\n').toStdString();
    QTest::qWait(1000);
    EXPECT_EQ(sendFromAnotherThread(u"record"_s), CommandDelivery::delivered);
    ASSERT_TRUE(waitForLogged(u"recording: saved "_s));
    EXPECT_EQ(logged(u"recording: saved "_s).first(),
              CaptureFolders::movies() + u'/' + logged(u"recording: started "_s).first());
    EXPECT_EQ(session->banner()->titleLabel()->text(), u"Recording saved"_s);
    // The banner reads over the black video view: it keeps the desktop's window colour behind its text.
    QTest::qWait(400); // its fade-in
    const QImage window = session->panel()->grab().toImage();
    const QRect banner(session->banner()->mapTo(session->panel(), QPoint(0, 0)), session->banner()->size());
    const QColor behind =
        window.pixelColor(QPoint(banner.right() - 14, banner.center().y()) * window.devicePixelRatio());
    EXPECT_LT(std::abs(qGray(behind.rgb()) - qGray(QApplication::palette().color(QPalette::Window).rgb())),
              24)
        << behind.name().toStdString();

    EXPECT_EQ(sendFromAnotherThread(u"capture:"_s + prefix), CommandDelivery::delivered);
    ASSERT_TRUE(waitForLogged(u"capture: "_s, 2));
    const QSize size = session->panel()->size();
    EXPECT_EQ(logged(u"capture: "_s).at(1),
              u"%1-1.png %2x%3 title=Vantle · A/B"_s.arg(prefix).arg(size.width()).arg(size.height()));
    const QImage image(prefix + u"-1.png"_s, "PNG");
    EXPECT_EQ(image.size(), size * session->panel()->devicePixelRatioF());
    EXPECT_FALSE(QFileInfo::exists(prefix + u"-2.png"_s));

    session->toggleRecording();
    ASSERT_TRUE(waitForLogged(u"recording: started "_s, 2));
    const QString path = CaptureFolders::movies() + u'/' + logged(u"recording: started "_s).at(1);
    // The start asked for a key frame, which comes within moments; then a second of frames. (The
    // file may show no bytes until the muxer's buffer fills, so its size only shortens the wait.)
    waitUntil([&] { return QFileInfo(path).size() > 0; }, 1500);
    QTest::qWait(1000);
    session->close(u"close button"_s);
    ASSERT_TRUE(waitForLogged(u"recording: saved "_s, 2));
    EXPECT_EQ(logged(u"recording: saved "_s).at(1), path);
    const Probe file = probe(path);
    EXPECT_EQ(file.stream(u"video"_s)[u"codec_name"_s].toString(), u"h264"_s);
    ASSERT_FALSE(file.packetsOf(u"video"_s).isEmpty());
    EXPECT_TRUE(file.packetsOf(u"video"_s).first()[u"flags"_s].toString().startsWith(u'K'));
    EXPECT_EQ(decodeErrors(path), QString());
    ASSERT_EQ(notifier.posts.size(), 2);
    EXPECT_EQ(notifier.posts[1], (PostedNotifications::Post{u"Recording saved"_s, u"A/B"_s,
                                                            QFileInfo(path).fileName(), std::nullopt, path}));
}

// VANTLE_SCREENSHOTS=<folder> keeps pictures of the capture menu and a recording (scripts/take-screenshots).
void keepScreenshot(const QWidget* window, const QWidget* menu, const QString& name) {
    const QString folder = qEnvironmentVariable("VANTLE_SCREENSHOTS");
    if (folder.isEmpty() || !window->screen()) return;
    QTest::qWait(1000); // the menu's and the banner's fade-in
    QRect area = window->frameGeometry();
    if (menu) area = area.united(menu->geometry());
    window->screen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(folder + u'/' + name);
}

// A stop before any key frame (this window's stream never starts) fails: no file, nothing announced.
TEST_F(CaptureTest, AStopBeforeAnyKeyFrameFailsAndLeavesNoFile) {
    AndroidWindowSession session({appID, package, u"A/B"_s, {}, {}, {}, {}, {}, {}, &notifier});
    session.toggleRecording();
    ASSERT_EQ(logged(u"recording: started "_s).size(), 1);
    const QString name = logged(u"recording: started "_s).first();
    EXPECT_TRUE(name.startsWith(u"A-B 2"_s) && name.endsWith(u".mp4"_s)) << name.toStdString();
    EXPECT_TRUE(QFileInfo::exists(CaptureFolders::movies() + u'/' + name)); // the name is taken at once
    EXPECT_EQ(session.recording(), AndroidWindowSession::Recording::recording);

    session.toggleRecording();
    EXPECT_EQ(session.recording(), AndroidWindowSession::Recording::stopping);
    session.toggleRecording(); // while the stop is on its way: nothing
    ASSERT_TRUE(waitForLogged(u"recording: failed"_s));
    EXPECT_EQ(session.recording(), AndroidWindowSession::Recording::idle);
    EXPECT_EQ(logged(u"recording: started "_s).size(), 1);
    EXPECT_TRUE(logged(u"recording: saved"_s).isEmpty());
    EXPECT_TRUE(notifier.posts.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(CaptureFolders::movies() + u'/' + name));
}

// With "VantleSnapshots" the first frame starts the series: the window's picture with the still
// image in the video's place, numbered from 00 in the logs folder, and a line in the window's log.
// A stream that ends by itself (the display server died) still leaves its recording, reported.
TEST_F(CaptureTest, DebugSnapshotsStartWithTheFirstFrameAndARecordingOutlivesAStreamThatEndsByItself) {
    VantleSettings::set(SettingsKeys::snapshots, true);
    ASSERT_EQ(device().setServerFault(u"dieAfterFrames"_s, 150), QString());
    AndroidWindowSession* session = open();
    session->toggleRecording();
    const QString path = Locations::logs() + u"/snapshots/"_s + package + u"-00.png"_s;
    ASSERT_TRUE(
        waitUntil([&] { return session->log().tail(200).value_or(QString()).contains(path); }, 10000));
    const QImage image(path, "PNG");
    EXPECT_EQ(image.size(), session->panel()->size() * session->panel()->devicePixelRatioF());
    const QString line =
        session->log().tail(200).value_or(QString()).section(u"Vantle: snapshot "_s, 1).section(u'\n', 0, 0);
    const QSize frame = session->client()->videoSize();
    EXPECT_TRUE(line.startsWith(path + u" frame=%1x%2 window="_s.arg(frame.width()).arg(frame.height())))
        << line.toStdString();
    EXPECT_TRUE(logged(u"screenshot: "_s).isEmpty()); // a snapshot is no screenshot

    ASSERT_TRUE(waitForLogged(u"recording: saved "_s, 1, 20000)) << since.lines().join(u'\n').toStdString();
    ASSERT_EQ(device().clearFaults(), QString());
    const QString movie = logged(u"recording: saved "_s).first();
    EXPECT_EQ(movie, CaptureFolders::movies() + u'/' + logged(u"recording: started "_s).first());
    EXPECT_EQ(decodeErrors(movie), QString());
}

// The camera button's menu follows the recording and the app lock; the button is red while recording.
TEST_F(CaptureTest, TheCaptureMenuFollowsTheRecordingAndTheLock) {
    bool locked = false;
    int toggles = 0;
    registry.setAppLock(
        {[&](const QUuid&) { return locked; }, {}, [&](const QUuid&, const QString&) { ++toggles; }});
    const QPalette light = QApplication::palette();
    const bool shots = !qEnvironmentVariableIsEmpty("VANTLE_SCREENSHOTS");
    const QStringList themes = shots ? QStringList{u"light"_s, u"dark"_s} : QStringList{u"light"_s};
    for (const QString& theme : themes) {
        if (theme == u"dark"_s) QApplication::setPalette(ScreenshotSupport::darkPalette());
        AndroidWindowSession* session = open();
        QToolButton* camera = session->panel()->findChild<QToolButton*>(u"capture"_s);
        ASSERT_TRUE(camera);
        EXPECT_EQ(camera->accessibleName(), u"Capture"_s);
        // The header with its extra button still fits the narrowest window.
        EXPECT_LE(camera->parentWidget()->minimumSizeHint().width(), 280);

        camera->click();
        QMenu* menu = session->panel()->findChild<QMenu*>(u"captureMenu"_s);
        ASSERT_TRUE(menu);
        EXPECT_EQ(menuTexts(menu), QStringList({u"Take screenshot"_s, u"Start recording (with sound)"_s,
                                                u"--"_s, u"Lock this app with a password"_s, u"--"_s,
                                                u"Show screenshots & recordings"_s}));
        keepScreenshot(session->panel(), menu, u"capture-menu-"_s + theme + u".png"_s);
        menu->actions().at(1)->trigger(); // starts a recording
        menu->close();
        EXPECT_TRUE(camera->property("recording").toBool());
        ASSERT_TRUE(waitUntil([&] { return !session->panel()->findChild<QMenu*>(u"captureMenu"_s); }));

        locked = true;
        menu = session->showCaptureMenu(camera);
        EXPECT_EQ(menuTexts(menu),
                  QStringList({u"Take screenshot"_s, u"Stop recording"_s, u"--"_s,
                               u"Remove the password lock"_s, u"--"_s, u"Show screenshots & recordings"_s}));
        menu->actions().at(3)->trigger();
        EXPECT_EQ(std::exchange(toggles, 0), 1);
        menu->close();
        locked = false;
        keepScreenshot(session->panel(), nullptr, u"capture-recording-"_s + theme + u".png"_s);

        session->toggleRecording();
        EXPECT_FALSE(camera->property("recording").toBool());
        ASSERT_TRUE(
            waitUntil([&] { return session->recording() == AndroidWindowSession::Recording::idle; }, 5000));
        session->close(u"close button"_s);
        ASSERT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    }
    QApplication::setPalette(light);
    registry.setAppLock({});
}

} // namespace
