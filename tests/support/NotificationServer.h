#pragma once

// A real desktop notification server for a test: a private session bus, an X server of its own and dunst on
// them, read back and clicked with dunstctl; all end with the object. Start it on the GUI thread before
// anything in the process touched the session bus.
#include "support/PrivateSessionBus.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

class NotificationServer {
public:
    // The bus with dunst on it: empty when the server runs, else what failed.
    QString start() {
        using namespace Qt::StringLiterals;
        if (const QString error = m_bus.start(); !error.isEmpty()) return error;
        const QString dunstrc = m_folder.filePath(u"dunstrc"_s);
        // Nothing expires while the test looks at it; the body is markup, as most desktops have it.
        if (!writeFile(dunstrc,
                       "[global]\n    markup = full\n    history_length = 50\n    idle_threshold = 0\n"
                       "[urgency_low]\n    timeout = 0\n[urgency_normal]\n    timeout = 0\n"
                       "[urgency_critical]\n    timeout = 0\n"))
            return u"cannot write the dunst configuration"_s;
        m_display.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"640x480x24"_s,
                                    u"-nolisten"_s, u"tcp"_s});
        if (!m_display.waitForReadyRead(10000)) return u"Xvfb did not start"_s;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, u':' + QString::fromLatin1(m_display.readLine().trimmed()));
        m_dunst.setProcessEnvironment(environment);
        m_dunst.start(u"dunst"_s, {u"-config"_s, dunstrc});
        return waitUntil(running, 10000) ? QString() : u"dunst did not take the notification service"_s;
    }

    static bool running() {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications"));
    }
    void stop() {
        m_dunst.kill();
        m_dunst.waitForFinished();
    }

    static QString dunstctl(const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("dunstctl"), arguments);
        // The server answers through the daemon, not on this thread's connection: no deadlock.
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    static int displayed() {
        return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).toInt();
    }
    // Clicks the oldest displayed notification, which closes it.
    static void click() { dunstctl({QStringLiteral("action"), QStringLiteral("0")}); }
    // Everything the server received (app name, summary, body), newest first; closes what is displayed.
    static QList<QStringList> history() {
        using namespace Qt::StringLiterals;
        dunstctl({u"close-all"_s});
        QList<QStringList> received;
        for (const QJsonValue& value :
             QJsonDocument::fromJson(dunstctl({u"history"_s}).toUtf8())[u"data"][0].toArray()) {
            received.append(QStringList());
            for (const QString& field : {u"appname"_s, u"summary"_s, u"body"_s})
                received.last().append(value[field][u"data"].toString());
        }
        return received;
    }

private:
    QTemporaryDir m_folder;
    PrivateSessionBus m_bus; // ends after dunst
    QProcess m_display, m_dunst;
};
