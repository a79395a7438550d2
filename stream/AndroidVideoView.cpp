#include "stream/AndroidVideoView.h"

#include "stream/AndroidStreamClient.h"
#include "stream/H264Decoder.h"
#include "stream/ScrcpyControl.h"
#include "stream/VideoSurface.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QWheelEvent>

namespace {

// Android key codes of the keys that have one; Qt's key codes stand in for the Mac's virtual
// key codes (Return 36, keypad Enter 76, Delete 51, Forward Delete 117, Tab 48, arrows 123-126,
// Home 115, End 119, Page Up 116, Page Down 121).
std::optional<uint32_t> androidKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Return:
        return 66;
    case Qt::Key_Enter:
        return 66;
    case Qt::Key_Backspace:
        return 67;
    case Qt::Key_Delete:
        return 112;
    case Qt::Key_Tab:
        return 61;
    case Qt::Key_Backtab:
        return 61; // Shift+Tab arrives as a key of its own
    case Qt::Key_Left:
        return 21;
    case Qt::Key_Right:
        return 22;
    case Qt::Key_Down:
        return 20;
    case Qt::Key_Up:
        return 19;
    case Qt::Key_Home:
        return 122;
    case Qt::Key_End:
        return 123;
    case Qt::Key_PageUp:
        return 92;
    case Qt::Key_PageDown:
        return 93;
    default:
        return std::nullopt;
    }
}

constexpr uint32_t androidKeyA = 29;
constexpr uint32_t metaShiftOn = 1;
constexpr uint32_t metaSelectAll = 0x3000; // control on, left control on

// Control characters and the Mac's function-key private-use range are keys, not text.
bool isTypedText(const QString& text) {
    if (text.isEmpty()) return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 32 || u == 127 || (u >= 0xF700 && u <= 0xF8FF)) return false;
    }
    return true;
}

// The shortcut keys the view takes over from the window while it has the focus. Qt reports the
// Mac's Command key as Control, so on both platforms they are Control shortcuts.
bool isViewShortcut(const QKeyEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return false;
    switch (event->key()) {
    case Qt::Key_V:
    case Qt::Key_C:
    case Qt::Key_X:
    case Qt::Key_A:
    case Qt::Key_W:
        return true;
    default:
        return false;
    }
}

QList<QUrl> droppedFiles(const QMimeData* mime) {
    QList<QUrl> files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) files.append(url);
    return files;
}

// The drop highlight: a 3-point border in the accent colour, drawn above the video surface.
class DropBorder final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QPen pen(palette().color(QPalette::Highlight), 3);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
};

} // namespace

AndroidVideoView::AndroidVideoView(QWidget* parent)
    : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    m_surface = VideoSurface::create(VideoSurface::preferredKind(), this);
    QWidget* surface = m_surface->widget();
    surface->setAttribute(Qt::WA_TransparentForMouseEvents);
    surface->setFocusPolicy(Qt::NoFocus);
    surface->setGeometry(rect());
    m_surface->onShown = [this] {
        m_shown = m_presented;
        Q_EMIT frameShown();
    };
    m_border = new DropBorder(this);
    m_border->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_border->hide();

    // Called on the reader thread. The application object outlives every view, and the QPointer
    // is only read on the GUI thread; a view that is gone by then is skipped.
    m_renderer->setFrameReady([view = QPointer<AndroidVideoView>(this)] {
        QMetaObject::invokeMethod(
            qApp,
            [view] {
                if (view) view->showWaitingFrame();
            },
            Qt::QueuedConnection);
    });
}

AndroidVideoView::~AndroidVideoView() {
    m_renderer->setFrameReady(nullptr);
}

void AndroidVideoView::setClient(std::weak_ptr<AndroidStreamClient> client) {
    m_client = std::move(client);
}

bool AndroidVideoView::isOnScreen() const {
    return isVisible() && !window()->isMinimized();
}

void AndroidVideoView::showWaitingFrame() {
    if (!isOnScreen()) return; // the renderer keeps the newest picture for later
    VideoFrame frame = m_renderer->takeFrame();
    if (!frame) return;
    m_presented = frame;
    m_surface->present(std::move(frame));
}

QImage AndroidVideoView::currentFrame() const {
    return H264Decoder::toImage(m_shown.get());
}

void AndroidVideoView::resizeEvent(QResizeEvent*) {
    m_surface->widget()->setGeometry(rect());
    m_border->setGeometry(rect());
}

void AndroidVideoView::showEvent(QShowEvent*) {
    // Minimising is a state change of the window, not of this view; the filter sees it. (The
    // window may be another by now; installing again is harmless.)
    window()->installEventFilter(this);
    showWaitingFrame();
}

bool AndroidVideoView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::WindowStateChange) showWaitingFrame();
    return QWidget::eventFilter(watched, event);
}

void AndroidVideoView::paintEvent(QPaintEvent*) {} // the surface covers the view

std::optional<std::pair<QPointF, QSize>> AndroidVideoView::androidPoint(QPointF viewPoint) const {
    const auto client = m_client.lock();
    if (!client) return std::nullopt;
    const QSize video = client->videoSize();
    if (video.width() <= 0 || video.height() <= 0) return std::nullopt;
    const double scale = std::min(width() / double(video.width()), height() / double(video.height()));
    if (scale <= 0) return std::nullopt;
    const double x = (viewPoint.x() - (width() - video.width() * scale) * 0.5) / scale;
    const double y = (viewPoint.y() - (height() - video.height() * scale) * 0.5) / scale;
    return std::pair{
        QPointF(std::clamp(x, 0.0, video.width() - 1.0), std::clamp(y, 0.0, video.height() - 1.0)), video};
}

