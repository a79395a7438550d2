#include "windows/AndroidAppPanel.h"

#include "windows/HeaderView.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QSizeGrip>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
void call(const std::function<void()>& callback) {
    if (callback) callback();
}
} // namespace

AndroidAppPanel::AndroidAppPanel(const QString& title, HeaderView* header, QWidget* videoView)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_header(header) {
    setWindowTitle(u"Vantle · "_s + title);
    setMinimumSize(280, 420);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    // The grip sits over the video's bottom-right corner; without a frame it is the way to resize.
    auto* body = new QWidget(this);
    auto* stack = new QGridLayout(body);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(videoView, 0, 0);
    auto* grip = new QSizeGrip(body);
    stack->addWidget(grip, 0, 0, Qt::AlignBottom | Qt::AlignRight);
    layout->addWidget(body, 1);
}

bool AndroidAppPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate) call(onResignKey);
    if (event->type() == QEvent::WindowActivate) call(onBecomeKey);
    return QWidget::event(event);
}

void AndroidAppPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible()) call(onMove);
}

void AndroidAppPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible()) call(onResize);
}

void AndroidAppPanel::closeEvent(QCloseEvent* event) {
    event->ignore(); // the session closes the window itself
    call(onShouldClose);
}
