#include "platform/ProcessLedger.h"

#include "platform/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <csignal>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

// The ledger: one line per process, "<pid> <start time>\n", the start time in clock ticks since
// boot (field 22 of /proc/<pid>/stat). Rewritten whole (temporary file and rename) on each change.
namespace {

using Entry = std::pair<qint64, quint64>;

QMutex ledgerMutex; // one writer at a time, across the threads that start and reap servers

std::vector<Entry> read(const QString& ledger) {
    std::vector<Entry> entries;
    QFile file(ledger);
    if (!file.open(QIODevice::ReadOnly)) return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        bool pidOk = false, startOk = false;
        if (fields.size() != 2) continue;
        const qint64 pid = fields[0].toLongLong(&pidOk);
        const quint64 start = fields[1].toULongLong(&startOk);
        if (pidOk && startOk && pid > 0) entries.emplace_back(pid, start);
    }
    return entries;
}

void write(const QString& ledger, const std::vector<Entry>& entries) {
    if (entries.empty()) {
        QFile::remove(ledger);
        return;
    }
    if (!ensurePrivateFolder(QFileInfo(ledger).absolutePath())) return;
    QSaveFile file(ledger);
    if (!file.open(QIODevice::WriteOnly)) return;
    for (const auto& [pid, start] : entries)
        file.write(QByteArray::number(pid) + ' ' + QByteArray::number(start) + '\n');
    file.commit();
}

} // namespace

namespace ProcessLedger {

std::optional<quint64> startTime(qint64 pid) {
    // "<pid> (<name>) <state> <fields 4..>": the name may contain ") ", so fields count from the
    // last one; the start time is field 22, the 20th after the name.
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray line = stat.readAll();
    const qsizetype nameEnd = line.lastIndexOf(") ");
    if (nameEnd < 0) return std::nullopt;
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    if (fields.size() < 20) return std::nullopt;
    bool ok = false;
    const quint64 start = fields[19].toULongLong(&ok);
    return ok ? std::optional(start) : std::nullopt;
}

void remember(const QString& ledger, qint64 pid) {
    const std::optional<quint64> start = startTime(pid);
    if (!start) return; // already gone: nothing to end later
    QMutexLocker lock(&ledgerMutex);
    std::vector<Entry> entries = read(ledger);
    std::erase_if(entries, [pid](const Entry& entry) { return entry.first == pid; });
    entries.emplace_back(pid, *start);
    write(ledger, entries);
}

void forget(const QString& ledger, qint64 pid) {
    QMutexLocker lock(&ledgerMutex);
    std::vector<Entry> entries = read(ledger);
    if (std::erase_if(entries, [pid](const Entry& entry) { return entry.first == pid; }) > 0)
        write(ledger, entries);
}

int endRecorded(const QString& ledger) {
    QMutexLocker lock(&ledgerMutex);
    int ended = 0;
    for (const auto& [pid, start] : read(ledger))
        if (startTime(pid) == start && ::kill(pid_t(pid), SIGTERM) == 0) ++ended;
    write(ledger, {});
    return ended;
}

} // namespace ProcessLedger
