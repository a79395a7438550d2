#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// Like an app window: it refuses the close event and closes itself in its own way, here a moment
// later. Qt 6's quit() closes windows one by one and stops at the first that refuses; whatever is
// then still visible (the home panel, or this window) makes it give up the quit.
class SelfClosingWindow final : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        QTimer::singleShot(0, this, &QWidget::hide);
    }
};

// A signal that arrives while such a window (and an ordinary one) is open ends the event loop
// through the quit path (aboutToQuit), instead of only closing the window.
TEST(TerminationSignals, ASignalQuitsEvenWhileAWindowRefusesToClose) {
    quitOnTerminationSignals();
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SelfClosingWindow appWindow;
        QWidget panel;
        appWindow.show();
        panel.show();
        int aboutToQuit = 0;
        const QMetaObject::Connection counting =
            QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [&aboutToQuit] { ++aboutToQuit; });
        QTimer::singleShot(50, qApp, [signal] { ::raise(signal); });
        QTimer stuck; // the loop kept running
        stuck.setSingleShot(true);
        QObject::connect(&stuck, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        stuck.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << "signal " << signal;
        EXPECT_EQ(aboutToQuit, 1) << "signal " << signal;
        QObject::disconnect(counting);
    }
}

} // namespace
