#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// One archive to download: which package it installs and how to check it.
struct RuntimeArchive {
    QString packagePath; // "platform-tools", "emulator" or "system-images;android-<api>;default;<abi>"
    QString displayName; // may be empty
    QString revision;    // major.minor.micro
    QUrl url;            // absolute
    qint64 size = 0;     // as the list states it
    QString sha1;        // lower-case hexadecimal
    QString licenseID;   // may be empty

    // What the user sees while it downloads: the display name, or the package path without one.
    QString componentName() const { return displayName.isEmpty() ? packagePath : displayName; }
    bool operator==(const RuntimeArchive&) const = default;
};

struct RuntimeLicense {
    QString id;
    QString text; // exactly as the list has it, surrounding whitespace kept
    bool operator==(const RuntimeLicense&) const = default;
};

struct RuntimePlan {
    QList<RuntimeArchive> archives;
    QList<RuntimeLicense> licenses; // sorted by id
    bool operator==(const RuntimePlan&) const = default;
};
