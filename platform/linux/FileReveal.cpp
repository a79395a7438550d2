#include "platform/FileReveal.h"

#include "platform/DetachedProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

void revealInFileManager(const QString& path) {
    // org.freedesktop.FileManager1 (Nautilus, Dolphin, Nemo, Thunar ...): select the file.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString folder = QFileInfo(path).absolutePath();
    const auto openFolder = [folder] {
        const QString opener = QStandardPaths::findExecutable(u"xdg-open"_s);
        if (!opener.isEmpty())
            (void)DetachedProcess::start(opener, {QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded)},
                                         QProcessEnvironment::systemEnvironment());
    };
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
                                       u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // Owned by the application until the answer comes: a reply that never comes is freed on quit.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* reply) {
                         reply->deleteLater();
                         if (reply->isError()) openFolder();
                     });
}
