// The notification and media-session dump readers on dumps as Android 15 prints them, and the watch's
// announcement rules (with a stepped clock).
#include "integrations/AndroidMediaSessions.h"
#include "integrations/AndroidNotifications.h"
#include "integrations/NotificationWatch.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString chat = u"0|org.chat|7|null|10123"_s;

// A record of org.chat as Android 15 prints it.
QString record(const QString& flags, const QString& title, const QString& text, const QString& more = {},
               const QString& key = chat) {
    return u"    NotificationRecord(0x0a1b: pkg=org.chat user=UserHandle{0} id=1 tag=null key=%1: "
           u"Notification(channel=default defaults=0x0 flags=0x%2 color=0x00000000 vis=PRIVATE))\n"
           u"      uid=10123 userId=0\n      extras={\n"
           u"        android.title=%3\n        android.text=%4\n%5      }\n"_s.arg(key, flags, title, text,
                                                                                   more);
}

// "key package title|text", then "|ongoing" and "|media" where set.
QStringList read(const QString& dump) {
    QStringList rows;
    for (const AndroidNotification& n : AndroidNotifications::parse(dump))
        rows.append(n.key + u' ' + n.package + u' ' + n.title + u'|' + n.text +
                    (n.ongoing ? u"|ongoing"_s : u""_s) + (n.isMedia ? u"|media"_s : u""_s));
    return rows;
}

TEST(AndroidNotificationsTest, ReadsRecordsAsAndroidPrintsThem) {
    const QString one = chat + u" org.chat "_s; // what every row read here starts with
    const std::tuple<const char*, QString, QStringList> cases[] = {
        {"plain", record(u"10"_s, u"String (Anna)"_s, u"String (Hi)"_s), {one + u"Anna|Hi"_s}},
        {"parentheses in the value are kept",
         record(u"0"_s, u"String (A (b))"_s, u"String (see (1) and (2))"_s),
         {one + u"A (b)|see (1) and (2)"_s}},
        {"ongoing 0x2", record(u"62"_s, u"String (T)"_s, u"String ()"_s), {one + u"T||ongoing"_s}},
        {"foreground 0x40", record(u"40"_s, u"String ()"_s, u"String (x)"_s), {one + u"|x|ongoing"_s}},
        {"flags not a number", record(u"zz"_s, u"String (T)"_s, u"String (x)"_s), {one + u"T|x"_s}},
        {"media session extra",
         record(u"0"_s, u"String (Song)"_s, u"String (Band)"_s,
                u"        android.mediaSession=MediaSession.Token {Binder}\n"_s),
         {one + u"Song|Band|media"_s}},
        {"redacted extras have no value", record(u"0"_s, u"String [length=4]"_s, u"String [length=2]"_s), {}},
        {"no key",
         record(u"0"_s, u"String (T)"_s, u"String (x)"_s).replace(u"key="_s + chat + u": "_s, u""_s),
         {}},
        {"a later record of the key replaces the earlier",
         record(u"0"_s, u"String (old)"_s, u"String (a)"_s) +
             record(u"0"_s, u"String (new)"_s, u"String (b)"_s),
         {one + u"new|b"_s}},
        {"lines before the first record are ignored",
         u"android.title=String (stray)\nandroid.text=String (stray)\n"_s,
         {}},
        {"a lone ')' before '('", record(u"0"_s, u"String )x("_s, u"String (t)"_s), {one + u"|t"_s}},
    };
    for (const auto& [name, dump, expected] : cases)
        EXPECT_EQ(read(dump).join(u'\n').toStdString(), expected.join(u'\n').toStdString()) << name;

    // What it keeps is capped: the number of notifications and each field's length.
    QString many = record(u"0"_s, u"String ("_s + QString(5000, u'a') + u')', u"String (x)"_s, {}, u"k"_s);
    for (int i = 1; i < AndroidNotifications::maxNotifications + 5; ++i)
        many += record(u"0"_s, u"String (t)"_s, u"String (x)"_s, {}, QString::number(i));
    const QList<AndroidNotification> kept = AndroidNotifications::parse(many);
    ASSERT_EQ(kept.size(), AndroidNotifications::maxNotifications);
    EXPECT_EQ(kept[0].title.size(), AndroidNotifications::maxFieldChars);
}

AndroidNotification note(const QString& key, const QString& text, bool ongoing = false, bool media = false) {
    return {key, u"org.chat"_s, u"Anna"_s, text, ongoing, media};
}

