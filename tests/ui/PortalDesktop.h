#pragma once

// The global-shortcuts portal as a Wayland desktop has it: a private session bus without service
// activation, the real frontend /usr/libexec/xdg-desktop-portal on it, pointed by its portal file at
// our stand-in desktop (portal-shortcuts-backend.py), which the test steers over the same bus.
// Everything ends with the object (QProcess ends its children).
#include "support/PrivateSessionBus.h"
#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>

class PortalDesktop {
public:
    static constexpr char backendName[] = "org.freedesktop.impl.portal.desktop.vantletest";

    // Empty when the bus, the stand-in desktop and the portal run, else what failed. Call from the GUI
    // thread before anything in the process touched the session bus.
    QString start() {
        using namespace Qt::StringLiterals;
        const QString portals = m_folder.filePath(u"portals"_s);
        if (!writeFile(portals + u"/vantletest.portal"_s,
                       QByteArray("[portal]\nDBusName=") + backendName +
                           "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=vantletest\n"))
            return u"cannot write the portal file"_s;
        if (const QString error = m_bus.start(); !error.isEmpty()) return error;
        // Debian's Python, which python3-dbus and python3-gi belong to.
        m_backend.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_backend.start(u"/usr/bin/python3"_s,
                        {QStringLiteral(VANTLE_PORTAL_BACKEND), QString::fromLatin1(backendName)});
        if (!m_backend.waitForReadyRead(10000)) return u"the stand-in desktop did not start"_s;
        // xdg-desktop-portal 1.16 reads the *.portal files of XDG_DESKTOP_PORTAL_DIR and uses those
        // whose UseIn= names a desktop of XDG_CURRENT_DESKTOP.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DESKTOP_PORTAL_DIR"_s, portals);
        environment.insert(u"XDG_CURRENT_DESKTOP"_s, u"vantletest"_s);
        m_portal.setProcessEnvironment(environment);
        m_portal.setStandardErrorFile(QProcess::nullDevice()); // its warnings about refused keys are noise
        m_portal.start(u"/usr/libexec/xdg-desktop-portal"_s);
        const auto running = [] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                u"org.freedesktop.portal.Desktop"_s);
        };
        return waitUntil(running, 10000) ? QString() : u"xdg-desktop-portal did not take its name"_s;
    }
    void stopPortal() {
        m_portal.terminate();
        m_portal.waitForFinished();
    }

    // Steering the stand-in desktop (see its header).
    static void refuse(const QStringList& shortcutIDs) { control(QStringLiteral("Refuse"), {shortcutIDs}); }
    static void cancelBinds(bool on) { control(QStringLiteral("Cancel"), {on}); }
    static bool activate(const QString& shortcutID) {
        return control(QStringLiteral("Activate"), {shortcutID}).value(0).toBool();
    }
    static QStringList binds() { return control(QStringLiteral("State")).value(0).toStringList(); }
    static QStringList closed() { return control(QStringLiteral("State")).value(1).toStringList(); }

private:
    // The stand-in answers from its own process: a blocking call cannot deadlock this thread.
    static QVariantList control(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(backendName),
                                                           QStringLiteral("/org/freedesktop/portal/desktop"),
                                                           QStringLiteral("org.vantle.test.Backend"), method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000).arguments();
    }

    QTemporaryDir m_folder;
    PrivateSessionBus m_bus; // ends after the portal and the stand-in
    QProcess m_backend, m_portal;
};
