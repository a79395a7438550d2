#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// Package lists written the way Google's SDK repository writes repository2-3.xml and
// sys-img2-3.xml: namespace prefixes, licences up front, type details, archives with a nested
// "complete" element.
namespace RepositoryFixtures {

struct Archive {
    QString url;
    qint64 size = 0;
    QString sha1;
    QString os;   // empty: no host-os element
    QString arch; // empty: no host-arch element
};

struct Package {
    QString path;
    QString displayName;
    QString revision = QStringLiteral("35.0.2");   // major.minor.micro
    QString channel = QStringLiteral("channel-0"); // empty: no channelRef element
    QString license = QStringLiteral("android-sdk-license");
    QList<Archive> archives;
};

QByteArray list(const QList<Package>& packages, const QMap<QString, QString>& licenses, bool systemImages);

} // namespace RepositoryFixtures
