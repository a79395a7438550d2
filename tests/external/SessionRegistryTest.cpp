// The external-window mode's clients, sessions and errors, with a stand-in client (standin-scrcpy).
#include "core/SettingsKeys.h"
#include "external/AndroidSessionRegistry.h"
#include "platform/Locations.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class SessionRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VANTLE_HOME", root.filePath(u"home"_s).toUtf8());
        qputenv("VANTLE_BUNDLE", bundle.toUtf8()); // the server and no client of its own
        qputenv("STANDIN_RECORD", root.filePath(u"record"_s).toUtf8());
        writeFile(bundle + u"/Resources/AndroidBridge/runtime-manifest.json"_s,
                  R"({"bridgeVersion": "3.1-test", "components": []})");
        writeFile(bundle + u"/Resources/AndroidBridge/server/scrcpy-server"_s, "jar");
        RuntimeComponentLocator::clearCache();
    }
    void TearDown() override {
        registry.endAll();
        qputenv("PATH", savedPath);
        for (const char* name : {"VANTLE_BUNDLE", "STANDIN_VERSION", "STANDIN_OUTPUT", "STANDIN_END"})
            qunsetenv(name);
        RuntimeComponentLocator::clearCache();
    }
    static QStringList read(const QString& path) {
        return QString::fromUtf8(readFile(path)).split(u'\n', Qt::SkipEmptyParts);
    }
    QString variable(const QString& name) const {
        const QStringList lines =
            read(root.filePath(u"record.env"_s)).filter(QRegularExpression(u'^' + name + u'='));
        return lines.isEmpty() ? u"(unset)"_s : lines.first().mid(name.size() + 1);
    }
    QStringList bridgeLog() const {
        QStringList lines = read(Locations::logs() + u"/bridge-org.example.notes.log"_s);
        for (QString& line : lines)
            line = line.section(u' ', 1); // without the time stamp
        return lines;
    }
    AndroidDisplaySession& open(AndroidSessionRegistry::ExitHandler onExit = {}) {
        return registry.open(appID, u"org.example.notes"_s, u"Notes"_s, u"emulator-5556"_s, adb,
                             {429.6, 760.4}, std::move(onExit));
    }

    QTemporaryDir root;
    const QString bundle = root.filePath(u"bundle"_s),
                  client = bundle + u"/Helpers/AndroidBridge/bin/scrcpy"_s;
    ScopedSettings settings;
    AndroidSessionRegistry registry;
    const QUuid appID = QUuid::createUuid();
    const QString adb = u"/rt/sdk/platform-tools/adb"_s;
    const QByteArray savedPath = qgetenv("PATH"), standin = readFile(QStringLiteral(VANTLE_STANDIN_CLIENT));
};

