#pragma once

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

// The program's own Xvfb, started before Qt connects, and no session bus: tray items are XEmbed icons
// in a tray the program starts itself, never a desktop's. Stopped when the object goes.
class PrivateXServer {
public:
    PrivateXServer() {
        // A crashed program leaves no X server (nor its tray) behind.
        m_xvfb.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_xvfb.start(QStringLiteral("Xvfb"),
                     QStringLiteral("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp").split(u' '));
        // The display's number once clients can connect; its digits and line end may come apart.
        while (!m_xvfb.canReadLine() && m_xvfb.waitForReadyRead(10000)) {
        }
        if (!m_xvfb.canReadLine()) return;
        qputenv("DISPLAY", ':' + m_xvfb.readLine().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantle-private-bus");
        m_running = true;
    }
    ~PrivateXServer() {
        m_xvfb.terminate();
        m_xvfb.waitForFinished();
    }

    bool isRunning() const { return m_running; }

private:
    QProcess m_xvfb;
    bool m_running = false;
};
