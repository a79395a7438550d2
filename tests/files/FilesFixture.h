#pragma once

// A simulated Android of the test's own, with the gallery (which takes shared images and PDFs)
// and notes (which takes nothing) installed, and what the device received.
#include "core/WaitFor.h"
#include "runtime/ApkInstaller.h"
#include "sim/SimControl.h"
#include "support/SimulatedAndroid.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline const QString galleryApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/gallery.apk");
inline const QString notesApk = QStringLiteral(VANTLE_SIM_TEST_DATA "/notes.apk");

class FilesFixture : public ::testing::Test {
protected:
    ScopedSettings settings;
    SimulatedAndroidHome android;
    QTemporaryDir desktop; // the user's files on the desktop side

    FilesFixture() { Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime()); }

    SimControl device() const { return SimControl(Locations::runtime(), 35); }
    QString deviceDownload(const QString& name) const {
        return device().dataRoot() + u"/media/0/Download/"_s + name;
    }

    static QString install(const QString& apk) {
        return Coroutines::waitFor(AndroidRuntimeCLI::installAndLaunch(apk));
    }
    // A desktop file with `bytes` in it.
    QString desktopFile(const QString& name, const QByteArray& bytes) const {
        QFile file(desktop.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    }
    // Blocking device work, awaited without blocking this thread's event loop.
    template <typename Work> static auto offMainThread(Work work) {
        auto future = QtConcurrent::run(&AndroidRuntimeCLI::pool(), work);
        waitUntil([&] { return future.isFinished(); }, 60000);
        return future.result();
    }
    QList<QJsonObject> received(const QString& type, const QString& command) const {
        QList<QJsonObject> matching;
        for (const QJsonObject& event : device().received())
            if (event.value(u"type"_s) == type && event.value(u"command"_s) == command)
                matching.append(event);
        return matching;
    }
};

// A regular file that this process cannot open for reading: a mode-0 file, or for root (who reads
// any file) a write-only kernel attribute.
inline QString unreadableFile(const QTemporaryDir& folder) {
    if (::geteuid() != 0) {
        QFile file(folder.filePath(QStringLiteral("secret.txt")));
        return file.open(QIODevice::WriteOnly) && file.setPermissions({}) ? file.fileName() : QString();
    }
    for (const char* attribute : {"/sys/bus/pci/rescan", "/sys/bus/pci/drivers_probe"})
        if (QFile::exists(QString::fromLatin1(attribute))) return QString::fromLatin1(attribute);
    return {};
}
