#pragma once

#include "core/VantleLog.h"
#include "external/ExternalClient.h"

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QSizeF>
#include <QStringDecoder>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

// One external client process showing one app in a window of its own. The session owns the
// process; its output goes to the per-app bridge log ("bridge-" + package + ".log", truncated at
// start). Main thread only: the process's signals arrive on the thread that owns it.
class AndroidDisplaySession final : public QObject {
    Q_OBJECT
public:
    enum class LaunchState { starting, running, exited, failed };

    AndroidDisplaySession(const QUuid& id, const QString& package, const QString& title, QSizeF windowSize,
                          const ExternalClient::Client& client);
    ~AndroidDisplaySession() override;

    // Starts the client; on failure returns why and the session stays `starting`.
    std::optional<QString> launch(const QStringList& arguments, const QProcessEnvironment& environment);

    // The client ended; `error` is none for a clean end (status 0, or ended by a signal).
    std::function<void(std::optional<QString> error)> onEnded;

    QUuid id() const { return m_id; }
    QString package() const { return m_package; }
    QString title() const { return m_title; }
    AndroidBridgeComponents::Source bridgeSource() const { return m_source; }
    QDateTime startedAt() const { return m_startedAt; }
    LaunchState launchState() const { return m_state; }
    std::optional<QString> lastError() const { return m_lastError; }
    QSizeF windowSize() const { return m_windowSize; }
    qint64 processID() const;
    bool isRunning() const;
    VantleLog& log() { return m_log; }

    // The error of a client that ended with `status`: the last of the log's final six lines that
    // mentions an error, else the stopped-unexpectedly text.
    static QString failureText(int status, const QString& logTail);

private:
    void readOutput();
    void finished(int status, QProcess::ExitStatus how);

    const QUuid m_id;
    const QString m_package;
    const QString m_title;
    const QSizeF m_windowSize;
    const AndroidBridgeComponents::Source m_source;
    const QString m_program;
    QDateTime m_startedAt;
    LaunchState m_state = LaunchState::starting;
    std::optional<QString> m_lastError;
    VantleLog m_log;
    QStringDecoder m_decoder{QStringDecoder::Utf8}; // a chunk may end inside a character
    QString m_partialLine;                          // a chunk may end inside a line
    std::unique_ptr<QProcess> m_process;
};
