#pragma once

#include <QFile>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

// A time-stamped line log in the logs folder. Every non-empty line of a message becomes one line
// "<ISO-8601 UTC time with milliseconds> <line>". Safe from any thread: one lock per instance keeps
// lines whole and in order. The log never reports its own failures; an unopenable file means
// the lines are dropped.
class VantleLog {
public:
    enum class Opening { append, truncate };

    VantleLog(const QString& fileName, Opening opening);
    VantleLog(const VantleLog&) = delete;
    VantleLog& operator=(const VantleLog&) = delete;

    // The shared main log, "vantle.log", created on first use; it appends across runs.
    static VantleLog& main();

    void write(const QString& message);
    // The last `maxLines` lines without their time stamps, or nothing when the file can't be read.
    std::optional<QString> tail(int maxLines) const;
    QString path() const { return m_path; }

    // Text from outside (a command, a path) as part of one log line: backslashes, line breaks and
    // other control characters are written as escapes ("\\", "\n", "\r", "\t", "\x1b",
    // "\u2028"), so such text can never start a line of its own.
    static QString escaped(const QString& text);

private:
    const QString m_path;
    mutable std::mutex m_mutex; // serialises writers and readers
    std::unique_ptr<QFile> m_handle; // null when the file could not be opened
};
