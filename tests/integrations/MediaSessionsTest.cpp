// The media-session reader on dumps laid out as Android 15 prints them.
#include "integrations/AndroidMediaSessions.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// One MediaSessionRecord block as `dumpsys media_session` prints it.
QString block(const QString& package, const QString& state, const QString& description) {
    return u"    MediaSession %1/MediaSession (userId=0)\n"
           u"      ownerPid=4211, ownerUid=10123, userId=0\n"
           u"      package=%1\n"
           u"      active=true\n"
           u"      state=PlaybackState {state=%2, position=0, buffered position=0, speed=1.0, updated=1, "
           u"actions=823, custom actions=[], active item id=-1, error=null}\n"
           u"      metadata: size=4, description=%3\n"
           u"      queueTitle=null, size=0\n"_s.arg(package, state, description);
}

QString dump(const QStringList& blocks) {
    return u"MEDIA SESSION SERVICE (dumpsys media_session)\n\n  Sessions Stack - have %1 sessions:\n"_s.arg(
               blocks.size()) +
           blocks.join(QString()) + u"\n  Media button session is null\n"_s;
}

const QString player = u"org.example.player"_s;

TEST(MediaSessions, ReadsTheFirstTitledBlockOfThePackage) {
    const QString longTitle(5000, u'x');
    const struct {
        const char* name;
        QString output;
        std::optional<AndroidMedia> expected;
    } cases[] = {
        {"playing", dump({block(player, u"3"_s, u"Song, Singer, Album"_s)}),
         AndroidMedia{u"Song"_s, u"Singer"_s, true}},
        {"paused", dump({block(player, u"2"_s, u"Song, Singer, Album"_s)}),
         AndroidMedia{u"Song"_s, u"Singer"_s, false}},
        {"state 30 is not playing", dump({block(player, u"30"_s, u"Song, Singer"_s)}),
         AndroidMedia{u"Song"_s, u"Singer"_s, false}},
        {"the word PLAYING",
         u"package=org.example.player\nstate=PlaybackState {state=PLAYING(3)}\n"
         u"metadata: size=1, description=Song\n"_s,
         AndroidMedia{u"Song"_s, {}, true}},
        {"one part, no artist", dump({block(player, u"3"_s, u"Song"_s)}), AndroidMedia{u"Song"_s, {}, true}},
        {"null artist", dump({block(player, u"3"_s, u"Song, null, null"_s)}),
         AndroidMedia{u"Song"_s, {}, true}},
        {"null title", dump({block(player, u"3"_s, u"null, Singer, null"_s)}), std::nullopt},
        {"null, null", dump({block(player, u"3"_s, u"null, null"_s)}), std::nullopt},
        {"another package only", dump({block(u"org.example.other"_s, u"3"_s, u"Other, Band"_s)}),
         std::nullopt},
        {"a longer package name", dump({block(player + u"x"_s, u"3"_s, u"Other, Band"_s)}), std::nullopt},
        {"after another package",
         dump({block(u"org.example.other"_s, u"3"_s, u"Other, Band"_s),
               block(player, u"2"_s, u"Song, Singer"_s)}),
         AndroidMedia{u"Song"_s, u"Singer"_s, false}},
        {"second block of the package unread",
         dump({block(player, u"2"_s, u"First, One"_s), block(player, u"3"_s, u"Second, Two"_s)}),
         AndroidMedia{u"First"_s, u"One"_s, false}},
        {"playing without a title",
         u"package=org.example.player\nstate=PlaybackState {state=3, position=0}\n"
         u"metadata: size=0\n"_s,
         std::nullopt},
        {"tabs, spaces and blank lines",
         u"\n\t package=org.example.player \t\n\n\t\tstate=PlaybackState "
         u"{state=3, x}\r\n  metadata: size=2, description=Song, Singer\t\n"_s,
         AndroidMedia{u"Song"_s, u"Singer"_s, true}},
        {"no trailing line feed", u"package=org.example.player\nmetadata: description=Song, Singer"_s,
         AndroidMedia{u"Song"_s, u"Singer"_s, false}},
        {"an overlong title is cut", u"package=org.example.player\nmetadata: description="_s + longTitle,
         AndroidMedia{longTitle.left(AndroidMediaSessions::maxFieldChars), {}, false}},
        {"empty", QString(), std::nullopt},
        {"text that is no dump", u"Can't find service: media_session\n"_s, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AndroidMedia> media = AndroidMediaSessions::parse(c.output, player);
        ASSERT_EQ(media.has_value(), c.expected.has_value());
        if (media) {
            EXPECT_EQ(media->title.toStdString(), c.expected->title.toStdString());
            EXPECT_EQ(media->artist.toStdString(), c.expected->artist.toStdString());
            EXPECT_EQ(media->playing, c.expected->playing);
        }
    }
}

// Lines before the first session belong to no package: a window without a package reads nothing.
TEST(MediaSessions, AnEmptyPackageMatchesNothing) {
    EXPECT_FALSE(AndroidMediaSessions::parse(u"metadata: description=Song, Singer\n"_s, QString()));
}

} // namespace
