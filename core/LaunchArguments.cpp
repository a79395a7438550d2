#include "core/LaunchArguments.h"

using namespace Qt::Literals::StringLiterals;

LaunchArguments LaunchArguments::parse(const QStringList& arguments) {
    LaunchArguments parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == u"--open-app"_s && hasValue) parsed.openApp = arguments[++i];
        else if (argument == u"--launch-apk"_s && hasValue) parsed.launchApk = arguments[++i];
        else if (argument == u"--android-player"_s) parsed.androidPlayer = true;
    }
    return parsed;
}
