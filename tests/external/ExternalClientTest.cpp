// Which client the external-window mode starts and how: its arguments, its environment, the
// versions it accepts, and the error a failed client leaves.
#include "external/ExternalClient.h"

#include "external/AndroidDisplaySession.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(ExternalClient, ArgumentsRoundTheWindowSizeAndAddPrintFpsOnlyWhenAsked) {
    const QStringList expected{u"--serial"_s,
                               u"emulator-5556"_s,
                               u"--new-display=430x760/240"_s,
                               u"--start-app=+org.example.notes"_s,
                               u"--no-audio"_s,
                               u"--max-fps=60"_s,
                               u"--video-bit-rate=4M"_s,
                               u"--window-borderless"_s,
                               u"--window-title=Vantle · Notes"_s,
                               u"--window-width=430"_s,
                               u"--window-height=760"_s};
    EXPECT_EQ(ExternalClient::arguments(u"emulator-5556"_s, u"org.example.notes"_s, u"Notes"_s,
                                        {429.6, 760.4}, false),
              expected);
    EXPECT_EQ(
        ExternalClient::arguments(u"emulator-5556"_s, u"org.example.notes"_s, u"Notes"_s, {430, 760}, true),
        expected + QStringList{u"--print-fps"_s});
}

TEST(ExternalClient, TheEnvironmentNamesAdbAndTheServerKeepsAShortPathAndDropsDyldVariables) {
    QProcessEnvironment base;
    base.insert(u"HOME"_s, u"/home/u"_s);
    base.insert(u"PATH"_s, u"/home/u/bin:/usr/bin"_s);
    base.insert(u"DYLD_LIBRARY_PATH"_s, u"/x"_s);
    base.insert(u"DYLD_INSERT_LIBRARIES"_s, u"/y"_s);
    base.insert(u"XDYLD_KEPT"_s, u"z"_s);
    const QString adb = u"/rt/sdk/platform-tools/adb"_s;

    ExternalClient::Client bundled{u"/b/Helpers/AndroidBridge/bin/scrcpy"_s, u"/b/server/scrcpy-server"_s,
                                   u"/b/icons"_s, AndroidBridgeComponents::Source::bundled, u"3.1"_s};
    const QProcessEnvironment a = ExternalClient::environment(base, bundled, adb);
    EXPECT_EQ(a.value(u"ADB"_s), adb);
    EXPECT_EQ(a.value(u"SCRCPY_SERVER_PATH"_s), u"/b/server/scrcpy-server"_s);
    EXPECT_EQ(a.value(u"SCRCPY_ICON_DIR"_s), u"/b/icons"_s);
    EXPECT_EQ(a.value(u"PATH"_s), u"/rt/sdk/platform-tools:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_EQ(a.value(u"HOME"_s), u"/home/u"_s);
    EXPECT_EQ(a.value(u"XDYLD_KEPT"_s), u"z"_s);
    EXPECT_FALSE(a.contains(u"DYLD_LIBRARY_PATH"_s));
    EXPECT_FALSE(a.contains(u"DYLD_INSERT_LIBRARIES"_s));

    // An installed client: its own folder comes second; without a server of its own nothing is set.
    ExternalClient::Client installed{u"/opt/scrcpy/bin/scrcpy"_s, std::nullopt, std::nullopt,
                                     AndroidBridgeComponents::Source::development, u"3.3"_s};
    const QProcessEnvironment d = ExternalClient::environment(base, installed, adb);
    EXPECT_EQ(d.value(u"PATH"_s), u"/rt/sdk/platform-tools:/opt/scrcpy/bin:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_FALSE(d.contains(u"SCRCPY_SERVER_PATH"_s));
    EXPECT_FALSE(d.contains(u"SCRCPY_ICON_DIR"_s));
}

TEST(ExternalClient, OnlyClientsFromVersionThreeOnKnowVirtualDisplays) {
    const struct {
        QString output;
        std::optional<QString> version;
        bool accepted;
    } cases[] = {
        {u"scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n\nDependencies…"_s, u"3.1"_s, true},
        {u"scrcpy 1.25 <https://github.com/Genymobile/scrcpy>"_s, u"1.25"_s, false}, // Debian 12
        {u"scrcpy 2.7 <https://github.com/Genymobile/scrcpy>"_s, u"2.7"_s, false},
        {u"scrcpy v10.0"_s, u"10.0"_s, true},
        {u"bash: scrcpy: command not found"_s, std::nullopt, false},
        {QString(), std::nullopt, false},
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
        // The last of several, in either case.
        {{u"ERROR: first"_s, u"adb: error: device offline"_s, exitLine}, u"adb: error: device offline"_s},
        // Six lines back is still searched; seven is not.
        {{u"ERROR: far"_s, u"a"_s, u"b"_s, u"c"_s, u"d"_s, exitLine}, u"ERROR: far"_s},
        {{u"ERROR: too far"_s, u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, exitLine}, unexpected},
        {{u"INFO: all fine"_s, exitLine}, unexpected},
        {{u"Errors are spelled otherwise"_s, exitLine}, unexpected},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AndroidDisplaySession::failureText(1, c.log.join(u'\n')), c.error)
            << c.log.join(u'|').toStdString();
}

} // namespace