void AndroidVideoView::send(const QByteArray& message) const {
    if (const auto client = m_client.lock()) client->send(message);
}

void AndroidVideoView::touch(int action, QPointF viewPoint) const {
    if (const auto point = androidPoint(viewPoint))
        send(ScrcpyControl::touch(ScrcpyControl::TouchAction(action), point->first, point->second));
}

void AndroidVideoView::back() {
    if (onBackRequest) return onBackRequest();
    send(ScrcpyControl::backDown());
    send(ScrcpyControl::backUp());
}

void AndroidVideoView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        touch(int(ScrcpyControl::TouchAction::down), event->position());
    } else if (event->button() == Qt::RightButton) {
        back();
    }
}

void AndroidVideoView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) touch(int(ScrcpyControl::TouchAction::move), event->position());
}

void AndroidVideoView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) touch(int(ScrcpyControl::TouchAction::up), event->position());
}

// A wheel step is 120 eighths of a degree, one line; trackpads report pixels, scaled down to a
// comparable amount.
void AndroidVideoView::wheelEvent(QWheelEvent* event) {
    event->accept();
    const bool precise = !event->pixelDelta().isNull();
    const QPointF delta =
        precise ? QPointF(event->pixelDelta()) * 0.08 : QPointF(event->angleDelta()) / 120.0;
    const float dx = float(delta.x()), dy = float(delta.y());
    if (dx == 0 && dy == 0) return;
    if (const auto point = androidPoint(event->position()))
        send(ScrcpyControl::scroll(point->first, point->second, -dx * 0.0625f, dy * 0.0625f));
}

bool AndroidVideoView::event(QEvent* event) {
    // The window's own shortcuts would otherwise take Ctrl+V and friends first, and Tab would move
    // the focus instead of reaching Android.
    if (event->type() == QEvent::ShortcutOverride && isViewShortcut(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    }
    return QWidget::event(event);
}

void AndroidVideoView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers & Qt::ControlModifier) {
        if (handleShortcut(event)) return event->accept();
        return QWidget::keyPressEvent(event);
    }
    event->accept();
    if (event->key() == Qt::Key_Escape) return back();
    if (const auto code = androidKeyCode(event->key())) {
        const bool shift = (modifiers & Qt::ShiftModifier) || event->key() == Qt::Key_Backtab;
        const uint32_t meta = shift ? metaShiftOn : 0;
        send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, *code, meta));
        send(ScrcpyControl::key(ScrcpyControl::KeyAction::up, *code, meta));
        return;
    }
    // Qt's MetaModifier is the Mac's Control key (and the Super key elsewhere).
    if (modifiers & Qt::MetaModifier) return;
    if (isTypedText(event->text())) sendText(event->text());
}

bool AndroidVideoView::handleShortcut(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_V:
        pasteFromDesktop();
        return true;
    case Qt::Key_C:
        copyToDesktop();
        return true;
    case Qt::Key_X:
        send(ScrcpyControl::getClipboard(ScrcpyControl::CopyKey::cut));
        return true;
    case Qt::Key_A:
        send(ScrcpyControl::key(ScrcpyControl::KeyAction::down, androidKeyA, metaSelectAll));
        send(ScrcpyControl::key(ScrcpyControl::KeyAction::up, androidKeyA, metaSelectAll));
        return true;
    case Qt::Key_W:
        if (onCloseRequest) onCloseRequest();
        return true;
    default:
        return false;
    }
}

void AndroidVideoView::pasteFromDesktop() const {
    const QString text = QGuiApplication::clipboard()->text();
    const auto client = m_client.lock();
    if (text.isEmpty() || !client) return;
    client->send(ScrcpyControl::setClipboard(text, true, client->nextClipboardSequence()));
}

void AndroidVideoView::copyToDesktop() const {
    send(ScrcpyControl::getClipboard(ScrcpyControl::CopyKey::copy));
}

void AndroidVideoView::sendText(const QString& text) const {
    send(ScrcpyControl::text(text));
}

// Input methods (accents, CJK) hand over finished text here; the preedit stays on the desktop.
void AndroidVideoView::inputMethodEvent(QInputMethodEvent* event) {
    event->accept();
    if (isTypedText(event->commitString())) sendText(event->commitString());
}

QVariant AndroidVideoView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRect(rect().center(), QSize(1, 1));
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText);
    default:
        return QWidget::inputMethodQuery(query);
    }
}

void AndroidVideoView::setDropHighlight(bool on) {
    m_dropHighlight = on;
    m_border->setVisible(on);
    if (on) m_border->raise();
}

void AndroidVideoView::dragEnterEvent(QDragEnterEvent* event) {
    if (droppedFiles(event->mimeData()).isEmpty()) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setDropHighlight(true);
}

void AndroidVideoView::dragMoveEvent(QDragMoveEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void AndroidVideoView::dragLeaveEvent(QDragLeaveEvent*) {
    setDropHighlight(false);
}

void AndroidVideoView::dropEvent(QDropEvent* event) {
    setDropHighlight(false);
    const QList<QUrl> files = droppedFiles(event->mimeData());
    if (files.isEmpty()) return event->ignore();
    if (onFilesDropped) onFilesDropped(files);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
