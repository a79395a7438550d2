// The external-window mode's sessions, with a stand-in client program that records its arguments
// and environment and ends as it is told.
#include "core/SettingsKeys.h"
#include "external/AndroidSessionRegistry.h"
#include "platform/Locations.h"
#include "provisioning/RuntimeComponentLocator.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class SessionRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VANTLE_HOME", home.path().toUtf8());
        qputenv("VANTLE_BUNDLE", bundle().toUtf8());
        qputenv("STANDIN_RECORD", record().toUtf8());
        for (const char* name : {"STANDIN_VERSION", "STANDIN_OUTPUT", "STANDIN_END"})
            qunsetenv(name);
        // A bundle with the server and no client of its own.
        write(bundle() + u"/Resources/AndroidBridge/runtime-manifest.json"_s,
              R"({"bridgeVersion": "3.1-test", "components": []})");
        write(bundle() + u"/Resources/AndroidBridge/server/scrcpy-server"_s, "jar");
        RuntimeComponentLocator::clearCache();
    }
    void TearDown() override {
        registry.endAll();
        qputenv("PATH", savedPath);
        qunsetenv("VANTLE_BUNDLE");
        RuntimeComponentLocator::clearCache();
    }

    QString bundle() const { return root.filePath(u"bundle"_s); }
    QString record() const { return root.filePath(u"record"_s); }
    static void write(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // The stand-in client copied to `path`, executable.
    static void installClient(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(QFile::copy(QStringLiteral(VANTLE_STANDIN_CLIENT), path));
        QFile(path).setPermissions(QFile(path).permissions() | QFileDevice::ExeOwner);
    }
    QString bundledClient() const { return bundle() + u"/Helpers/AndroidBridge/bin/scrcpy"_s; }
    QStringList recorded(const char* what) const {
        QFile file(record() + u'.' + QLatin1StringView(what));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    }
    QString recordedVariable(const QString& name) const {
        for (const QString& line : recorded("env"))
            if (line.startsWith(name + u'=')) return line.mid(name.size() + 1);
        return u"(unset)"_s;
    }
    QStringList bridgeLog() const {
        QFile file(Locations::logs() + u"/bridge-org.example.notes.log"_s);
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
                lines.append(line.section(u' ', 1)); // without the time stamp
        return lines;
    }
    AndroidDisplaySession& open(AndroidSessionRegistry::ExitHandler onExit = {}) {
        return registry.open(appID, u"org.example.notes"_s, u"Notes"_s, u"emulator-5556"_s, adb, {430, 760},
                             std::move(onExit));
    }
    AndroidDisplaySession& open(std::optional<QString>* ended, int* calls) {
        return open([ended, calls](std::optional<QString> error) {
            *ended = std::move(error);
            ++*calls;
        });
    }

    QTemporaryDir home, root;
    ScopedSettings settings;
    AndroidSessionRegistry registry;
    const QUuid appID = QUuid::createUuid();
    const QString adb = u"/rt/sdk/platform-tools/adb"_s;
    const QByteArray savedPath = qgetenv("PATH");
};