TEST(NotificationWatchTest, AnnouncesNewOnesOncePerPollAndPerKeyEveryThirtySeconds) {
    NotificationWatch::Clock::time_point now{};
    NotificationWatch watch([&] { return now; });
    const AndroidNotification a = note(u"a"_s, u"hi"_s), b = note(u"b"_s, u"1"_s), c = note(u"c"_s, u"1"_s);
    const AndroidNotification ongoing = note(u"o"_s, u"x"_s, true), media = note(u"m"_s, u"x"_s, false, true);
    // What was there at the first poll is never announced.
    EXPECT_FALSE(watch.handle({a}).announce);

    // The poll, the identity announced, how many are shown.
    const std::tuple<const char*, QList<AndroidNotification>, std::optional<QString>, qsizetype> steps[] = {
        {"unchanged", {a}, std::nullopt, 1},
        {"two new: the newest, only", {a, b, c}, u"c|Anna|1"_s, 3},
        {"the other one next poll", {a, b, c}, std::nullopt, 3}, // b was seen at the last poll: not new
        {"ongoing and media are neither shown nor announced", {ongoing, media}, std::nullopt, 0},
        {"and stay seen when they stop being ongoing", {note(u"o"_s, u"x"_s)}, std::nullopt, 1},
    };
    for (const auto& [name, poll, announced, shown] : steps) {
        SCOPED_TRACE(name);
        const NotificationWatch::Outcome outcome = watch.handle(poll);
        EXPECT_EQ(outcome.announce ? std::optional(outcome.announce->identity()) : std::nullopt, announced);
        EXPECT_EQ(outcome.shown.size(), shown);
    }
    // 30 s exactly is still within the quiet period.
    EXPECT_TRUE(watch.handle({note(u"d"_s, u"1"_s)}).announce);
    now += NotificationWatch::keyQuietPeriod;
    EXPECT_FALSE(watch.handle({note(u"d"_s, u"2"_s)}).announce);
}

// One session as `dumpsys media_session` prints it (the lines the reader skips left out).
QString block(const QString& package, const QString& state, const QString& description) {
    return u"    MediaSession %1/MediaSession (userId=0)\n"
           u"      package=%1\n"
           u"      state=PlaybackState {state=%2, position=0, buffered position=0, speed=1.0, updated=1, "
           u"actions=823, custom actions=[], active item id=-1, error=null}\n"
           u"      metadata: size=4, description=%3\n"_s.arg(package, state, description);
}

const QString player = u"org.example.player"_s, other = u"org.example.other"_s;

// "title|artist|playing" (or "paused"); empty for nothing read.
QString shown(const std::optional<AndroidMedia>& media) {
    return media ? media->title + u'|' + media->artist + (media->playing ? u"|playing"_s : u"|paused"_s)
                 : QString();
}

TEST(MediaSessions, ReadsTheFirstTitledBlockOfThePackage) {
    const QString longTitle(5000, u'x');
    const std::tuple<const char*, QString, QString> cases[] = {
        {"playing", block(player, u"3"_s, u"Song, Singer, Album"_s), u"Song|Singer|playing"_s},
        {"state 30 is not playing", block(player, u"30"_s, u"Song, Singer"_s), u"Song|Singer|paused"_s},
        {"the word PLAYING",
         u"package=org.example.player\nstate=PlaybackState {state=PLAYING(3)}\n"
         u"metadata: size=1, description=Song\n"_s,
         u"Song||playing"_s},
        {"null artist", block(player, u"3"_s, u"Song, null, null"_s), u"Song||playing"_s},
        {"null title", block(player, u"3"_s, u"null, Singer, null"_s), QString()},
        {"another package only", block(other, u"3"_s, u"Other, Band"_s), QString()},
        {"a longer package name", block(player + u"x"_s, u"3"_s, u"Other, Band"_s), QString()},
        {"after another package",
         block(other, u"3"_s, u"Other, Band"_s) + block(player, u"2"_s, u"Song, Singer"_s),
         u"Song|Singer|paused"_s},
        {"second block of the package unread",
         block(player, u"2"_s, u"First, One"_s) + block(player, u"3"_s, u"Second, Two"_s),
         u"First|One|paused"_s},
        {"playing without a title",
         u"package=org.example.player\nstate=PlaybackState {state=3, position=0}\nmetadata: size=0\n"_s,
         QString()},
        {"tabs, spaces and blank lines",
         u"\n\t package=org.example.player \t\n\n\t\tstate=PlaybackState "
         u"{state=3, x}\r\n  metadata: size=2, description=Song, Singer\t\n"_s,
         u"Song|Singer|playing"_s},
        {"no trailing line feed", u"package=org.example.player\nmetadata: description=Song, Singer"_s,
         u"Song|Singer|paused"_s},
        {"an overlong title is cut", u"package=org.example.player\nmetadata: description="_s + longTitle,
         longTitle.left(AndroidMediaSessions::maxFieldChars) + u"||paused"_s},
        {"empty", QString(), QString()},
        {"text that is no dump", u"Can't find service: media_session\n"_s, QString()},
    };
    for (const auto& [name, output, expected] : cases)
        EXPECT_EQ(shown(AndroidMediaSessions::parse(output, player)).toStdString(), expected.toStdString())
            << name;
    // Lines before the first session belong to no package: a window without a package reads nothing.
    EXPECT_FALSE(AndroidMediaSessions::parse(u"metadata: description=Song, Singer\n"_s, QString()));
}

} // namespace
