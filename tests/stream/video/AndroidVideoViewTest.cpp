// The video view on a real stream client over socket pairs: input sent, pictures shown, the surface.
#include "stream/AndroidVideoView.h"

#include "../StreamTestSupport.h"
#include "VideoFixture.h"
#include "core/VantleLog.h"
#include "stream/ScrcpyControl.h"
#include "stream/VideoSurface.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <iostream>

namespace {

// The view of a client that serves socket pairs: the test is the device.
class AndroidVideoViewTest : public StreamClientFixture {
protected:
    AndroidVideoView view;

    void SetUp() override {
        makeClient(socketConfig(), view.renderer());
        serve(false);
        ASSERT_EQ(readControl(20), startApp());
        sendVideo(videoStart() + sessionPacket(1080, 2088));
        ASSERT_TRUE(waitUntil([this] { return client->videoSize() == QSize(1080, 2088); }));
        view.setClient(client);
        view.resize(390, 724);
    }
    void sendFrames(const EncodedClip& clip, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            sendVideo(mediaPacket(clip.frames[i].data, clip.frames[i].key ? keyFlag : 0));
    }
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }
    void wheel(QPoint pixels, QPoint angle) {
        QWheelEvent event(QPointF(195, 362), view.mapToGlobal(QPointF(195, 362)), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    }
    void key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, code, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }
    // Ctrl+C's two bytes as a marker: whatever the events before it sent comes first.
    QByteArray untilMarker() {
        key(Qt::Key_C, Qt::ControlModifier);
        QByteArray bytes;
        while (!bytes.endsWith(ScrcpyControl::getClipboard(ScrcpyControl::CopyKey::copy))) {
            const QByteArray more = readControl(1);
            if (more.isEmpty()) return bytes + "<timeout>";
            bytes += more;
        }
        return bytes.chopped(2);
    }
};

