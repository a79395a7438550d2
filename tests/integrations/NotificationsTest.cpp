// The notification dump reader and the watch's announcement rules (with a stepped clock).
#include "integrations/AndroidNotifications.h"
#include "integrations/NotificationWatch.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Readable failures.
void PrintTo(const AndroidNotification& n, std::ostream* out) {
    *out << (n.key + u" pkg="_s + n.package + u" title="_s + n.title + u" text="_s + n.text).toStdString()
         << " ongoing=" << n.ongoing << " media=" << n.isMedia;
}

namespace {

// A record as Android 15 prints it.
QString record(const QString& key, const QString& pkg, const QString& flags, const QString& title,
               const QString& text, const QString& more = {}) {
    return u"    NotificationRecord(0x0a1b: pkg=%1 user=UserHandle{0} id=1 tag=null importance=3 key=%2: "
           u"Notification(channel=default defaults=0x0 flags=0x%3 color=0x00000000 vis=PRIVATE))\n"
           u"      uid=10123 userId=0\n      extras={\n"
           u"        android.title=%4\n        android.text=%5\n%6      }\n"_s.arg(pkg, key, flags, title,
                                                                                   text, more);
}

TEST(AndroidNotificationsTest, ReadsRecordsAsAndroidPrintsThem) {
    const QString chat = u"0|org.chat|7|null|10123"_s;
    const struct {
        const char* name;
        QString dump;
        QList<AndroidNotification> expected;
    } cases[] = {
        {"plain",
         record(chat, u"org.chat"_s, u"10"_s, u"String (Anna)"_s, u"String (Hi)"_s),
         {{chat, u"org.chat"_s, u"Anna"_s, u"Hi"_s, false, false}}},
        {"parentheses in the value are kept",
         record(chat, u"org.chat"_s, u"0"_s, u"String (A (b))"_s, u"String (see (1) and (2))"_s),
         {{chat, u"org.chat"_s, u"A (b)"_s, u"see (1) and (2)"_s, false, false}}},
        {"ongoing 0x2",
         record(chat, u"org.chat"_s, u"62"_s, u"String (T)"_s, u"String ()"_s),
         {{chat, u"org.chat"_s, u"T"_s, u""_s, true, false}}},
        {"foreground 0x40",
         record(chat, u"org.chat"_s, u"40"_s, u"String ()"_s, u"String (x)"_s),
         {{chat, u"org.chat"_s, u""_s, u"x"_s, true, false}}},
        {"flags not a number",
         record(chat, u"org.chat"_s, u"zz"_s, u"String (T)"_s, u"String (x)"_s),
         {{chat, u"org.chat"_s, u"T"_s, u"x"_s, false, false}}},
        {"media session extra",
         record(chat, u"org.chat"_s, u"0"_s, u"String (Song)"_s, u"String (Band)"_s,
                u"        android.mediaSession=MediaSession.Token {Binder}\n"_s),
         {{chat, u"org.chat"_s, u"Song"_s, u"Band"_s, false, true}}},
        {"redacted extras have no value",
         record(chat, u"org.chat"_s, u"0"_s, u"String [length=4]"_s, u"String [length=2]"_s),
         {}},
        {"no key",
         record(u""_s, u"org.chat"_s, u"0"_s, u"String (T)"_s, u"String (x)"_s).replace(u"key=: "_s, u""_s),
         {}},
        {"a later record of the key replaces the earlier",
         record(chat, u"org.chat"_s, u"0"_s, u"String (old)"_s, u"String (a)"_s) +
             record(chat, u"org.chat"_s, u"0"_s, u"String (new)"_s, u"String (b)"_s),
         {{chat, u"org.chat"_s, u"new"_s, u"b"_s, false, false}}},
        {"lines before the first record are ignored",
         u"android.title=String (stray)\nandroid.text=String (stray)\n"_s,
         {}},
        {"a lone ')' before '('",
         record(chat, u"org.chat"_s, u"0"_s, u"String )x("_s, u"String (t)"_s),
         {{chat, u"org.chat"_s, u""_s, u"t"_s, false, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AndroidNotifications::parse(c.dump), c.expected);
    }
}

TEST(AndroidNotificationsTest, CapsWhatItKeeps) {
    QString dump;
    for (int i = 0; i < AndroidNotifications::maxNotifications + 5; ++i)
        dump += record(QString::number(i), u"p"_s, u"0"_s, u"String (t)"_s, u"String (x)"_s);
    EXPECT_EQ(AndroidNotifications::parse(dump).size(), AndroidNotifications::maxNotifications);
    const QString longTitle(5000, u'a');
    const auto one = AndroidNotifications::parse(
        record(u"k"_s, u"p"_s, u"0"_s, u"String ("_s + longTitle + u')', u"String (x)"_s));
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].title.size(), AndroidNotifications::maxFieldChars);
}

AndroidNotification note(const QString& key, const QString& text, bool ongoing = false, bool media = false) {
    return {key, u"org.chat"_s, u"Anna"_s, text, ongoing, media};
}

TEST(NotificationWatchTest, AnnouncesNewOnesOncePerPollAndPerKeyEveryThirtySeconds) {
    NotificationWatch::Clock::time_point now{};
    NotificationWatch watch([&] { return now; });
    // What was there at the first poll is never announced.
    EXPECT_FALSE(watch.handle({note(u"a"_s, u"hi"_s)}).announce);

    const struct {
        const char* name;
        int advanceSeconds;
        QList<AndroidNotification> poll;
        std::optional<QString> announced; // identity
        qsizetype shown;
    } steps[] = {
        {"unchanged", 1, {note(u"a"_s, u"hi"_s)}, std::nullopt, 1},
        {"two new: the newest, only",
         1,
         {note(u"a"_s, u"hi"_s), note(u"b"_s, u"1"_s), note(u"c"_s, u"1"_s)},
         u"c|Anna|1"_s,
         3},
        {"the other one next poll",
         1,
         {note(u"a"_s, u"hi"_s), note(u"b"_s, u"1"_s), note(u"c"_s, u"1"_s)},
         std::nullopt,
         3}, // b was seen at the last poll: it is not new any more
        {"update in place within 30 s", 10, {note(u"c"_s, u"2"_s)}, std::nullopt, 1},
        {"update in place after 30 s", 31, {note(u"c"_s, u"3"_s)}, u"c|Anna|3"_s, 1},
        {"ongoing and media are neither shown nor announced",
         60,
         {note(u"o"_s, u"x"_s, true), note(u"m"_s, u"x"_s, false, true)},
         std::nullopt,
         0},
        {"and stay seen when they stop being ongoing", 1, {note(u"o"_s, u"x"_s)}, std::nullopt, 1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        now += std::chrono::seconds(step.advanceSeconds);
        const NotificationWatch::Outcome outcome = watch.handle(step.poll);
        EXPECT_EQ(outcome.announce ? std::optional(outcome.announce->identity()) : std::nullopt,
                  step.announced);
        EXPECT_EQ(outcome.shown.size(), step.shown);
    }
    // 30 s exactly is still within the quiet period.
    const AndroidNotification d1 = note(u"d"_s, u"1"_s), d2 = note(u"d"_s, u"2"_s);
    EXPECT_TRUE(watch.handle({d1}).announce);
    now += NotificationWatch::keyQuietPeriod;
    EXPECT_FALSE(watch.handle({d2}).announce);
}

} // namespace
