// How the client names its session and starts the server.
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "stream/AndroidStreamClient.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

std::shared_ptr<AndroidStreamClient> makeClient(QSizeF pixelSize = {1080, 2088}) {
    return AndroidStreamClient::create({u"/sdk/platform-tools/adb"_s, u"emulator-5556"_s,
                                        u"/app/scrcpy-server"_s, u"org.example.notes"_s, pixelSize, 320,
                                        8'000'000, 60},
                                       nullptr, nullptr);
}

TEST(ServerArgumentsTest, TheEighteenArgumentsInOrder) {
    ScopedSettings settings;
    const auto client = makeClient();
    const QString scid = u"%1"_s.arg(client->scid(), 8, 16, QChar(u'0'));
    EXPECT_EQ(client->serverArguments(),
              (QStringList{
                  u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                  u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s, u"5.0.1"_s, u"scid="_s + scid,
                  u"log_level=info"_s, u"audio_codec=raw"_s, u"video_bit_rate=8000000"_s, u"max_fps=60"_s,
                  u"new_display=1080x2088/320"_s, u"flex_display=true"_s, u"vd_system_decorations=false"_s,
                  u"clipboard_autosync=true"_s, u"power_on=false"_s}));
    EXPECT_EQ(client->socketName(), u"scrcpy_"_s + scid);
}

TEST(ServerArgumentsTest, SmallSessionIdsKeepTheirLeadingZeros) {
    // About one id in eight is below 16^7; draw until one is.
    std::shared_ptr<AndroidStreamClient> client;
    for (int i = 0; i < 400 && (!client || client->scid() >= 0x10000000u); ++i)
        client = makeClient();
    ASSERT_LT(client->scid(), 0x10000000u);
    EXPECT_GE(client->scid(), 1u);
    static const QRegularExpression name(u"^scrcpy_0[0-9a-f]{7}$"_s);
    EXPECT_TRUE(name.match(client->socketName()).hasMatch()) << client->socketName().toStdString();
    EXPECT_EQ(client->serverArguments().at(8), u"scid="_s + client->socketName().mid(7));
    EXPECT_EQ(client->socketName().mid(7).toUInt(nullptr, 16), client->scid());
}

TEST(ServerArgumentsTest, TheDisplaySizeIsTruncatedToMultiplesOfEight) {
    EXPECT_EQ(AndroidStreamClient::displaySize({780, 1448.9}), QSize(776, 1448));
    EXPECT_EQ(AndroidStreamClient::displaySize({7.9, 8}), QSize(0, 8));
    EXPECT_TRUE(makeClient({780, 1448.9})->serverArguments().contains(u"new_display=776x1448/320"_s));
}

TEST(ServerArgumentsTest, AudioIsOffOnlyWhenStoredAsFalse) {
    {
        ScopedSettings settings;
        VantleSettings::set(SettingsKeys::forwardAudio, u"false"_s); // not a boolean: audio stays on
        EXPECT_TRUE(makeClient()->forwardsAudio());
    }
    ScopedSettings settings;
    EXPECT_TRUE(makeClient()->forwardsAudio()); // absent
    VantleSettings::set(SettingsKeys::forwardAudio, false);
    const auto client = makeClient();
    EXPECT_FALSE(client->forwardsAudio());
    EXPECT_EQ(client->serverArguments().at(10), u"audio=false"_s);
}

TEST(ServerArgumentsTest, TheDisplayIdIsTheFirstIdInTheServerOutput) {
    EXPECT_EQ(AndroidStreamClient::displayIDIn(u"[server] INFO: New display: 776x1448/320 (id=7)\n"_s), 7);
    EXPECT_EQ(AndroidStreamClient::displayIDIn(u"x(id=12) then (id=3)"_s), 12);
    EXPECT_EQ(AndroidStreamClient::displayIDIn(u"[server] INFO: Device: Google sdk_gphone64 (Android 15)"_s),
              std::nullopt);
    EXPECT_EQ(AndroidStreamClient::displayIDIn(u"(id=) (id=x7) id=7"_s), std::nullopt);
    EXPECT_EQ(AndroidStreamClient::displayIDIn(u"(id=99999999999999)"_s), std::nullopt); // not an int
}

TEST(ServerArgumentsTest, AnUnaskedEndIsExplainedByTheServersLastErrorLine) {
    const QList<QPair<QString, std::optional<QString>>> cases = {
        {u"[server] INFO: Device: x\n[server] ERROR: first\n[server] ERROR: simulated crash after 5 frames\n"_s,
         u"simulated crash after 5 frames"_s},
        // A Java exception's trace follows its error line; the error line is what counts.
        {u"[server] ERROR: Exception on thread Thread[main,5,main]\njava.io.IOException: x\n\tat y\n"_s,
         u"Exception on thread Thread[main,5,main]"_s},
        {u"[server] ERROR: no newline at the end"_s, u"no newline at the end"_s},
        {u"[server] WARN: No app found for package \"x\"\n"_s, std::nullopt},
        {u"[server] ERROR:   \n"_s, std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto& [output, reason] : cases)
        EXPECT_EQ(AndroidStreamClient::lastServerError(output), reason) << output.toStdString();
}

} // namespace
