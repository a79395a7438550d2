#include "provisioning/AndroidVersions.h"

#include "runtime/AndroidRuntimePaths.h"

using namespace Qt::Literals::StringLiterals;

namespace AndroidVersions {

const QList<Version>& all() {
    static const QList<Version> versions{{30, "Android 11"}, {31, "Android 12"}, {32, "Android 12L"},
                                         {33, "Android 13"}, {34, "Android 14"}, {35, "Android 15"},
                                         {36, "Android 16"}};
    return versions;
}

// The runtime keeps the same table of levels for its own choice of installation; one rule for both.
int selected() {
    return AndroidRuntimePaths::selectedAPI();
}

QString name(int api) {
    for (const Version& version : all())
        if (version.api == api) return QString::fromLatin1(version.name);
    return u"Android (API %1)"_s.arg(api);
}

QList<int> installed() {
    QList<int> levels;
    for (const Version& version : all())
        if (AndroidRuntimePaths::managed(version.api).isComplete()) levels.append(version.api);
    return levels;
}

} // namespace AndroidVersions
