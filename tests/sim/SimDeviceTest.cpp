// The device answering as Android and Google's adb do (else the end-to-end tests lie), and its sandbox.
#include "SimTestDevice.h"
#include "sim/DeviceShell.h"
#include "sim/SimInstaller.h"
#include "sim/SimLayout.h"
#include "sim/adbd/AdbMessage.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using namespace std::string_literals;

SimulatedAndroidHome* SimDeviceTest::android = nullptr;

void SimDeviceTest::SetUpTestSuite() {
    android = new SimulatedAndroidHome(35, 150);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    const AdbResult install = adb({u"install"_s, u"--no-streaming"_s, u"-r"_s, dataFile(u"notes.apk"_s)});
    ASSERT_EQ(install.out.right(8), "Success\n") << install.err.constData();
    const QString jar = u"/data/local/tmp/scrcpy-server.jar"_s; // any file serves the display server
    ASSERT_EQ(adb({u"push"_s, dataFile(u"notes.apk"_s), jar}).status, 0);
}

namespace {

TEST_F(SimDeviceTest, AnswersAsAndroidAndGoogleAdbDo) {
    QTemporaryDir folder;
    const QString text = folder.filePath(u"notes.txt"_s), fake = folder.filePath(u"fake.apk"_s),
                  data = dataFile({}), notes = data + u"notes.apk"_s, old = data + u"notes_v1.apk"_s,
                  badName =
                      u"Failure \\[INSTALL_PARSE_FAILED_BAD_PACKAGE_NAME: Invalid manifest package: bad "
                      u"character '%1'\\]"_s;
    ASSERT_TRUE(writeFile(text, "x") && writeFile(fake, "this is not a zip"));
    // A push install relays pm's own answer on stdout; the injected failure answers once. The notifications
    // and media session are a package's that no install below replaces (replacing one removes them).
    const QString chat = u"org.vantle.sim.chat"_s;
    ASSERT_EQ(control().setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s) +
                  control().postNotification(chat, 7, u"Hello (there)"_s, u"New message"_s, 0x10, false) +
                  control().postNotification(chat, 8, u"Sync"_s, u"Running"_s, 0x62, false) +
                  control().setMediaSession(chat, u"playing"_s, u"Song"_s, u"Artist"_s, u"Album"_s),
              QString());
    struct Call {
        QString command; // adb's arguments (QProcess::splitCommand)
        int status;
        QString out, err = {}; // patterns; an empty one takes anything
    } const calls[] = {
        {u"install --no-streaming -r "_s + notes, 1,
         u"\nFailure \\[INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package org.vantle.sim.notes signatures do not "
         u"match previously installed version; ignoring!\\]\n$"_s},
        {u"install -r "_s + notes, 0, u"^Performing Streamed Install\nSuccess\n$"_s},
        {u"install-multiple -r "_s + notes, 0, u"^Success\n$"_s},
        {u"install "_s + old, 1, u"^Performing Streamed Install\n$"_s,
         u"^adb: failed to install "_s + QRegularExpression::escape(old) +
             u": Failure \\[INSTALL_FAILED_VERSION_DOWNGRADE: Downgrade detected: Update version code 1 is "
             u"older than current 3\\]\n$"_s},
        {u"install -r "_s + data + u"future.apk"_s, 1, {}, u"Failure \\[INSTALL_FAILED_OLDER_SDK"_s},
        {u"install "_s + text, 1, {}, u"^adb: filename doesn't end .apk or .apex: .*/notes.txt\n$"_s},
        {u"install "_s + fake, 1, {}, u"Failure \\[INSTALL_PARSE_FAILED_NOT_APK"_s},
        {u"install "_s + folder.filePath(u"missing.apk"_s), 1, {}, u"No such file or directory"_s},
        // Manifests naming packages that Android's package parser refuses.
        {u"install "_s + data + u"bad-name-semicolon.apk"_s, 1, {}, badName.arg(u";"_s)},
        {u"install "_s + data + u"bad-name-dotdot.apk"_s, 1, {}, badName.arg(u"/"_s)},
        // No staging copy or session folder is left behind.
        {u"shell \"ls /data/local/tmp; ls -d /data/app/vmdl* 2>&1\""_s, 2,
         u"^scrcpy-server\\.jar\nls: cannot access '/data/app/vmdl\\*': No such file or directory\n$"_s},
        // The display server refuses another version and a missing jar as app_process would.
        {u"shell CLASSPATH=/data/local/tmp/scrcpy-server.jar app_process / com.genymobile.scrcpy.Server 4.0"_s,
         1,
         {},
         u"The server version \\(5\\.0\\.1\\) does not match the client \\(4\\.0\\)"_s},
        {u"shell CLASSPATH=/data/local/tmp/none.jar app_process / com.genymobile.scrcpy.Server 5.0.1"_s,
         1,
         {},
         u"ClassNotFoundException"_s},
        {u"shell \"dumpsys package org.vantle.sim.notes | grep -m1 versionCode=\""_s, 0,
         u"^ +versionCode=3 minSdk=26 targetSdk=34\n$"_s},
        {u"install "_s + data + u"headless.apk"_s, 0, u"Success\n$"_s},
        {u"uninstall org.vantle.sim.headless"_s, 0, u"^Success\n$"_s},
        {u"uninstall org.vantle.sim.headless"_s, 1, u"^Failure \\[DELETE_FAILED_INTERNAL_ERROR\\]\n$"_s},
        // The app's data folder has its cache folder and lib link, and goes with the app.
        {u"shell stat -c %F /data/data/org.vantle.sim.notes/lib /data/data/org.vantle.sim.notes/cache"_s, 0,
         u"^symbolic link\ndirectory\n$"_s},
        {u"shell ls /data/data/org.vantle.sim.headless"_s, 2, u"^$"_s, u"No such file or directory"_s},
        {u"push "_s + text + u" /system/notes.txt"_s, 1,
         u"remote couldn't create file: Read-only file system"_s},
        {u"pull /sdcard/Download/none.png "_s + folder.path(), 1,
         u"^adb: error: remote object '/sdcard/Download/none.png' does not exist\n$"_s, u"^$"_s},
        {u"shell input tap 100 200"_s, 0, u"^$"_s},
        {u"shell input tap x 200"_s, 1, u"^$"_s, u"^Error: Unknown command or bad arguments: tap x 200\n"_s},
        {u"shell dumpsys notification --noredact"_s, 0,
         u"(?s)NotificationRecord\\(0x.*pkg=org\\.vantle\\.sim\\.chat user=UserHandle\\{0\\} id=7.*key=0\\|"
         u"org\\.vantle\\.sim\\.chat\\|7\\|null\\|.*android\\.title=String \\(Hello \\(there\\)\\)\n.*"
         u"android\\.text=String \\(New message\\)\n"_s},
        {u"shell dumpsys notification --noredact"_s, 0, u"flags=0x62"_s},
        {u"shell dumpsys media_session"_s, 0,
         u"(?s)\n      package=org\\.vantle\\.sim\\.chat\n.*state=PlaybackState \\{state=3, position=.*"
         u"metadata: size=4, description=Song, Artist, Album\n"_s},
        {u"shell cmd media_session dispatch pause"_s, 0, {}},
        {u"shell dumpsys media_session"_s, 0, u"state=PlaybackState \\{state=2,"_s},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.command.toStdString());
        const AdbResult result = adb(QProcess::splitCommand(call.command));
        EXPECT_EQ(result.status, call.status);
        EXPECT_TRUE(QRegularExpression(call.out).match(result.text()).hasMatch()) << result.out.constData();
        EXPECT_TRUE(QRegularExpression(call.err).match(QString::fromUtf8(result.err)).hasMatch())
            << result.err.constData();
    }
    EXPECT_EQ(control().cancelNotification(chat, 7), QString());
    EXPECT_FALSE(shell(u"dumpsys notification --noredact"_s).text().contains(u"Hello (there)"_s));

    ASSERT_EQ(control().setFault(u"packageServiceMissing"_s, true), QString());
    const AdbResult pm = shell(u"pm list packages -3"_s);
    EXPECT_EQ(pm.status, 1);
    EXPECT_TRUE(pm.err.contains("Could not access the Package Manager")) << pm.err.constData();
}

