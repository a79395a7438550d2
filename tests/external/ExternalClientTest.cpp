// Which installed clients the external-window mode accepts, and the error a failed client leaves.
#include "external/ExternalClient.h"

#include "external/AndroidDisplaySession.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(ExternalClient, OnlyClientsFromVersionThreeOnKnowVirtualDisplays) {
    const struct {
        QString output;
        std::optional<QString> version;
        bool accepted;
    } cases[] = {
        {u"scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n\nDependencies…"_s, u"3.1"_s, true},
        {u"scrcpy 1.25 <https://github.com/Genymobile/scrcpy>"_s, u"1.25"_s, false}, // Debian 12
        {u"scrcpy 2.7"_s, u"2.7"_s, false},
        {u"scrcpy v10.0"_s, u"10.0"_s, true},
        {u"sh: scrcpy: not found"_s, std::nullopt, false},
    };
    for (const auto& c : cases) {
        const std::optional<QString> version = ExternalClient::parseVersion(c.output);
        EXPECT_EQ(version, c.version) << c.output.toStdString();
        EXPECT_EQ(version && ExternalClient::acceptsVirtualDisplays(*version), c.accepted)
            << c.output.toStdString();
    }
}

TEST(ExternalClient, AFailedClientReportsTheLastErrorLineOfItsFinalSixLogLines) {
    const QString exitLine = u"Vantle: bridge exited status=1 reason=exit after 0.4s"_s;
    const QString unexpected = u"The smooth display bridge stopped unexpectedly (code 1)."_s;
    const struct {
        QStringList log;
        QString error;
    } cases[] = {
        {{u"INFO: Renderer: opengl"_s, u"ERROR: Could not create display"_s, exitLine},
         u"ERROR: Could not create display"_s},
        {{u"ERROR: first"_s, u"adb: error: device offline"_s, exitLine}, u"adb: error: device offline"_s},
        // Six lines back is still searched; seven is not.
        {{u"ERROR: far"_s, u"a"_s, u"b"_s, u"c"_s, u"d"_s, exitLine}, u"ERROR: far"_s},
        {{u"ERROR: too far"_s, u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, exitLine}, unexpected},
        {{u"Errors are spelled otherwise"_s, exitLine}, unexpected},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AndroidDisplaySession::failureText(1, c.log.join(u'\n')), c.error)
            << c.log.join(u'|').toStdString();
}

} // namespace
