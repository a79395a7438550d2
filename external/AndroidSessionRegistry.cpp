#include "external/AndroidSessionRegistry.h"

#include "core/SettingsKeys.h"
#include "provisioning/RuntimeComponentLocator.h"

#include <QCoreApplication>
#include <QTimer>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;

AndroidSessionRegistry& AndroidSessionRegistry::shared() {
    static AndroidSessionRegistry registry;
    return registry;
}

AndroidDisplaySession* AndroidSessionRegistry::runningSession(const QUuid& appID) const {
    const auto it = m_sessions.constFind(appID);
    return it != m_sessions.cend() && (*it)->isRunning() ? it->get() : nullptr;
}

AndroidDisplaySession& AndroidSessionRegistry::open(const QUuid& appID, const QString& package,
                                                    const QString& title, const QString& serial,
                                                    const QString& adb, QSizeF size, ExitHandler onExit) {
    if (AndroidDisplaySession* running = runningSession(appID)) return *running;
    const ExternalClient::Client client = ExternalClient::locate(RuntimeComponentLocator::androidBridge());
    auto session = std::make_shared<AndroidDisplaySession>(appID, package, title, size, client);
    const QStringList arguments =
        ExternalClient::arguments(serial, package, title, size, VantleSettings::get(SettingsKeys::printFPS));
    const QString display = u"%1x%2/240"_s.arg(qRound(size.width())).arg(qRound(size.height()));
    const QString source = AndroidBridgeComponents::sourceName(client.source);
    session->log().write(u"Vantle: starting "_s + source + u" bridge "_s + client.version + u" at "_s +
                         client.program);
    session->log().write(u"Vantle: package="_s + package + u" display="_s + display);
    VantleLog::main().write(u"bridge start package="_s + package + u" source="_s + source + u" scrcpy="_s +
                            client.program);
    AndroidDisplaySession* raw = session.get();
    session->onEnded = [this, raw, onExit = std::move(onExit)](std::optional<QString> error) {
        ended(raw, onExit, std::move(error));
    };
    if (const std::optional<QString> failure = session->launch(
            arguments, ExternalClient::environment(QProcessEnvironment::systemEnvironment(), client, adb)))
        throw std::runtime_error(failure->toStdString());
    m_sessions.insert(appID, session);
    return *raw;
}

void AndroidSessionRegistry::ended(AndroidDisplaySession* session, const ExitHandler& onExit,
                                   std::optional<QString> error) {
    std::shared_ptr<AndroidDisplaySession> kept; // the session ends after the process's signal returns
    if (const auto it = m_sessions.find(session->id()); it != m_sessions.end() && it->get() == session) {
        kept = *it;
        m_sessions.erase(it);
    }
    if (onExit) onExit(std::move(error));
    if (kept) QTimer::singleShot(0, QCoreApplication::instance(), [kept] {});
}
