#pragma once

#include <QString>
#include <optional>

// Processes this Vantle started that would outlive it if it were killed (the host side of each
// display server), recorded in a ledger file by process id and start time. The next Vantle of the
// same home ends exactly those, and never a process it did not start: another Vantle's, or the
// user's own mirroring of a phone, even when their command lines look the same. A pid that has been
// reused since has another start time and is left alone. Usable from any thread.
namespace ProcessLedger {

void remember(const QString& ledger, qint64 pid); // a process just started
void forget(const QString& ledger, qint64 pid);   // it ended
// Terminates (SIGTERM) every recorded process that still runs as recorded and empties the ledger.
// Returns how many were ended.
int endRecorded(const QString& ledger);

// When the process started, in the system's own unit; none when it does not exist.
std::optional<quint64> startTime(qint64 pid);

} // namespace ProcessLedger