TEST_F(SimDeviceTest, DeviceShellCannotWriteOutsideItsFolder) {
    QTemporaryDir host;
    const QString secret = host.filePath(u"secret.txt"_s);
    ASSERT_TRUE(writeFile(secret, "host"));
    for (const QString& command : {u"echo x > "_s + secret, u"echo x > /usr/planted"_s, u"mkdir /system/x"_s})
        EXPECT_NE(shell(command).status, 0) << command.toStdString();
    // A link planted by the device's root shell leads nowhere on the host.
    shell(u"su 0 sh -c 'ln -sf "_s + secret + u" /sdcard/Download/planted.txt'"_s);
    EXPECT_NE(adb({u"pull"_s, u"/sdcard/Download/planted.txt"_s, host.filePath(u"out.txt"_s)}).status, 0);
    EXPECT_NE(control().putDownload(dataFile(u"notes.apk"_s), u"planted.txt"_s), QString());
    EXPECT_EQ(readFile(secret), "host");
}

TEST_F(SimDeviceTest, ConcurrentCallsKeepTheStateWhole) {
    QProcess calls[8];
    for (int i = 0; i < 8; ++i)
        calls[i].start(adbPath(), {u"-s"_s, u"emulator-5556"_s, u"shell"_s,
                                   u"settings put secure key%1 value%1"_s.arg(i)});
    for (QProcess& call : calls)
        ASSERT_TRUE(call.waitForFinished(30000));
    const QString listing = shell(u"settings list secure"_s).text();
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(listing.contains(u"key%1=value%1\n"_s.arg(i))) << i;
}

