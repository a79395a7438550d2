#pragma once

#include <QList>
#include <QString>

// The Android versions Vantle offers, and which one the user chose.
namespace AndroidVersions {

struct Version {
    int api;
    const char* name;
};

// In the order the settings page lists them.
const QList<Version>& all();
// The stored "VantleAndroidAPI" when it is one of all(), else 35.
int selected();
// "Android 14", or "Android (API 29)" for a level Vantle does not offer.
QString name(int api);
// The offered levels whose managed runtime is complete, in table order.
QList<int> installed();

} // namespace AndroidVersions
