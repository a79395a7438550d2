#include "external/AndroidDisplaySession.h"

using namespace Qt::Literals::StringLiterals;

namespace {
// How many of the log's last lines are searched for the client's error.
constexpr int errorSearchLines = 6;
} // namespace

AndroidDisplaySession::AndroidDisplaySession(const QUuid& id, const QString& package, const QString& title,
                                             QSizeF windowSize, const ExternalClient::Client& client)
    : m_id(id)
    , m_package(package)
    , m_title(title)
    , m_windowSize(windowSize)
    , m_source(client.source)
    , m_program(client.program)
    , m_log(u"bridge-"_s + package + u".log"_s, VantleLog::Opening::truncate) {}

AndroidDisplaySession::~AndroidDisplaySession() {
    if (!m_process) return;
    // Ending Vantle ends its clients; their end is no news to anyone by then.
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(2000)) m_process->kill();
        m_process->waitForFinished(2000);
    }
}

std::optional<QString> AndroidDisplaySession::launch(const QStringList& arguments,
                                                     const QProcessEnvironment& environment) {
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_program);
    m_process->setArguments(arguments);
    m_process->setProcessEnvironment(environment);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &AndroidDisplaySession::readOutput);
    connect(m_process.get(), &QProcess::finished, this, &AndroidDisplaySession::finished);
    m_startedAt = QDateTime::currentDateTimeUtc();
    m_process->start();
    if (!m_process->waitForStarted()) {
        const QString why = m_process->errorString();
        m_process->disconnect(this);
        m_process.reset();
        return u"Could not start "_s + m_program + u": "_s + why;
    }
    m_state = LaunchState::running;
    return std::nullopt;
}

qint64 AndroidDisplaySession::processID() const {
    return m_process ? m_process->processId() : 0;
}

bool AndroidDisplaySession::isRunning() const {
    return m_state == LaunchState::running && m_process && m_process->state() != QProcess::NotRunning;
}

void AndroidDisplaySession::readOutput() {
    m_partialLine += m_decoder.decode(m_process->readAllStandardOutput());
    const qsizetype end = m_partialLine.lastIndexOf(u'\n');
    if (end < 0) return;
    m_log.write(m_partialLine.left(end));
    m_partialLine.remove(0, end + 1);
}

QString AndroidDisplaySession::failureText(int status, const QString& logTail) {
    const QStringList lines = logTail.split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0 && i >= lines.size() - errorSearchLines; --i)
        if (lines[i].contains(u"ERROR"_s) || lines[i].contains(u"error"_s)) return lines[i];
    return u"The smooth display bridge stopped unexpectedly (code %1)."_s.arg(status);
}

void AndroidDisplaySession::finished(int status, QProcess::ExitStatus how) {
    // What the client wrote last, up to its end, belongs in the log before the log is searched.
    readOutput();
    if (!m_partialLine.isEmpty()) m_log.write(std::exchange(m_partialLine, QString()));
    m_process->disconnect(this);
    const QString after =
        QString::number(double(m_startedAt.msecsTo(QDateTime::currentDateTimeUtc())) / 1000.0, 'f', 1);
    const bool signalled = how == QProcess::CrashExit;
    m_log.write(u"Vantle: bridge exited status=%1 reason=%2 after %3s"_s.arg(status).arg(
        signalled ? u"signal"_s : u"exit"_s, after));
    VantleLog::main().write(
        u"bridge exit package=%1 status=%2 after=%3"_s.arg(m_package).arg(status).arg(after));
    if (signalled || status == 0) {
        m_state = LaunchState::exited;
    } else {
        m_state = LaunchState::failed;
        m_lastError = failureText(status, m_log.tail(errorSearchLines).value_or(QString()));
    }
    if (onEnded) onEnded(m_lastError);
}
