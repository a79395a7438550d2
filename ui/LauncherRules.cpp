#include "ui/LauncherRules.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace LauncherRules {

QString greeting(int localHour) {
    if (localHour >= 5 && localHour <= 11) return u"Good morning"_s;
    if (localHour >= 12 && localHour <= 16) return u"Good afternoon"_s;
    if (localHour >= 17 && localHour <= 21) return u"Good evening"_s;
    return u"Good night"_s;
}

int gridColumns(int panelWidth) {
    constexpr int minimumWidth = 280, margins = 24, tileStride = 84;
    return std::clamp((std::max(panelWidth, minimumWidth) - margins) / tileStride, 3, 6);
}

AndroidStateText describe(AndroidState state, StartPace pace) {
    switch (state) {
    case AndroidState::ready:
        return {u"Ready"_s, u"Android is running. Apps open instantly."_s, u"Android is ready"_s,
                u"Apps open instantly."_s};
    case AndroidState::starting:
        return {u"Starting"_s, u"Android is starting."_s, u"Starting Android"_s,
                pace == StartPace::slow ? u"Android is taking longer than usual to start."_s
                                        : u"Your app opens in a few seconds."_s};
    case AndroidState::sleeping:
        return {u"Sleeping"_s, u"Android is off to save memory. It starts when you open an app."_s,
                u"Android is sleeping"_s, u"Opening an app wakes it in about 10 seconds."_s};
    case AndroidState::notSetUp:
        break;
    }
    return {u"Set up"_s, u"Android has not been set up yet."_s, u"Android is not set up"_s,
            u"Set it up above to start using apps."_s};
}

QString nothingMatches(const QString& query) {
    return u"Nothing matches “"_s + query + u"”"_s;
}

} // namespace LauncherRules

namespace LauncherRules {

Page page(bool runtimeComplete, bool setupRequested, bool libraryEmpty) {
    if (!runtimeComplete || setupRequested) return Page::setup;
    return libraryEmpty ? Page::empty : Page::library;
}

} // namespace LauncherRules
