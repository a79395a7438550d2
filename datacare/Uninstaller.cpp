#include "datacare/Uninstaller.h"

#include "core/VantleLog.h"
#include "core/VantleSettings.h"
#include "platform/DiskUsage.h"
#include "platform/Locations.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/EmulatorProcesses.h"
#include "runtime/RuntimeBoot.h"
#include "windows/AndroidWindowRegistry.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int emulatorStopChecks = 20;
constexpr int emulatorStopCheckMs = 500;

// The settings once their file is gone: reads find nothing and writes are refused, so that nothing
// the program does on its way out writes the settings folder back.
class RemovedSettings final : public SettingsStore {
public:
    QVariant value(const QString&) const override { return {}; }
    SettingsWrite setValue(const QString&, const QVariant&) override { return {u"Vantle was removed"_s}; }
    SettingsWrite remove(const QString&) override { return {}; }
    QString problem() const override { return {}; }
};

std::optional<Uninstaller::UserFiles> askInMessageBox(const QString& title, const QString& text) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(u"Vantle"_s);
    box.setText(title);
    box.setInformativeText(text);
    auto* userFiles = new QCheckBox(u"Also delete my screenshots, recordings, downloads and backups"_s);
    box.setCheckBox(userFiles);
    QPushButton* uninstall = box.addButton(u"Uninstall"_s, QMessageBox::DestructiveRole);
    box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
    box.setDefaultButton(uninstall);
    box.exec();
    if (box.clickedButton() != uninstall) return std::nullopt;
    return userFiles->isChecked() ? Uninstaller::UserFiles::moveToTrash : Uninstaller::UserFiles::keep;
}

void tellInMessageBox(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, u"Vantle"_s, title);
    box.setInformativeText(text);
    box.exec();
}

// Vantle's own emulator only: asked through its adb first, then whatever process of it is left (a
// hung emulator, or one adb no longer lists) ends by signal. Other emulators on the computer are
// the user's.
void stopAndroid() {
    if (AndroidRuntimeCLI::deviceIsListed()) {
        AndroidRuntimeCLI::stopAllApps();
        AndroidRuntimeCLI::killEmulator();
        for (int check = 0; check < emulatorStopChecks && AndroidRuntimeCLI::deviceIsListed(); ++check)
            QThread::msleep(emulatorStopCheckMs);
    }
    AndroidRuntimeCLI::endOwnEmulator(emulatorStopCheckMs * 4);
}

QStringList removeAll(const QStringList& appData, const QStringList& userFiles) {
    QStringList failures;
    stopAndroid();
    for (const QString& path : appData) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) continue;
        const bool removed =
            info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
        if (!removed) failures.append(path);
    }
    for (const QString& path : userFiles) {
        if (!QFileInfo::exists(path)) continue;
        if (!QFile::moveToTrash(path)) failures.append(path);
    }
    return failures;
}

bool insideBuildFolder(const QString& executable, QString* buildFolder) {
    QDir folder = QFileInfo(executable).absoluteDir();
    for (int up = 0; up < 4; ++up) {
        if (QFileInfo::exists(folder.filePath(u"CMakeCache.txt"_s))) {
            *buildFolder = folder.absolutePath();
            return true;
        }
        if (!folder.cdUp()) break;
    }
    return false;
}

} // namespace

Uninstaller::Uninstaller(Seams seams, QObject* parent)
    : QObject(parent)
    , m_seams(std::move(seams)) {
    if (!m_seams.tell) m_seams.tell = tellInMessageBox;
    if (!m_seams.end) m_seams.end = [] { QCoreApplication::exit(0); };
    if (m_seams.executable.isEmpty()) m_seams.executable = QCoreApplication::applicationFilePath();
}

QStringList Uninstaller::appData() {
    return {Locations::applicationSupport(), Locations::state(), Locations::cache(), Locations::config(),
            Locations::autostartEntry()};
}

QStringList Uninstaller::userFiles() {
    return {Locations::downloads(), Locations::pictures(), Locations::movies(), Locations::backups()};
}

qint64 Uninstaller::size(const QStringList& paths) {
    qint64 total = 0;
    for (const QString& path : paths)
        total += DiskUsage::allocatedBytes(path);
    return total;
}

