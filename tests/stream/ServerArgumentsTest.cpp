// How the client names its session, starts the server and reads the server's output.
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "stream/AndroidStreamClient.h"
#include "support/TestSupport.h"

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
    const auto client = makeClient({780, 1448.9}); // each side truncated to a multiple of 8
    const QString scid = u"%1"_s.arg(client->scid(), 8, 16, QChar(u'0'));
    EXPECT_EQ(client->serverArguments(),
              (QStringList{
                  u"-s"_s, u"emulator-5556"_s, u"shell"_s, u"CLASSPATH=/data/local/tmp/scrcpy-server.jar"_s,
                  u"app_process"_s, u"/"_s, u"com.genymobile.scrcpy.Server"_s, u"5.0.1"_s, u"scid="_s + scid,
                  u"log_level=info"_s, u"audio_codec=raw"_s, u"video_bit_rate=8000000"_s, u"max_fps=60"_s,
                  u"new_display=776x1448/320"_s, u"flex_display=true"_s, u"vd_system_decorations=false"_s,
                  u"clipboard_autosync=true"_s, u"power_on=false"_s}));
    EXPECT_EQ(client->socketName(), u"scrcpy_"_s + scid);
    EXPECT_EQ(AndroidStreamClient::displaySize({7.9, 8}), QSize(0, 8));

    // About one session id in eight is below 16^7; draw until one is: it keeps its leading zero.
    std::shared_ptr<AndroidStreamClient> small = client;
    for (int i = 0; i < 400 && small->scid() >= 0x10000000u; ++i)
        small = makeClient();
    ASSERT_LT(small->scid(), 0x10000000u);
    EXPECT_EQ(small->socketName(), u"scrcpy_0%1"_s.arg(small->scid(), 7, 16, QChar(u'0')));
    EXPECT_EQ(small->serverArguments().at(8), u"scid="_s + small->socketName().mid(7));
}

TEST(ServerArgumentsTest, AudioIsOffOnlyWhenStoredAsFalse) {
    const std::pair<std::optional<QVariant>, QString> cases[] = {
        {std::nullopt, u"audio_codec=raw"_s},
        {QVariant(u"false"_s), u"audio_codec=raw"_s}, // not a boolean
        {QVariant(false), u"audio=false"_s},
    };
    for (const auto& [stored, argument] : cases) {
        ScopedSettings settings;
        if (stored) VantleSettings::set(SettingsKeys::forwardAudio, *stored);
        const auto client = makeClient();
        EXPECT_EQ(client->forwardsAudio(), argument != u"audio=false"_s) << argument.toStdString();
        EXPECT_EQ(client->serverArguments().at(10), argument);
    }
}

TEST(ServerArgumentsTest, TheDisplayIdIsTheFirstIdInTheServerOutput) {
    const std::pair<QString, std::optional<int>> cases[] = {
        {u"[server] INFO: New display: 776x1448/320 (id=7)\n"_s, 7},
        {u"x(id=12) then (id=3)"_s, 12},
        {u"[server] INFO: Device: Google sdk_gphone64 (Android 15)"_s, std::nullopt},
        {u"(id=) (id=x7) id=7"_s, std::nullopt},
        {u"(id=99999999999999)"_s, std::nullopt}, // not an int
    };
    for (const auto& [output, id] : cases)
        EXPECT_EQ(AndroidStreamClient::displayIDIn(output), id) << output.toStdString();
}

TEST(ServerArgumentsTest, AnUnaskedEndIsExplainedByTheServersLastErrorLine) {
    const std::pair<QString, std::optional<QString>> cases[] = {
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
