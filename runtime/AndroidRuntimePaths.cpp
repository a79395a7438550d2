#include "runtime/AndroidRuntimePaths.h"

#include "core/SettingsKeys.h"
#include "platform/Locations.h"
#include "runtime/HostDescription.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {
bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
} // namespace

QString AndroidRuntimePaths::adb() const { return sdkRoot + u"/platform-tools/adb"_s; }
QString AndroidRuntimePaths::emulator() const { return sdkRoot + u"/emulator/emulator"_s; }
QString AndroidRuntimePaths::apkanalyzer() const { return sdkRoot + u"/cmdline-tools/latest/bin/apkanalyzer"_s; }

QString AndroidRuntimePaths::systemImage() const {
    return sdkRoot + u"/system-images/android-%1/default/"_s.arg(api) + HostDescription::current().systemImageABI +
           u"/system.img"_s;
}

bool AndroidRuntimePaths::isComplete() const {
    if (!isExecutableFile(adb()) || !isExecutableFile(emulator())) return false;
    if (!QFileInfo::exists(systemImage())) return false;
    return !avdHome || QFileInfo::exists(*avdHome + u'/' + avdName + u".ini"_s);
}

QString AndroidRuntimePaths::managedRoot() { return Locations::runtime(); }

AndroidRuntimePaths AndroidRuntimePaths::managed(int api) {
    const QString root = managedRoot();
    return {root + u"/sdk"_s, root + u"/avd"_s, api == defaultAPI ? u"Vantle"_s : u"Vantle-%1"_s.arg(api), true, api};
}

AndroidRuntimePaths AndroidRuntimePaths::developerSDK() {
    return {Locations::home() + u"/Android/Sdk"_s, std::nullopt, u"Vantle_Android35"_s, false, defaultAPI};
}

const QList<int>& AndroidRuntimePaths::supportedAPILevels() {
    static const QList<int> levels{30, 31, 32, 33, 34, 35, 36};
    return levels;
}

int AndroidRuntimePaths::selectedAPI() {
    const qint64 stored = VantleSettings::get(SettingsKeys::androidAPI);
    return supportedAPILevels().contains(stored) ? int(stored) : defaultAPI;
}

AndroidRuntimePaths AndroidRuntimePaths::current() {
    if (VantleSettings::get(SettingsKeys::useDeveloperSDK)) {
        const AndroidRuntimePaths developer = developerSDK();
        if (developer.isComplete()) return developer;
    }
    const int selected = selectedAPI();
    const AndroidRuntimePaths selectedManaged = managed(selected);
    if (selectedManaged.isComplete()) return selectedManaged;
    return selected == defaultAPI ? developerSDK() : selectedManaged;
}
