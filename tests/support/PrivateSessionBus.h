#pragma once

// A private session bus without service activation for one test, made this process's session bus.
// Start it on the GUI thread before anything in the process touched the session bus; the daemon
// ends with the object.
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>

class PrivateSessionBus {
public:
    // Empty when the bus runs, else what failed.
    QString start() {
        using namespace Qt::StringLiterals;
        const QString config = m_folder.filePath(u"bus.conf"_s);
        if (!writeFile(config,
                       "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><policy "
                       "context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                       "<allow own=\"*\"/></policy></busconfig>\n"))
            return u"cannot write the bus configuration"_s;
        m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + config, u"--nofork"_s, u"--print-address"_s});
        if (!m_daemon.waitForReadyRead(5000)) return u"dbus-daemon did not start"_s;
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_daemon.readLine().trimmed());
        return QDBusConnection::sessionBus().isConnected() ? QString() : u"no session bus connection"_s;
    }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
};
