#include "sim/SimLayout.h"

#include <QDir>
#include <QRegularExpression>
#include <filesystem>

using namespace Qt::Literals::StringLiterals;

namespace SimLayout {

QString avdName(int api) {
    return api == 35 ? u"Vantle"_s : u"Vantle-%1"_s.arg(api);
}
QString sdkRoot(const QString& runtimeRoot) {
    return runtimeRoot + u"/sdk"_s;
}
QString avdHome(const QString& runtimeRoot) {
    return runtimeRoot + u"/avd"_s;
}

QString systemImageFolder(const QString& sdk, int api) {
    return u"%1/system-images/android-%2/default/%3"_s.arg(sdk).arg(api).arg(QLatin1StringView(abi));
}

QString avdFolder(const QString& avdHome, const QString& name) {
    return avdHome + u'/' + name + u".avd"_s;
}
QString deviceData(const QString& avdFolder) {
    return avdFolder + u"/device/data"_s;
}
QStringList displayServerWords(const QString& shellCommand) {
    static const QRegularExpression blanks(u"\\s+"_s);
    const QStringList words = shellCommand.split(blanks, Qt::SkipEmptyParts);
    if (words.size() >= 2 && words[0].startsWith(u"CLASSPATH="_s) && words[1] == u"app_process"_s)
        return words;
    return {};
}

QString displayServerProgram(const QString& sdk) {
    return simFolder(sdk) + u"/display-server"_s;
}

QString simFolder(const QString& sdk) {
    return sdk + u"/emulator/sim"_s;
}
QString runFolder(const QString& sdk) {
    return sdk + u"/.sim-run"_s;
}

QString sdkOfExecutable(int levelsUp) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    for (int i = 0; i <= levelsUp; ++i)
        path = path.parent_path();
    return QString::fromStdString(path.string());
}

QString androidVersionName(int api) {
    switch (api) {
    case 30:
        return u"Android 11"_s;
    case 31:
        return u"Android 12"_s;
    case 32:
        return u"Android 12L"_s;
    case 33:
        return u"Android 13"_s;
    case 34:
        return u"Android 14"_s;
    case 35:
        return u"Android 15"_s;
    case 36:
        return u"Android 16"_s;
    default:
        return u"Android (API %1)"_s.arg(api);
    }
}

} // namespace SimLayout