// adbd driven by Google's adb directly, where the end-to-end programs do not reach.
TEST_F(SimDeviceTest, GoogleAdbShellReverseAndTheRawWire) {
    if (SimInstaller::googleAdb().isEmpty()) GTEST_SKIP() << "Google's adb is not installed";
    {
        SCOPED_TRACE("shell: streams apart, exit status");
        struct Run {
            QStringList arguments;
            QByteArray input;
            int status;
            QByteArray out, err;
        };
        const Run runs[] = {
            {{u"shell"_s, u"echo out; echo err >&2; exit 3"_s}, {}, 3, "out\n", "err\n"},
            {{u"shell"_s, u"echo"_s, u"two words"_s}, {}, 0, "two words\n", ""},
            {{u"shell"_s, u"cat; echo done"_s}, "typed\n", 0, "typed\ndone\n", ""},
            {{u"shell"_s, u"kill -9 $$"_s}, {}, 137, "", ""},
            // The program exits without reading what is still coming for its stdin.
            {{u"shell"_s, u"true"_s}, QByteArray(4 << 20, 'x'), 0, "", ""},
            // exec-out has no shell protocol: one stream, no status (adb exits 0).
            {{u"exec-out"_s, u"echo out; echo err >&2; exit 3"_s}, {}, 0, "out\nerr\n", ""},
            // The legacy service is what clients without shell_v2 use.
            {{u"shell"_s, u"-x"_s, u"echo legacy; exit 4"_s}, {}, 0, "legacy\n", ""},
        };
        for (const Run& run : runs) {
            const AdbResult result = adb(run.arguments, true, run.input);
            const std::string what = run.arguments.join(u' ').toStdString();
            EXPECT_EQ(result.status, run.status) << what;
            EXPECT_EQ(result.out, run.out) << what;
            EXPECT_EQ(result.err, run.err) << what;
        }
        // 3 MB crosses many WRTEs, each waiting for the server's OKAY.
        const AdbResult zeros = shell(u"head -c 3000000 /dev/zero"_s);
        EXPECT_EQ(zeros.status, 0);
        EXPECT_EQ(zeros.out, QByteArray(3000000, '\0'));
    }
    {
        SCOPED_TRACE("reverse: listing, rebinding and removing (the display tests send through one)");
        const QString remote = u"tcp:6000"_s, local = u"localabstract:vantle_probe"_s;
        EXPECT_EQ(adb({u"reverse"_s, local, remote}).status, 0);
        EXPECT_TRUE(adb({u"reverse"_s, u"--list"_s}).text().contains(u' ' + local + u' ' + remote));
        const AdbResult rebind = adb({u"reverse"_s, u"--no-rebind"_s, local, remote});
        EXPECT_EQ(rebind.status, 1);
        EXPECT_EQ(rebind.err, "adb: error: cannot rebind existing socket\n");
        EXPECT_EQ(adb({u"reverse"_s, u"--remove"_s, local}).status, 0);
        EXPECT_FALSE(adb({u"reverse"_s, u"--list"_s}).text().contains(local));
        const AdbResult missing = adb({u"reverse"_s, u"--remove"_s, local});
        EXPECT_EQ(missing.status, 1);
        EXPECT_EQ(missing.err, "adb: error: listener 'localabstract:vantle_probe' not found\n");
        EXPECT_EQ(adb({u"reverse"_s, u"--remove-all"_s}).status, 0);
    }
    {
        SCOPED_TRACE("raw wire: unknown services refused, malformed messages end the connection");
        QTcpSocket wire;
        wire.connectToHost(QHostAddress::LocalHost, 5557);
        ASSERT_TRUE(wire.waitForConnected(5000));
        Adb::MessageReader reader{Adb::maxPayload};
        std::string pending;
        const auto exchange = [&](const Adb::Message& message) {
            const std::string bytes = Adb::encode(message);
            wire.write(bytes.data(), qint64(bytes.size()));
            for (std::string more;; pending.erase(0, reader.feed(pending += more))) {
                if (std::optional<Adb::Message> next = reader.take()) return next;
                if (!wire.waitForReadyRead(5000)) return std::optional<Adb::Message>();
                more = wire.readAll().toStdString();
            }
        };
        EXPECT_EQ(exchange({Adb::A_CNXN, Adb::versionSkipChecksum, 256 * 1024, "host::\0"s}),
                  (Adb::Message{Adb::A_CNXN, Adb::versionSkipChecksum, Adb::maxPayload,
                                "device::ro.product.name=sdk_gphone64_x86_64;ro.product.model="
                                "sdk_gphone64_x86_64;ro.product.device=emu64x;features=shell_v2,cmd"}));
        for (const char* refused : {"frobnicate:\0", "shell,bogus:true\0", "shell,v3:true\0", "shell,v2\0",
                                    "reboot:\0", "jdwp:1\0"})
            EXPECT_EQ(exchange({Adb::A_OPEN, 7, 0, std::string(refused, std::strlen(refused) + 1)}),
                      (Adb::Message{Adb::A_CLSE, 0, 7, {}}))
                << refused;
        // A WRTE announcing more than the 1 MiB maximum ends the connection before its payload.
        std::string oversized = Adb::encode({Adb::A_WRTE, 7, 1, {}});
        oversized[14] = 0x20; // length 0x00200000
        wire.write(oversized.data(), qint64(oversized.size()));
        EXPECT_TRUE(wire.waitForDisconnected(5000));
    }
}

