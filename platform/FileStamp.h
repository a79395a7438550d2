#pragma once

#include <QString>

#include <optional>

// A file's size and modification time, to tell whether it changed.
struct FileStamp {
    qint64 sizeBytes = 0;
    double modifiedSeconds = 0; // since 1970-01-01 UTC, with the file system's full precision
};

std::optional<FileStamp> fileStamp(const QString& path);
