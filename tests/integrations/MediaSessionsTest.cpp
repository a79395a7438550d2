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

const QString player = u"org.example.player"_s, other = u"org.example.other"_s;

// "title|artist|playing" (or "paused"); empty for nothing read.
QString shown(const std::optional<AndroidMedia>& media) {
    return media ? media->title + u'|' + media->artist + (media->playing ? u"|playing"_s : u"|paused"_s)
                 : QString();
}

TEST(MediaSessions, ReadsTheFirstTitledBlockOfThePackage) {
    const QString longTitle(5000, u'x');
    const std::tuple<const char*, QString, QString> cases[] = {
        {"playing", dump({block(player, u"3"_s, u"Song, Singer, Album"_s)}), u"Song|Singer|playing"_s},
        {"state 30 is not playing", dump({block(player, u"30"_s, u"Song, Singer"_s)}),
         u"Song|Singer|paused"_s},
        {"the word PLAYING",
         u"package=org.example.player\nstate=PlaybackState {state=PLAYING(3)}\n"
         u"metadata: size=1, description=Song\n"_s,
         u"Song||playing"_s},
        {"null artist", dump({block(player, u"3"_s, u"Song, null, null"_s)}), u"Song||playing"_s},
        {"null title", dump({block(player, u"3"_s, u"null, Singer, null"_s)}), QString()},
        {"another package only", dump({block(other, u"3"_s, u"Other, Band"_s)}), QString()},
        {"a longer package name", dump({block(player + u"x"_s, u"3"_s, u"Other, Band"_s)}), QString()},
        {"after another package",
         dump({block(other, u"3"_s, u"Other, Band"_s), block(player, u"2"_s, u"Song, Singer"_s)}),
         u"Song|Singer|paused"_s},
        {"second block of the package unread",
         dump({block(player, u"2"_s, u"First, One"_s), block(player, u"3"_s, u"Second, Two"_s)}),
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