TEST(SimEmulatorTest, BootLifecycleAndFaults) {
    const SimulatedAndroidHome android(34, 700);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ANDROID_AVD_HOME"_s, SimLayout::avdHome(Locations::runtime()));
    QProcess emulator, second;
    const auto start = [&](QProcess& process) {
        process.setProcessEnvironment(environment);
        process.start(SimLayout::sdkRoot(Locations::runtime()) + u"/emulator/emulator"_s,
                      {u"@Vantle-34"_s, u"-port"_s, u"5556"_s, u"-no-window"_s});
    };
    start(emulator);
    EXPECT_TRUE(waitForDevice(u"offline"_s, 600));
    const AdbResult offline = shell(u"getprop sys.boot_completed"_s);
    EXPECT_EQ(offline.status, 1);
    EXPECT_EQ(offline.err, "error: device offline\n");
    ASSERT_TRUE(waitForDevice(u"device"_s));
    EXPECT_EQ(shell(u"getprop ro.build.version.sdk"_s).text(), u"34\n"_s);

    start(second);
    ASSERT_TRUE(second.waitForFinished());
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("already in use"));

    // The console's reply is relayed as it came, CRLF included.
    EXPECT_EQ(adb({u"emu"_s, u"kill"_s}).text(), u"OK: killing emulator, bye bye\r\n"_s);
    ASSERT_TRUE(emulator.waitForFinished(5000));
    // Google's adb server may still list the closed transport "offline" for a moment.
    EXPECT_TRUE(waitUntil([&] {
        return adb({u"devices"_s}, false).text() == u"List of devices attached\n\n"_s;
    })) << adb({u"devices"_s}, false).out.constData();
}

// Under sanitizers the device's programs get the runtime's options and report folder through the sandbox.
TEST(DeviceShellTest, SanitizerOptionsAndReportFolderReachTheSandbox) {
    QTemporaryDir sdk, data, reports;
    ASSERT_TRUE(QDir().mkpath(SimLayout::simFolder(sdk.path()) + u"/system-bin"_s));
    ASSERT_TRUE(QDir().mkpath(data.filePath(u"media/0"_s)));
    const QByteArray saved = qgetenv("UBSAN_OPTIONS");
    const QString options = u"print_stacktrace=1:log_path="_s + reports.filePath(u"report"_s);
    qputenv("UBSAN_OPTIONS", options.toUtf8()); // only bwrap and sh start below, neither instrumented
    const DeviceShell shell{sdk.path(), sdk.filePath(u"none"_s), data.path()};
    QByteArray errors;
    const int status =
        shell.run({u"/bin/sh"_s, u"-c"_s, u"echo \"$UBSAN_OPTIONS\" > "_s + reports.filePath(u"seen"_s)}, -1,
                  -1, &errors);
    qputenv("UBSAN_OPTIONS", saved);
    if (saved.isNull()) qunsetenv("UBSAN_OPTIONS");
    ASSERT_EQ(status, 0) << errors.constData();
    EXPECT_EQ(readFile(reports.filePath(u"seen"_s)), options.toUtf8() + '\n');
}

} // namespace
