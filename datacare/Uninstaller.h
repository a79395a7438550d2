#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

// Removes Vantle from the computer: stops Android, deletes Vantle's own folders (the Android SDK,
// the virtual device and every app in it, the logs, the cache, the settings) and its login entry,
// moves the user's own screenshots, recordings, downloads and backups to the Trash when asked, and
// ends the program. The program files are the package manager's or the build folder's: the last
// message says how to remove them. One instance, made by the app; main thread only.
class Uninstaller final : public QObject {
    Q_OBJECT
public:
    enum class UserFiles { keep, moveToTrash };

    struct Seams {
        // The last message; the default is a modal message box.
        std::function<void(const QString& title, const QString& text)> tell;
        // Ends the program; the default leaves the event loop with status 0 (quitting then
        // writes nothing back: settings writes are refused from the start of run()).
        std::function<void()> end;
        // The running executable; the default is this program's.
        QString executable;
    };

    explicit Uninstaller(Seams seams = {}, QObject* parent = nullptr);

    // Vantle's own folders and files, in the order they are removed: data, state (logs), cache,
    // config (settings), the login entry.
    static QStringList appData();
    // The user's own files, only removed when asked: downloads, screenshots, recordings, backups.
    static QStringList userFiles();
    // The space the paths take on disk (existing ones, everything below them). Walks the trees.
    static qint64 size(const QStringList& paths);
    // One line per path: the path, and its size when it exists.
    static QString describe(const QStringList& paths);
    static QString formatSize(qint64 bytes);
    static QString confirmationText(qint64 appDataBytes);
    static QString finalText(UserFiles userFiles, const QString& executable);
    // How to remove the program files of the executable at this path.
    static QString programFilesAdvice(const QString& executable);

    // Measures, asks, then runs. Nothing happens when cancelled.
    void confirmAndRun();
    // One way: once started, it finishes (failed removals are logged and skipped) and ends the program.
    void run(UserFiles userFiles);
    // Logs what run() would remove; removes nothing ("uninstall-dryrun").
    void dryRun() const;
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    // Everything is removed; the last message is about to show.
    void removed(const QStringList& failures);

private:
    Seams m_seams;
    bool m_running = false;
};
