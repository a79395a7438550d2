#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

// Reads one of Google's SDK repository lists (repository2-3.xml, sys-img2-3.xml). Their shape, as
// published by Google's SDK manager (only what Vantle reads is shown; prefixes vary and are
// ignored, elements are matched by local name):
//
//   <sdk:sdk-repository xmlns:sdk=… xmlns:common=…>
//     <license id="android-sdk-license" type="text">…licence text…</license>
//     <channel id="channel-0">stable</channel>
//     <remotePackage path="platform-tools">
//       <revision><major>35</major><minor>0</minor><micro>2</micro></revision>
//       <display-name>Android SDK Platform-Tools</display-name>
//       <uses-license ref="android-sdk-license"/>
//       <channelRef ref="channel-0"/>
//       <archives>
//         <archive>
//           <complete>
//             <size>6921394</size>
//             <checksum type="sha1">0123…</checksum>
//             <url>platform-tools_r35.0.2-linux.zip</url>   (relative to the list's folder)
//           </complete>
//           <host-os>linux</host-os>
//           <host-arch>x64</host-arch>                        (optional)
//         </archive>
//       </archives>
//     </remotePackage>
//   </sdk:sdk-repository>
//
// A revision inside an archive (patches) is not the package's revision and is skipped.
class RepositoryParser {
public:
    struct Archive {
        QString url;
        qint64 size = 0;
        QString sha1;
        QString os;
        QString arch;
    };
    struct Package {
        QString path;
        QString displayName;
        QString channel;
        QString licenseRef;
        QList<int> revision;
        QList<Archive> archives;
    };

    // Reads the whole document; false when it is not well-formed XML (see errorString()).
    bool parse(const QByteArray& document);
    QString errorString() const { return m_error; }

    QMap<QString, QString> licenses;
    QList<Package> packages; // completed packages, in document order

private:
    void startElement(const QString& name, const class QXmlStreamAttributes& attributes);
    void endElement(const QString& name);

    std::optional<Package> m_current;
    std::optional<QString> m_licenseID;
    QString m_text;
    std::optional<Archive> m_archive;
    bool m_inRevision = false;
    QMap<QString, int> m_revisionParts;
    QString m_error;
};
