#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// Saving one Android app with its private data into a backup file, and putting it back, on Vantle's
// emulator (also a fresh one, or another Android version). The privileged device steps run as
// shell scripts under "su 0 sh -c". Both functions block for as long as the device work takes:
// call them from the Android thread pool, never from the main thread.
//
// A backup file is a ZIP archive ("<name> <yyyy-MM-dd 'at' HH.mm.ss>.vantle", mode 0600) holding
//   info.json     {"package", "name", "created" (ISO 8601 UTC), "format": 1}, pretty-printed
//   base.apk, split1.apk, …   the app's APKs in the package manager's order
//   data.tgz      /data/data/<package> without cache, code_cache and the lib link, paths from /data/data
//   external.tgz  /sdcard/Android/data/<package>, paths from /sdcard/Android/data; only when it exists
namespace AppBackup {

struct Outcome {
    enum class Kind { done, failed };
    Kind kind = Kind::failed;
    QString file;    // done: the backup file written, or read
    QString message; // failed: what the user is told

    static Outcome done(const QString& file) { return {Kind::done, file, {}}; }
    static Outcome failed(const QString& message) { return {Kind::failed, {}, message}; }
    bool isDone() const { return kind == Kind::done; }
};

struct RestoreResult {
    Outcome outcome;
    std::optional<QString> package; // read from info.json, when it could be read
};

// "Documents/Vantle Backups" of the user (below VANTLE_HOME when set).
QString folder();

// The name a backup of the app called `name` made at local time `at` gets: every "/" in the name
// becomes "-". `copy` 1 is the plain name; 2, 3, … add " 2", " 3" before the extension, for
// backups made within the same second.
QString fileName(const QString& name, const QDateTime& at, int copy = 1);

// Writes the files of `work` as a backup file of the app called `name` made at `at`, into
// folder() (created when missing), under the first name no file has yet. Empty when it could not
// be written.
QString saveBackupFile(const QString& work, const QString& name, const QDateTime& at);

// The one string after "shell" that runs `script` as root: "su 0 sh -c '<script>'", each single
// quote of the script written as '\''.
QString rootCommand(const QString& script);

// The root script that puts the pushed data archives in place. The app's current data are moved
// aside first; when any step fails they are put back, and only a restore that reached its end
// discards them. Prints "VT_RESTORE_OK" as its last act when everything worked; errors go to the
// same output, so that a failure's last words can be shown.
QString restoreScript(const QString& package);

Outcome backup(const QString& package, const QString& name);
RestoreResult restore(const QString& file);

} // namespace AppBackup