// The messages' layout is the encoders' (tested there); here: which message, where, how much. Each
// step's events are followed by the marker: what they sent is exactly what comes before it.
TEST_F(AndroidVideoViewTest, PointerWheelInputMethodAndKeysReachTheDeviceAsMessages) {
    using ScrcpyControl::TouchAction;
    const QSize android(1080, 2088);
    EXPECT_EQ(view.androidPoint(QPointF(195, 362)), std::pair(QPointF(540, 1044), android));
    const QPointF moved = view.androidPoint(QPointF(200, 362))->first;
    mouse(QEvent::MouseButtonPress, QPointF(195, 362), Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, QPointF(200, 362), Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPointF(200, 362), Qt::LeftButton, Qt::NoButton);
    mouse(QEvent::MouseMove, QPointF(210, 362), Qt::NoButton, Qt::NoButton); // no button: no touch
    EXPECT_EQ(untilMarker(), ScrcpyControl::touch(TouchAction::down, {540, 1044}, android) +
                                 ScrcpyControl::touch(TouchAction::move, moved, android) +
                                 ScrcpyControl::touch(TouchAction::up, moved, android));

    // The right button is Android's back, unless the window asks for it (Escape too).
    mouse(QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(untilMarker(), ScrcpyControl::backDown() + ScrcpyControl::backUp());
    int backRequests = 0;
    view.onBackRequest = [&] { ++backRequests; };
    mouse(QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    key(Qt::Key_Escape);
    EXPECT_EQ(backRequests, 2);
    EXPECT_EQ(untilMarker(), QByteArray());

    wheel({}, QPoint(0, 120));             // one line
    wheel(QPoint(0, -10), QPoint(0, -30)); // a trackpad: the pixel delta counts
    wheel({}, QPoint(0, 20 * 120));        // 20 lines: the encoder saturates
    wheel({}, QPoint(120, 0));             // sideways: the horizontal sign is turned
    wheel({}, QPoint(0, 0));
    const auto scroll = [&](float horizontal, float vertical) {
        return ScrcpyControl::scroll(QPointF(540, 1044), android, horizontal, vertical);
    };
    EXPECT_EQ(untilMarker(), scroll(0, 0.0625f) + scroll(0, -0.05f) + scroll(0, 1.25f) + scroll(-0.0625f, 0));

    QInputMethodEvent preedit(u"ni"_s, {}); // sends nothing
    QApplication::sendEvent(&view, &preedit);
    QInputMethodEvent commit;
    commit.setCommitString(u"\u65e5\u672c"_s); // 日本
    QApplication::sendEvent(&view, &commit);
    EXPECT_EQ(untilMarker(), ScrcpyControl::text(u"\u65e5\u672c"_s));
    EXPECT_TRUE(view.testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(static_cast<QWidget&>(view).inputMethodQuery(Qt::ImEnabled).toBool());

    // A wide view: bars left and right of the picture; points in them clamp to the edges.
    view.resize(800, 724);
    const double barWidth = (800 - 1080 * (724.0 / 2088)) / 2;
    EXPECT_EQ(view.androidPoint(QPointF(10, 362))->first.x(), 0);
    EXPECT_EQ(view.androidPoint(QPointF(799, 0))->first, QPointF(1079, 0));
    EXPECT_NEAR(view.androidPoint(QPointF(barWidth + 100, 362))->first.x(), 100 * 2088 / 724.0, 1e-9);
    EXPECT_FALSE(AndroidVideoView().androidPoint(QPointF(10, 10)));

    // Keys of the table, text and shortcuts.
    const auto keyPair = [](uint32_t code, uint32_t meta) {
        return ScrcpyControl::key(ScrcpyControl::KeyAction::down, code, meta) +
               ScrcpyControl::key(ScrcpyControl::KeyAction::up, code, meta);
    };
    const std::pair<int, uint32_t> table[] = {
        {Qt::Key_Return, 66},  {Qt::Key_Enter, 66}, {Qt::Key_Backspace, 67}, {Qt::Key_Delete, 112},
        {Qt::Key_Tab, 61},     {Qt::Key_Left, 21},  {Qt::Key_Right, 22},     {Qt::Key_Down, 20},
        {Qt::Key_Up, 19},      {Qt::Key_Home, 122}, {Qt::Key_End, 123},      {Qt::Key_PageUp, 92},
        {Qt::Key_PageDown, 93}};
    QByteArray expected;
    for (const auto& [qtKey, android] : table) {
        key(qtKey);
        expected += keyPair(android, 0);
    }
    key(Qt::Key_Left, Qt::ShiftModifier);
    key(Qt::Key_E, Qt::NoModifier, u"\u00e9"_s);
    key(Qt::Key_unknown, Qt::NoModifier, u"\u0007"_s); // a control character: nothing
    key(Qt::Key_unknown, Qt::NoModifier, u"\uf704"_s); // a Mac function key's character: nothing
    key(Qt::Key_Shift, Qt::ShiftModifier);             // no text at all
    key(Qt::Key_K, Qt::MetaModifier, u"k"_s);          // with the Control (Meta) key held: nothing
    key(Qt::Key_A, Qt::ControlModifier, u"\u0001"_s);
    key(Qt::Key_X, Qt::ControlModifier);
    QGuiApplication::clipboard()->setText(u"hello"_s);
    key(Qt::Key_V, Qt::ControlModifier);
    key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(untilMarker(), expected + keyPair(21, 1) + ScrcpyControl::text(u"\u00e9"_s) +
                                 keyPair(29, 0x3000) +
                                 ScrcpyControl::getClipboard(ScrcpyControl::CopyKey::cut) +
                                 ScrcpyControl::setClipboard(u"hello"_s, true, 2) +
                                 ScrcpyControl::setClipboard(u"hello"_s, true, 3));
    QGuiApplication::clipboard()->clear();
    key(Qt::Key_V, Qt::ControlModifier); // nothing to paste
    int closes = 0;
    view.onCloseRequest = [&] { ++closes; };
    key(Qt::Key_W, Qt::ControlModifier);
    key(Qt::Key_Q, Qt::ControlModifier, u"q"_s); // not the view's: no text either
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(untilMarker(), QByteArray());

    // The window's shortcuts do not get the view's keys.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_V, Qt::ControlModifier);
    QApplication::sendEvent(&view, &override);
    EXPECT_TRUE(override.isAccepted());
    QKeyEvent other(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier);
    other.ignore();
    QApplication::sendEvent(&view, &other);
    EXPECT_FALSE(other.isAccepted());
}

TEST(AndroidVideoViewDrops, FilesAreHandedOnDirectoriesLeftOut) {
    QTemporaryDir folder;
    const QString file = folder.filePath(u"photo.png"_s);
    ASSERT_TRUE(writeFile(file, {}));
    AndroidVideoView view;
    QList<QList<QUrl>> dropped;
    view.onFilesDropped = [&](const QList<QUrl>& urls) { dropped.append(urls); };
    QMimeData both, notFiles;
    both.setUrls({QUrl::fromLocalFile(folder.path()), QUrl::fromLocalFile(file)});
    notFiles.setUrls({QUrl::fromLocalFile(folder.path()), QUrl(u"https://example.org/a.apk"_s)});
    // The drop action the view took the drag with, if it did.
    const auto enter = [&](QMimeData* data) -> std::optional<Qt::DropAction> {
        QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                              Qt::NoModifier);
        event.setAccepted(false);
        QApplication::sendEvent(&view, &event);
        return event.isAccepted() ? std::optional(event.dropAction()) : std::nullopt;
    };
    // Only a folder, or something that is no file: not taken. Leaving takes the highlight away.
    EXPECT_EQ(enter(&notFiles), std::nullopt);
    EXPECT_FALSE(view.showsDropHighlight());
    EXPECT_EQ(enter(&both), Qt::CopyAction);
    EXPECT_TRUE(view.showsDropHighlight());
    QDragLeaveEvent leave;
    QApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(view.showsDropHighlight());

    EXPECT_EQ(enter(&both), Qt::CopyAction);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &both, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(view.showsDropHighlight());
    EXPECT_EQ(dropped, QList<QList<QUrl>>{{QUrl::fromLocalFile(file)}});
}

// On screen (software offscreen, OpenGL under X): pictures aspect-fit on black, as encoded. Hidden or
// minimised, the view draws nothing (newer pictures replace older); back, the newest shows.
TEST_F(AndroidVideoViewTest, ShowsTheNewestPictureLetterboxedWhenOnScreen) {
    const bool openGL = VideoSurface::preferredKind() == VideoSurface::Kind::openGL;
    std::cout << "surface: " << (openGL ? "OpenGL" : "software") << std::endl;
    const auto clip = encodeClip(1080, 2088, 4);
    int shown = 0;
    QObject::connect(&view, &AndroidVideoView::frameShown, &view, [&] { ++shown; });
    const auto sendAndSettle = [&](size_t from, size_t to) {
        sendFrames(clip, from, to);
        ASSERT_TRUE(waitUntil([&] { return view.frameRenderer()->counts().decoded == to; }));
        QTest::qWait(100); // the view's queued calls run
    };
    EXPECT_TRUE(view.currentFrame().isNull());
    sendVideo(mediaPacket(clip.parameterSets, configFlag));
    sendAndSettle(0, 2);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(view.frameRenderer()->counts().replaced, 1u);
    view.show();
    ASSERT_TRUE(waitUntil([&] { return meanDifference(view.currentFrame(), clip.pictures[1]) < 4.0; }));

    view.showMinimized();
    const int before = shown;
    sendAndSettle(2, 4);
    EXPECT_EQ(shown, before);
    EXPECT_EQ(view.frameRenderer()->counts().replaced, 2u);
    view.showNormal();
    const QImage& last = clip.pictures.back();
    ASSERT_TRUE(waitUntil([&] { return meanDifference(view.currentFrame(), last) < 4.0; }, 10000))
        << "difference " << meanDifference(view.currentFrame(), last);
    EXPECT_EQ(shown, before + 1);

    const QImage screen = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), QSize(390, 724) * screen.devicePixelRatio());
    const QRect fit = QRectF(7.76, 0, 374.48, 724).toAlignedRect().adjusted(2, 1, -2, -1);
    const QImage inside = screen.copy(fit);
    EXPECT_LT(
        meanDifference(inside, last.scaled(inside.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
        8.0);
    EXPECT_GT(meanDifference(inside, clip.pictures[0].scaled(inside.size())), 8.0);
    for (const QPoint bar : {QPoint(2, 100), QPoint(387, 600)})
        EXPECT_EQ(screen.pixel(bar), qRgb(0, 0, 0));
}

// Which surface draws the video: the rule, with the OpenGL renderer string given by the test.
TEST(VideoSurfaceChoice, SoftwareRasterisersGetTheSoftwareSurfaceAndGPUsKeepOpenGL) {
    using Kind = VideoSurface::Kind;
    const QString llvmpipe = u"llvmpipe (LLVM 15.0.6, 256 bits)"_s,
                  intel = u"Mesa Intel(R) UHD Graphics 620 (KBL GT2)"_s,
                  swiftShader =
                      u"ANGLE (Google, Vulkan 1.3.0 (SwiftShader Device (Subzero)), SwiftShader driver)"_s;
    const struct {
        QString override, platform;
        std::optional<QString> renderer;
        Kind expected;
        QString reason; // empty: not checked
    } cases[] = {
        {{}, u"xcb"_s, llvmpipe, Kind::software, u"renderer=\"%1\" is a software rasteriser"_s.arg(llvmpipe)},
        {{}, u"wayland"_s, u"Software Rasterizer"_s, Kind::software, {}},
        {{}, u"xcb"_s, swiftShader, Kind::software, {}},
        {{}, u"xcb"_s, intel, Kind::openGL, u"renderer=\"%1\" is a GPU"_s.arg(intel)},
        {{}, u"wayland"_s, u"virgl (AMD Radeon Graphics)"_s, Kind::openGL, {}},
        // The variable wins either way; without a usable platform or context there is no choice.
        {u"software"_s, u"xcb"_s, intel, Kind::software, u"VANTLE_VIDEO_SURFACE=software"_s},
        {u"opengl"_s, u"xcb"_s, llvmpipe, Kind::openGL, {}},
        {u"opengl"_s, u"offscreen"_s, {}, Kind::software, u"platform=offscreen has no OpenGL windows"_s},
        {{}, u"minimal"_s, {}, Kind::software, {}},
        {u"opengl"_s, u"xcb"_s, {}, Kind::software, u"no OpenGL context"_s},
    };
    for (const auto& c : cases) {
        const auto choice = VideoSurface::choose(c.override, c.platform, c.renderer);
        EXPECT_EQ(choice.kind, c.expected)
            << c.platform.toStdString() << " " << c.renderer.value_or(u"-"_s).toStdString();
        if (!c.reason.isEmpty()) {
            EXPECT_EQ(choice.reason, c.reason);
        }
    }
}

// The choice for this run is made once and written to the main log once, with its reason.
TEST(VideoSurfaceChoice, IsMadeAndLoggedOncePerRun) {
    (void)VideoSurface::preferredKind();
    (void)VideoSurface::preferredKind();
    const QString log = MainLogSince::all().join(u'\n');
    EXPECT_EQ(log.count(u"video surface="_s), 1) << log.toStdString();
    if (QGuiApplication::platformName() == u"offscreen"_s) {
        EXPECT_TRUE(log.contains(u"reason=platform=offscreen has no OpenGL windows"_s));
    }
}

} // namespace
