#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What the simulated package manager learns from an APK, all through Vantle's own APK reader: the
// package name, and from the manifest's elements the version, SDK levels, the split name of a
// split APK and the launcher activity (the first activity or alias whose intent filter has the
// MAIN action and the LAUNCHER category).
struct ApkFacts {
    QString package;
    QString split; // empty for a base APK
    qint64 versionCode = 0;
    QString versionName;
    int minSdk = 1;
    int targetSdk = 0;
    QString launcherActivity; // "com.example/.MainActivity"; empty when nothing can be launched
    // Activities that receive shared content: an intent filter with the SEND action and the MIME
    // types of its data elements ("image/*").
    struct ShareTarget {
        QString component;
        QStringList mimeTypes;
    };
    QList<ShareTarget> shareTargets;
    // SHA-256 (hex) of the certificate that signed the APK (its v1 signature block,
    // META-INF/<name>.RSA, .DSA or .EC); empty for an unsigned APK. What Android compares when an
    // app is installed over itself.
    QString signer;

    // Nothing when the file is not an APK with a readable manifest and package name.
    static std::optional<ApkFacts> read(const QString& apkPath);
};
