// A real app window: its header, Back, hiding and showing it again, losing the focus, and the commands.
#include "NotesWindowFixture.h"
#include "platform/Locations.h"
#include "stream/AndroidStreamClient.h"
#include "windows/AndroidAppPanel.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

class AppWindowTest : public CommandedWindowFixture {
protected:
    static void click(AndroidWindowSession* session, const char* button) {
        session->panel()->findChild<QToolButton*>(QLatin1StringView(button))->click();
    }
    qsizetype deviceCount(const std::function<bool(const QJsonObject&)>& match) const {
        const QList<QJsonObject> events = device().received();
        return std::count_if(events.cbegin(), events.cend(), match);
    }
    bool deviceReceived(const std::function<bool(const QJsonObject&)>& match) const {
        return waitUntil([&] { return deviceCount(match) > 0; }, 5000);
    }
    static QStringList ledger() {
        QFile file(Locations::serverLedger());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
};

// Paste, copy and drop reach the window. Hide and Home put the window away with its stream
// running; opening the app again shows that same window, unread mark cleared, without a second
// display server. Losing the focus hides it unless pinned or told not to; Back closes it.
TEST_F(AppWindowTest, PasteCopyDropHideHomeFocusAndTwoBacksOnOneWindow) {
    QList<QRectF> homeShown; // frames the home panel was shown at
    registry.setHomePanel(
        {[&](QRectF frame) { homeShown.append(frame); }, [] { return std::nullopt; }, [] {}});
    const auto unset = qScopeGuard([&] { registry.setHomePanel({}); });
    // Without a window the commands are delivered and do nothing.
    EXPECT_EQ(sendFromAnotherThread(u"paste"_s), CommandDelivery::delivered);
    AndroidWindowSession* session = open();
    device().clearReceived();

    QGuiApplication::clipboard()->setText(u"from the desktop"_s);
    EXPECT_EQ(sendFromAnotherThread(u"paste"_s), CommandDelivery::delivered);
    EXPECT_TRUE(deviceReceived([](const QJsonObject& event) {
        return event.value(u"text"_s).toString() == u"from the desktop"_s && event.value(u"paste"_s).toBool();
    }));
    EXPECT_EQ(sendFromAnotherThread(u"copy"_s), CommandDelivery::delivered);
    EXPECT_TRUE(deviceReceived([](const QJsonObject& event) { return event.contains(u"copyKey"_s); }));

    EXPECT_EQ(sendFromAnotherThread(u"drop:/tmp/Report.pdf"_s), CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return since.count(u"files dropped on "_s + package) == 1; }));
    // A file name cannot forge log lines either.
    EXPECT_EQ(sendFromAnotherThread(u"drop:/tmp/a\n2026-12-06T10:00:00.000Z forged"_s),
              CommandDelivery::delivered);
    EXPECT_TRUE(waitUntil([&] { return since.count(u"files dropped on "_s + package) == 2; }));
    EXPECT_EQ(since.count(u"2026-12-06T10:00:00.000Z forged"_s), 0);

    const AndroidStreamClient* client = session->client().get();
    for (const char* putAway : {"hide", "home"}) {
        SCOPED_TRACE(putAway);
        const QRectF frame = session->panel()->frameGeometry();
        click(session, putAway);
        EXPECT_FALSE(session->panel()->isVisible());
        registry.setUnread(appID, true);
        EXPECT_EQ(open(), session);
        EXPECT_TRUE(session->panel()->isVisible());
        EXPECT_EQ(session->client().get(), client);
        EXPECT_FALSE(registry.unreadAppIDs().contains(appID));
        EXPECT_EQ(homeShown.size(), QLatin1StringView(putAway) == "home"_L1 ? 1 : 0);
        if (!homeShown.isEmpty()) {
            EXPECT_EQ(homeShown.first().topLeft(), frame.topLeft()); // in its place
        }
    }
    EXPECT_EQ(since.count(u"native window open package="_s + package), 1);
    // The one display server's host process is on record while it runs (a killed Vantle's successor
    // ends it from there), and off it once the window closed.
    EXPECT_EQ(ledger().size(), 1);

    // Another window becoming active hides an unpinned window unless "VantleAutoHide" is stored as
    // false (a value of another type counts as true); a pinned window always stays.
    const struct {
        const char* name;
        QVariant autoHide; // invalid: not stored
        bool pinned;
        bool staysVisible;
    } cases[] = {
        {"default", {}, false, false},
        {"off", false, false, true},
        {"not a boolean", u"false"_s, false, false},
        {"pinned", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.autoHide.isValid()) VantleSettings::set(SettingsKeys::autoHide, c.autoHide);
        if (session->isPinned() != c.pinned) click(session, "pin");
        open();
        ASSERT_TRUE(session->panel()->isVisible());
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(session->panel(), &deactivate);
        EXPECT_EQ(session->panel()->isVisible(), c.staysVisible);
    }
    // The pin is remembered for the package's next window.
    EXPECT_TRUE(VantleSettings::readDictionary(SettingsKeys::window.key(package))
                    .value_or(QVariantMap())
                    .value(u"pinned"_s)
                    .toBool());

    // Two Backs 0.1 s apart: both reach Android (the first one leaves the app), and the window closes
    // once, with one home panel in its place, although the checks of both presses find the app gone.
    device().clearReceived();
    click(session, "back");
    QTest::qWait(100);
    session->handleBack(); // Esc or a right click on the video
    ASSERT_TRUE(waitUntil([&] { return registry.sessions().isEmpty(); }, 10000));
    EXPECT_EQ(deviceCount([](const QJsonObject& event) { return event.value(u"message"_s).toInt() == 4; }),
              4); // down and up, twice
    EXPECT_EQ(since.count(u"back left "_s + package + u": closing window, showing Vantle home"_s), 1);
    EXPECT_EQ(since.count(u"close package="_s + package), 1);
    EXPECT_EQ(since.count(u"close package="_s + package + u" reason=back on first screen"_s), 1);
    EXPECT_EQ(homeShown.size(), 2);
    EXPECT_TRUE(waitUntil([] { return ledger().isEmpty(); }));
}

} // namespace
