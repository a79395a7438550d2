#include "ui/LauncherRules.h"

#include "ui/HomePanelController.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(LauncherRules, GreetingChangesAtTheHourBoundaries) {
    const QList<QPair<int, QString>> cases = {
        {0, u"Good night"_s},    {4, u"Good night"_s},      {5, u"Good morning"_s},
        {11, u"Good morning"_s}, {12, u"Good afternoon"_s}, {16, u"Good afternoon"_s},
        {17, u"Good evening"_s}, {21, u"Good evening"_s},   {22, u"Good night"_s},
        {23, u"Good night"_s},
    };
    for (const auto& [hour, greeting] : cases)
        EXPECT_EQ(LauncherRules::greeting(hour), greeting) << hour;
}

// Narrow panels count as 280 wide; 359 is just under four columns of 84 after the margins.
TEST(LauncherRules, GridColumnsCountNarrowPanelsAsMinimumWidthAndStayWithinThreeToSix) {
    const QList<QPair<int, int>> cases = {{-50, 3}, {0, 3},   {200, 3}, {359, 3}, {360, 4},
                                          {390, 4}, {528, 6}, {600, 6}, {1000, 6}};
    for (const auto& [width, columns] : cases)
        EXPECT_EQ(LauncherRules::gridColumns(width), columns) << width;
}

// Centred under the icon 4 pixels below it (above it from a bottom bar), 6 pixels from the edges.
TEST(HomePanelPlacement, CentresUnderTheIconAndKeepsSixPixelsFromTheEdges) {
    const QRect screen(0, 0, 1920, 1080);
    const struct {
        QRect icon, screen;
        QPoint expected;
    } cases[] = {
        {QRect(950, 0, 20, 24), screen, QPoint(765, 28)},
        {QRect(1900, 0, 20, 24), screen, QPoint(1920 - 390 - 6, 28)},
        {QRect(0, 0, 20, 24), screen, QPoint(6, 28)},
        {QRect(950, 1056, 20, 24), screen, QPoint(765, 1056 - 4 - 760)},
        {QRect(950, 1056, 20, 24), QRect(0, 0, 1920, 600), QPoint(765, 6)}, // taller than the screen
        {QRect(3830, 0, 20, 24), QRect(1920, 0, 1920, 1080), QPoint(3840 - 390 - 6, 28)}, // a second screen
    };
    for (const auto& c : cases)
        EXPECT_EQ(HomePanelController::placement(c.icon, c.screen, QSize(390, 760)), c.expected)
            << c.icon.x();
}
