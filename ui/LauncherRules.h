#pragma once

#include "core/AppLibraryStore.h"

#include <QString>
#include <chrono>

// The few fixed rules of the launcher, free of widgets so they can be checked directly.
namespace LauncherRules {

// "Good morning" (5–11), "Good afternoon" (12–16), "Good evening" (17–21), else "Good night".
QString greeting(int localHour);

// Tile columns for a panel width: ⌊(max(width, 280) − 24) / 84⌋, kept within 3…6.
int gridColumns(int panelWidth);

// How Android's state reads in the pill (label and help) and in the dock (title and subtitle).
struct AndroidStateText {
    QString pillLabel;
    QString pillHelp;
    QString dockTitle;
    QString dockSubtitle;
};
// A start that has taken `slowStart` or longer reads as slow: the dock then says that Android is
// taking longer than usual instead of promising the app in a few seconds.
enum class StartPace { usual, slow };
inline constexpr std::chrono::seconds slowStart{30};
AndroidStateText describe(AndroidState state, StartPace pace = StartPace::usual);

// "Nothing matches “<query>”", the query as typed.
QString nothingMatches(const QString& query);

} // namespace LauncherRules

namespace LauncherRules {

// What fills the launcher: the Android set-up while Android is incomplete or the set-up is asked
// for, the invitation to add a first app while the library is empty, else the apps.
enum class Page { setup, empty, library };
Page page(bool runtimeComplete, bool setupRequested, bool libraryEmpty);

} // namespace LauncherRules