TEST_F(SessionRegistryTest, TheBundledClientGetsItsArgumentsEnvironmentAndLogsAndRunsUntilItEnds) {
    installClient(bundledClient());
    VantleSettings::set(SettingsKeys::printFPS, true);
    qputenv("STANDIN_END", "wait");
    qputenv("STANDIN_OUTPUT", "INFO: Renderer: opengl\\nINFO: half a line");
    qputenv("DYLD_LIBRARY_PATH", "/somewhere");
    const MainLogSince mainLog;
    std::optional<QString> error = u"(not called)"_s;
    int calls = 0;
    AndroidDisplaySession& session = open(&error, &calls);
    qunsetenv("DYLD_LIBRARY_PATH");
    EXPECT_EQ(session.launchState(), AndroidDisplaySession::LaunchState::running);
    EXPECT_EQ(session.bridgeSource(), AndroidBridgeComponents::Source::bundled);
    EXPECT_EQ(registry.runningSession(appID), &session);
    // A second open while it runs is the same session, not a second client.
    EXPECT_EQ(&open(), &session);
    ASSERT_TRUE(waitUntil([&] { return recorded("env").size() > 3 && bridgeLog().size() >= 3; }));
    EXPECT_EQ(recorded("args"), ExternalClient::arguments(u"emulator-5556"_s, u"org.example.notes"_s,
                                                          u"Notes"_s, {430, 760}, true));
    EXPECT_EQ(recordedVariable(u"ADB"_s), adb);
    EXPECT_EQ(recordedVariable(u"SCRCPY_SERVER_PATH"_s),
              bundle() + u"/Resources/AndroidBridge/server/scrcpy-server"_s);
    EXPECT_EQ(recordedVariable(u"PATH"_s), u"/rt/sdk/platform-tools:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_EQ(recordedVariable(u"DYLD_LIBRARY_PATH"_s), u"(unset)"_s);
    EXPECT_EQ(recordedVariable(u"SCRCPY_ICON_DIR"_s), u"(unset)"_s); // the bundle has no icons
    // Whole lines reach the log as they come; the half line waits for its end.
    EXPECT_EQ(bridgeLog(),
              (QStringList{u"Vantle: starting Bundled in Vantle bridge 3.1-test at "_s + bundledClient(),
                           u"Vantle: package=org.example.notes display=430x760/240"_s,
                           u"INFO: Renderer: opengl"_s}));
    EXPECT_EQ(mainLog.lines(),
              QStringList{u"bridge start package=org.example.notes source=Bundled in Vantle scrcpy="_s +
                          bundledClient()});

    // Ended from outside by a signal: a clean end, the half line kept, the session gone.
    ASSERT_EQ(::kill(pid_t(session.processID()), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(registry.runningSession(appID), nullptr);
    EXPECT_TRUE(registry.appIDs().isEmpty());
    const QStringList log = bridgeLog();
    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[3], u"INFO: half a line"_s);
    EXPECT_TRUE(log[4].startsWith(u"Vantle: bridge exited status=9 reason=signal after "_s))
        << log[4].toStdString();
    EXPECT_TRUE(
        mainLog.lines().last().startsWith(u"bridge exit package=org.example.notes status=9 after="_s));
}

TEST_F(SessionRegistryTest, HowTheClientEndedDecidesTheStateAndTheErrorTheOpenerHears) {
    installClient(bundledClient());
    const QString unexpected3 = u"The smooth display bridge stopped unexpectedly (code 3)."_s;
    const struct {
        const char* end;
        const char* output;
        AndroidDisplaySession::LaunchState state;
        std::optional<QString> error;
        QString exitLine;
    } cases[] = {
        {"0", "INFO: bye\\n", AndroidDisplaySession::LaunchState::exited, std::nullopt,
         u"status=0 reason=exit"_s},
        {"signal", "ERROR: ignored\\n", AndroidDisplaySession::LaunchState::exited, std::nullopt,
         u"status=15 reason=signal"_s},
        {"2", "INFO: a\\nERROR: Could not open display\\nINFO: b\\n",
         AndroidDisplaySession::LaunchState::failed, u"ERROR: Could not open display"_s,
         u"status=2 reason=exit"_s},
        {"3", "INFO: nothing wrong said\\n", AndroidDisplaySession::LaunchState::failed, unexpected3,
         u"status=3 reason=exit"_s},
        // An error too far back (seven lines up, counting the exit line) is not the reason.
        {"3", "ERROR: long ago\\n1\\n2\\n3\\n4\\n5\\n", AndroidDisplaySession::LaunchState::failed,
         unexpected3, u"status=3 reason=exit"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.end) + " " + c.output);
        qputenv("STANDIN_END", c.end);
        qputenv("STANDIN_OUTPUT", c.output);
        std::optional<QString> error = u"(not called)"_s;
        int calls = 0;
        AndroidDisplaySession* session = nullptr;
        std::optional<AndroidDisplaySession::LaunchState> state;
        std::optional<QString> lastError;
        // The session is released soon after its end: what it says is read while it reports.
        session = &open([&](std::optional<QString> reported) {
            error = std::move(reported);
            state = session->launchState();
            lastError = session->lastError();
            ++calls;
        });
        const QPointer<AndroidDisplaySession> alive(session);
        ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(state, c.state);
        EXPECT_EQ(lastError, c.error);
        EXPECT_EQ(registry.runningSession(appID), nullptr);
        EXPECT_TRUE(bridgeLog().last().contains(u"exited "_s + c.exitLine + u" after "_s))
            << bridgeLog().last().toStdString();
        EXPECT_TRUE(waitUntil([&] { return alive.isNull(); })); // released after its end
    }
}

TEST_F(SessionRegistryTest, WithoutABundledClientAnInstalledOneOfVersionThreeOrNewerIsUsed) {
    const QString prefix = root.filePath(u"prefix"_s);
    installClient(prefix + u"/bin/scrcpy"_s);
    write(prefix + u"/share/scrcpy/scrcpy-server"_s, "its own jar");
    const QString missing = u"Vantle's Android bridge is incomplete (scrcpy client (only needed for the "
                            u"external-window mode) is missing). Reinstall Vantle."_s;
    const auto openError = [&]() -> QString {
        try {
            open();
            return {};
        } catch (const VantleError& error) {
            return error.description();
        }
    };

    qputenv("PATH", QFile::encodeName(root.filePath(u"empty"_s)));
    EXPECT_EQ(openError(), missing);

    qputenv("PATH", QFile::encodeName(prefix + u"/bin:"_s) + savedPath);
    qputenv("STANDIN_VERSION", "1.25");
    EXPECT_EQ(openError(),
              u"Vantle's Android bridge is incomplete (scrcpy client 3 or newer (only needed for the "
              u"external-window mode; "_s +
                  prefix + u"/bin/scrcpy is 1.25) is missing). Reinstall Vantle."_s);
    EXPECT_TRUE(registry.appIDs().isEmpty());

    qputenv("STANDIN_VERSION", "3.3");
    qputenv("STANDIN_END", "wait");
    AndroidDisplaySession& session = open();
    EXPECT_EQ(session.bridgeSource(), AndroidBridgeComponents::Source::development);
    ASSERT_TRUE(waitUntil([&] { return recorded("env").size() > 3; }));
    EXPECT_EQ(recordedVariable(u"PATH"_s),
              u"/rt/sdk/platform-tools:"_s + prefix + u"/bin:/usr/bin:/bin:/usr/sbin:/sbin"_s);
    EXPECT_EQ(recordedVariable(u"SCRCPY_SERVER_PATH"_s), prefix + u"/share/scrcpy/scrcpy-server"_s);
    EXPECT_EQ(bridgeLog().first(),
              u"Vantle: starting Installed scrcpy (development fallback) bridge 3.3 at "_s + prefix +
                  u"/bin/scrcpy"_s);
}

} // namespace
