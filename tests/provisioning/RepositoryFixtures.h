#pragma once

#include <QList>
#include <QMap>
#include <QStringList>

// Package lists written the way Google's SDK repository writes repository2-3.xml and
// sys-img2-3.xml: namespace prefixes, licences up front, type details, archives with a nested
// "complete" element.
namespace RepositoryFixtures {

struct Archive {
    QString url;
    qint64 size = 0;
    QString sha1{};
    QString os{};   // empty: no host-os element
    QString arch{}; // empty: no host-arch element
};

struct Package {
    QString path;
    QString displayName{};
    QString revision = QStringLiteral("35.0.2");   // major.minor.micro
    QString channel = QStringLiteral("channel-0"); // empty: no channelRef element
    QString license = QStringLiteral("android-sdk-license");
    QList<Archive> archives;
};

inline QByteArray list(const QList<Package>& packages, const QMap<QString, QString>& licenses,
                       bool systemImages) {
    using namespace Qt::Literals::StringLiterals;
    const QString root = systemImages ? u"sys-img:sdk-sys-img"_s : u"sdk:sdk-repository"_s;
    QString xml = u"<?xml version=\"1.0\" ?>\n<"_s + root +
                  u" xmlns:sdk=\"http://schemas.android.com/sdk/android/repo/repository2/03\""
                  " xmlns:sys-img=\"http://schemas.android.com/sdk/android/repo/sys-img2/03\""
                  " xmlns:common=\"http://schemas.android.com/repository/android/common/02\""
                  " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"_s;
    for (auto it = licenses.cbegin(); it != licenses.cend(); ++it)
        xml += u"<license id=\"%1\" type=\"text\">%2</license>\n"_s.arg(it.key(), it.value().toHtmlEscaped());
    xml += u"<channel id=\"channel-0\">stable</channel>\n<channel id=\"channel-3\">canary</channel>\n"_s;
    for (const Package& package : packages) {
        const QStringList revision = package.revision.split(u'.');
        xml += u"<remotePackage path=\"%1\">\n"_s.arg(package.path);
        if (systemImages)
            xml += u"<type-details xsi:type=\"sys-img:sysImgDetailsType\"><api-level>35</api-level>"
                   "<tag><id>default</id><display>Default Android System Image</display></tag>"
                   "<abi>x86_64</abi></type-details>\n"_s;
        xml += u"<revision><major>%1</major><minor>%2</minor><micro>%3</micro></revision>\n"_s.arg(
            revision.value(0), revision.value(1), revision.value(2));
        xml += u"<display-name>%1</display-name>\n"_s.arg(package.displayName);
        if (!package.license.isEmpty()) xml += u"<uses-license ref=\"%1\"/>\n"_s.arg(package.license);
        if (!package.channel.isEmpty()) xml += u"<channelRef ref=\"%1\"/>\n"_s.arg(package.channel);
        xml += u"<archives>\n"_s;
        for (const Archive& archive : package.archives) {
            xml += u"<archive>\n<complete><size>%1</size><checksum type=\"sha1\">%2</checksum><url>%3</url>"
                   "</complete>\n"_s.arg(QString::number(archive.size), archive.sha1, archive.url);
            if (!archive.os.isEmpty()) xml += u"<host-os>%1</host-os>\n"_s.arg(archive.os);
            if (!archive.arch.isEmpty()) xml += u"<host-arch>%1</host-arch>\n"_s.arg(archive.arch);
            xml += u"</archive>\n"_s;
        }
        xml += u"</archives>\n</remotePackage>\n"_s;
    }
    return (xml + u"</"_s + root + u">\n"_s).toUtf8();
}

} // namespace RepositoryFixtures