TEST_F(SessionRegistryTest, TheBundledClientGetsItsArgumentsEnvironmentAndLogsAndItsEndDecidesTheError) {
    ASSERT_TRUE(writeFile(client, standin, true));
    VantleSettings::set(SettingsKeys::printFPS, true);
    qputenv("STANDIN_END", "wait");
    qputenv("STANDIN_OUTPUT", "INFO: Renderer: opengl\\nERROR: half a line");
    qputenv("DYLD_LIBRARY_PATH", "/somewhere");
    const MainLogSince mainLog;
    std::optional<QString> error = u"(not called)"_s;
    AndroidDisplaySession& session = open([&](std::optional<QString> reported) { error = reported; });
    qunsetenv("DYLD_LIBRARY_PATH");
    EXPECT_EQ(registry.runningSession(appID), &session);
    EXPECT_EQ(&open(), &session); // no second client while one runs
    ASSERT_TRUE(waitUntil([&] { return variable(u"ADB"_s) == adb && bridgeLog().size() >= 3; }));
    EXPECT_EQ(
        read(root.filePath(u"record.args"_s)),
        (QStringList{u"--serial"_s, u"emulator-5556"_s, u"--new-display=430x760/240"_s,
                     u"--start-app=+org.example.notes"_s, u"--no-audio"_s, u"--max-fps=60"_s,
                     u"--video-bit-rate=4M"_s, u"--window-borderless"_s, u"--window-title=Vantle · Notes"_s,
                     u"--window-width=430"_s, u"--window-height=760"_s, u"--print-fps"_s}));
    EXPECT_EQ(variable(u"SCRCPY_SERVER_PATH"_s), bundle + u"/Resources/AndroidBridge/server/scrcpy-server"_s);
    EXPECT_EQ(variable(u"PATH"_s), u"/rt/sdk/platform-tools:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_EQ(variable(u"DYLD_LIBRARY_PATH"_s), u"(unset)"_s);
    // Whole lines reach the log as they come; the half line waits for its end.
    EXPECT_EQ(bridgeLog(), (QStringList{u"Vantle: starting Bundled in Vantle bridge 3.1-test at "_s + client,
                                        u"Vantle: package=org.example.notes display=430x760/240"_s,
                                        u"INFO: Renderer: opengl"_s}));
    EXPECT_EQ(
        mainLog.lines(),
        QStringList{u"bridge start package=org.example.notes source=Bundled in Vantle scrcpy="_s + client});

    // Killed from outside: a clean end whatever the log says, the half line kept, the session gone.
    ASSERT_EQ(::kill(pid_t(session.processID()), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return error != u"(not called)"_s; }));
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(registry.runningSession(appID), nullptr);
    EXPECT_EQ(bridgeLog().mid(3, 1), QStringList{u"ERROR: half a line"_s});
    EXPECT_TRUE(bridgeLog().last().startsWith(u"Vantle: bridge exited status=9 reason=signal after "_s));
    EXPECT_TRUE(
        mainLog.lines().last().startsWith(u"bridge exit package=org.example.notes status=9 after="_s));

    // The error: the last ERROR/error line among the log's final six (the exit line is one), else the status.
    using State = AndroidDisplaySession::LaunchState;
    const struct {
        const char *end, *output;
        std::optional<QString> error;
    } cases[] = {
        {"0", "ERROR: ignored\\n", std::nullopt},
        {"2", "ERROR: Could not open display\\nadb: error: device offline\\nINFO: b\\n",
         u"adb: error: device offline"_s},
        {"4", "ERROR: far\\na\\nb\\nc\\nd\\n", u"ERROR: far"_s},
        {"5", "ERROR: too far\\na\\nb\\nc\\nd\\ne\\n",
         u"The smooth display bridge stopped unexpectedly (code 5)."_s},
        {"3", "Errors are spelled otherwise\\n",
         u"The smooth display bridge stopped unexpectedly (code 3)."_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.end) + " " + c.output);
        qputenv("STANDIN_END", c.end);
        qputenv("STANDIN_OUTPUT", c.output);
        std::optional<State> state;
        std::optional<QString> error, lastError;
        // The session is released soon after its end: what it says is read while it reports.
        AndroidDisplaySession* session = &open([&](std::optional<QString> reported) {
            error = std::move(reported);
            state = session->launchState();
            lastError = session->lastError();
        });
        const QPointer<AndroidDisplaySession> alive(session);
        ASSERT_TRUE(waitUntil([&] { return state.has_value(); }));
        EXPECT_EQ(state, c.error ? State::failed : State::exited);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(lastError, c.error);
        EXPECT_TRUE(bridgeLog().last().contains(
            u"exited status=%1 reason=exit after "_s.arg(QLatin1StringView(c.end))));
        EXPECT_TRUE(waitUntil([&] { return alive.isNull(); }));
    }
}

TEST_F(SessionRegistryTest, WithoutABundledClientAnInstalledOneOfVersionThreeOrNewerIsUsed) {
    const QString prefix = root.filePath(u"prefix"_s);
    ASSERT_TRUE(writeFile(prefix + u"/bin/scrcpy"_s, standin, true));
    writeFile(prefix + u"/share/scrcpy/scrcpy-server"_s, "its own jar");
    const auto openError = [&] { return thrownDescription<VantleError>([&] { open(); }); };
    qputenv("PATH", QFile::encodeName(root.filePath(u"empty"_s)));
    EXPECT_EQ(openError(), u"Vantle's Android bridge is incomplete (scrcpy client (only needed for the "
                           u"external-window mode) is missing). Reinstall Vantle."_s);
    qputenv("PATH", QFile::encodeName(prefix + u"/bin:"_s) + savedPath);
    // Debian 12's 1.25 and any 2.x lack virtual displays; "v10" is compared as a number.
    for (const auto& [line, version] :
         {std::pair{"scrcpy 1.25 <https://github.com/Genymobile/scrcpy>", "1.25"},
          {"scrcpy 2.7", "2.7"},
          {"sh: scrcpy: not found", "of an unknown version"}}) {
        qputenv("STANDIN_VERSION", line);
        EXPECT_EQ(openError(),
                  u"Vantle's Android bridge is incomplete (scrcpy client 3 or newer (only needed "
                  u"for the external-window mode; "_s +
                      prefix + u"/bin/scrcpy is "_s + QLatin1StringView(version) +
                      u") is missing). Reinstall Vantle."_s);
    }
    qputenv("STANDIN_VERSION", "scrcpy v10.0 <https://github.com/Genymobile/scrcpy>\\n\\nDependencies");
    qputenv("STANDIN_END", "wait");
    EXPECT_EQ(open().bridgeSource(), AndroidBridgeComponents::Source::development);
    ASSERT_TRUE(waitUntil([&] { return variable(u"ADB"_s) == adb; }));
    EXPECT_EQ(variable(u"PATH"_s),
              u"/rt/sdk/platform-tools:"_s + prefix + u"/bin:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_EQ(variable(u"SCRCPY_SERVER_PATH"_s), prefix + u"/share/scrcpy/scrcpy-server"_s);
    EXPECT_EQ(bridgeLog().first(),
              u"Vantle: starting Installed scrcpy (development fallback) bridge 10.0 at "_s + prefix +
                  u"/bin/scrcpy"_s);
}

} // namespace