QString Uninstaller::formatSize(qint64 bytes) {
    return QLocale::system().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString Uninstaller::describe(const QStringList& paths) {
    QStringList lines;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        lines.append(info.exists() ? path + u" ("_s + formatSize(DiskUsage::allocatedBytes(path)) + u')'
                                   : path);
    }
    return lines.join(u'\n');
}

QString Uninstaller::confirmationText(qint64 appDataBytes) {
    return u"Vantle, its Android and all apps inside it (and their data) are removed. This frees about "_s +
           formatSize(appDataBytes) +
           u".\n\nTip: back up apps you want to keep first (right-click an app › Back up app data)."_s;
}

QString Uninstaller::finalText(UserFiles userFiles, const QString& executable) {
    const QString files = userFiles == UserFiles::moveToTrash
                              ? u"Everything is gone. Empty the Trash to free the space completely."_s
                              : u"Your screenshots, recordings, downloads and backups were kept (Pictures, "
                                u"Videos, Downloads and "
                                u"Documents › Vantle). Empty the Trash to free the space completely."_s;
    return files + u"\n\n"_s + programFilesAdvice(executable);
}

QString Uninstaller::programFilesAdvice(const QString& executable) {
    QString buildFolder;
    if (insideBuildFolder(executable, &buildFolder))
        return u"This Vantle runs from its build folder; delete "_s + buildFolder + u" to remove it too."_s;
    const QString bin = QFileInfo(executable).absolutePath();
    if (bin == u"/usr/bin"_s || bin == u"/bin"_s)
        return u"Vantle's program files belong to your package manager: remove the vantle package with it "
               u"(for example “sudo apt remove vantle”)."_s;
    const QString prefix = QDir::cleanPath(bin + u"/.."_s);
    return u"Vantle's program files were installed into "_s + prefix +
           u"; remove bin/vantle, bin/vantlectl, share/vantle, libexec/vantle, "
           u"share/applications/app.vantle.Vantle.desktop, share/metainfo/app.vantle.Vantle.metainfo.xml "
           u"and the app.vantle.Vantle icons in share/icons/hicolor there."_s;
}

void Uninstaller::confirmAndRun() {
    if (m_running) return;
    // Measuring the SDK's tens of thousands of files takes a moment: off the main thread.
    auto* measuring = new QFutureWatcher<qint64>(this);
    connect(measuring, &QFutureWatcherBase::finished, this, [this, measuring] {
        measuring->deleteLater();
        const std::optional<UserFiles> answer =
            askInMessageBox(u"Uninstall Vantle?"_s, confirmationText(measuring->result()));
        if (answer && !m_running) run(*answer);
    });
    measuring->setFuture(QtConcurrent::run([data = appData()] { return size(data); }));
}

void Uninstaller::run(UserFiles userFiles) {
    if (m_running) return;
    m_running = true;
    VantleLog::main().write(u"uninstall: starting (user files too: "_s +
                            (userFiles == UserFiles::moveToTrash ? u"true"_s : u"false"_s) + u')');
    AndroidWindowRegistry::shared().closeAll();
    const QStringList data = appData();
    const QStringList user = userFiles == UserFiles::moveToTrash ? Uninstaller::userFiles() : QStringList();
    VantleSettings::install(std::make_shared<RemovedSettings>());

    auto* removing = new QFutureWatcher<QStringList>(this);
    connect(removing, &QFutureWatcherBase::finished, this, [this, removing, userFiles] {
        removing->deleteLater();
        const QStringList failures = removing->result();
        for (const QString& failed : failures)
            VantleLog::main().write(u"uninstall: could not remove "_s + VantleLog::escaped(failed));
        VantleLog::main().write(u"uninstall: done"_s);
        Q_EMIT removed(failures);
        m_seams.tell(u"Vantle has been removed"_s, finalText(userFiles, m_seams.executable));
        m_seams.end();
    });
    removing->setFuture(
        QtConcurrent::run(&AndroidRuntimeCLI::pool(), [data, user] { return removeAll(data, user); }));
}

void Uninstaller::dryRun() const {
    VantleLog::main().write(u"uninstall dry run - app: "_s + m_seams.executable + u'\n' +
                            describe(appData()) + u"\nuser files:\n"_s + describe(userFiles()));
}
