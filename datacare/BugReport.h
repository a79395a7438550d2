#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// A bug report is an e-mail draft to Vantle's support address with the version, the system and the
// tail of the log; nothing is sent without the user. No state.
namespace BugReport {

inline constexpr const char* supportAddress = "support@vantle.app";
inline constexpr int logLines = 400;

QString subject();
QString body();
// The last 400 lines of the main log (all of them when fewer), written as "Vantle-log.txt" in the
// temporary folder for the mail program; nothing when the log cannot be read or the file written.
std::optional<QString> recentLog(const QString& logPath);
std::optional<QString> recentLog(); // of the main log
// mailto:<support address>?subject=…&body=…
QUrl mailto();
// Writes the recent log and opens the draft with `open` (the default hands the mailto URL to the
// desktop's mail program). Main thread.
void compose(const std::function<bool(const QUrl&)>& open = {});

} // namespace BugReport
