#pragma once

#include <QString>

// What a path given for the library names on disk, before anything reads it as an APK. Blocking
// (it asks the file system and opens the file): call it off the main thread. Safe from any thread.
struct LibraryFile {
    enum class Kind {
        file,       // a regular file that can be opened for reading
        missing,    // nothing there (or a dangling symbolic link)
        folder,     // a folder
        special,    // a device, pipe or socket: never read, it may not end
        unreadable, // a regular file that cannot be opened; `reason` says why
    };
    Kind kind = Kind::missing;
    // The one name of the file: absolute, with ".", "..", repeated slashes and symbolic links
    // resolved, so that every way of naming one file gives the same text. Set for `file`.
    QString canonicalPath;
    QString reason; // the system's words, for `unreadable`

    // `path` must be absolute; a relative path is resolved against this process's folder.
    static LibraryFile locate(const QString& path);
};
