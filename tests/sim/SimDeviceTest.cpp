// The simulated device answering as Android and Google's adb do, where Vantle's end-to-end tests would
// otherwise pass against a device unlike the real one; and the limits of the device's sandbox.
#include "SimTestDevice.h"
#include "sim/DeviceShell.h"
#include "sim/SimLayout.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>

using namespace Qt::Literals::StringLiterals;

SimTestDevice* SimDeviceTest::device = nullptr;

void SimDeviceTest::SetUpTestSuite() {
    device = new SimTestDevice();
    ASSERT_TRUE(device->start());
    const AdbResult install =
        device->adb({u"install"_s, u"--no-streaming"_s, u"-r"_s, SimTestDevice::dataFile(u"notes.apk"_s)});
    ASSERT_EQ(install.out.right(8), "Success\n") << install.err.constData();
    const QString jar = u"/data/local/tmp/scrcpy-server.jar"_s; // any file serves the display server
    ASSERT_EQ(device->adb({u"push"_s, SimTestDevice::dataFile(u"notes.apk"_s), jar}).status, 0);
}

namespace {

// Android's quoting of a device path or script inside one shell string.
QString quoted(QString text) {
    return u"'"_s + text.replace(u"'"_s, u"'\\''"_s) + u"'"_s;
}
QString asRoot(const QString& script) {
    return u"su 0 sh -c "_s + quoted(script);
}

TEST_F(SimDeviceTest, AnswersAsAndroidAndGoogleAdbDo) {
    QTemporaryDir folder;
    const QString text = folder.filePath(u"notes.txt"_s), fake = folder.filePath(u"fake.apk"_s),
                  data = SimTestDevice::dataFile({}), notes = data + u"notes.apk"_s,
                  old = data + u"notes_v1.apk"_s,
                  badName =
                      u"Failure \\[INSTALL_PARSE_FAILED_BAD_PACKAGE_NAME: Invalid manifest package: bad "
                      u"character '%1'\\]"_s;
    ASSERT_TRUE(writeFile(text, "x") && writeFile(fake, "this is not a zip"));
    // A push install relays pm's own answer on stdout; the injected failure answers once.
    ASSERT_EQ(control().setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s),
              QString());
    // For a package no install below replaces: replacing one removes its notifications and sessions.
    ASSERT_EQ(control().postNotification(u"org.vantle.sim.chat"_s, 7, u"Hello (there)"_s, u"New message"_s,
                                         0x10, false),
              QString());
    ASSERT_EQ(control().postNotification(u"org.vantle.sim.chat"_s, 8, u"Sync"_s, u"Running"_s, 0x62, false),
              QString());
    ASSERT_EQ(
        control().setMediaSession(u"org.vantle.sim.chat"_s, u"playing"_s, u"Song"_s, u"Artist"_s, u"Album"_s),
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
        {u"shell pm list packages -3"_s, 0, u"^package:org.vantle.sim.notes\n$"_s},
        {u"shell \"getprop sys.boot_completed\""_s, 0, u"^1\n$"_s, u"^$"_s},
        {u"shell getprop ro.build.version.sdk"_s, 0, u"^35\n$"_s},
        {u"shell service check package"_s, 0, u"^Service package: found\n$"_s},
        {u"shell \"pm path org.vantle.sim.notes\""_s, 0, u"^package:/data/app/[^\n]+/base\\.apk\n$"_s},
        {u"shell cmd package resolve-activity --brief org.vantle.sim.notes"_s, 0,
         u"\norg\\.vantle\\.sim\\.notes/\\.MainActivity\n$"_s},
        {u"shell \"dumpsys package org.vantle.sim.notes | grep -m1 versionCode=\""_s, 0,
         u"^ +versionCode=3 minSdk=26 targetSdk=34\n$"_s},
        {u"install "_s + data + u"headless.apk"_s, 0, u"Success\n$"_s},
        {u"shell cmd package resolve-activity --brief org.vantle.sim.headless"_s, 0,
         u"^No activity found\n$"_s},
        {u"uninstall org.vantle.sim.headless"_s, 0, u"^Success\n$"_s},
        {u"uninstall org.vantle.sim.headless"_s, 1, u"^Failure \\[DELETE_FAILED_INTERNAL_ERROR\\]\n$"_s},
        // The app's data folder has its cache folder and lib link, and goes with the app.
        {u"shell stat -c %F /data/data/org.vantle.sim.notes/lib /data/data/org.vantle.sim.notes/cache"_s, 0,
         u"^symbolic link\ndirectory\n$"_s},
        {u"shell ls /data/data/org.vantle.sim.headless"_s, 2, u"^$"_s, u"No such file or directory"_s},
        {u"pull /sdcard/Download/none.png "_s + folder.path(), 1,
         u"^adb: error: remote object '/sdcard/Download/none.png' does not exist\n$"_s, u"^$"_s},
        {u"shell settings put global private_dns_mode hostname"_s, 0, u"^$"_s},
        {u"shell settings put global private_dns_specifier dns.example"_s, 0, u"^$"_s},
        {u"shell settings get global private_dns_specifier"_s, 0, u"^dns\\.example\n$"_s},
        {u"shell settings delete global private_dns_specifier"_s, 0, u"^Deleted 1 rows\n$"_s},
        {u"shell settings get global private_dns_specifier"_s, 0, u"^null\n$"_s},
        {u"shell cmd uimode night yes"_s, 0, u"^Night mode: yes\n$"_s},
        {u"shell input tap 100 200"_s, 0, u"^$"_s},
        {u"shell input tap x 200"_s, 1, u"^$"_s, u"^Error: Unknown command or bad arguments: tap x 200\n"_s},
        {u"shell dumpsys connectivity"_s, 0, u"VALIDATED"_s},
        {u"shell dumpsys notification --noredact"_s, 0,
         u"(?s)NotificationRecord\\(0x.*pkg=org\\.vantle\\.sim\\.chat user=UserHandle\\{0\\} id=7.*key=0\\|"
         u"org\\.vantle\\.sim\\.chat\\|7\\|null\\|.*android\\.title=String \\(Hello \\(there\\)\\)\n.*"
         u"android\\.text=String \\(New message\\)\n"_s},
        {u"shell dumpsys notification --noredact"_s, 0, u"flags=0x62"_s},
        {u"shell dumpsys notification"_s, 0, u"android\\.title=String \\[length=13\\]"_s},
        {u"shell dumpsys media_session"_s, 0,
         u"(?s)\n      package=org\\.vantle\\.sim\\.chat\n.*state=PlaybackState \\{state=3, position=.*"
         u"metadata: size=4, description=Song, Artist, Album\n"_s},
        {u"shell cmd media_session dispatch pause"_s, 0, {}},
        {u"shell dumpsys media_session"_s, 0, u"state=PlaybackState \\{state=2,"_s},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.command.toStdString());
        const AdbResult result = device->adb(QProcess::splitCommand(call.command));
        EXPECT_EQ(result.status, call.status);
        EXPECT_TRUE(QRegularExpression(call.out).match(result.text()).hasMatch()) << result.out.constData();
        EXPECT_TRUE(QRegularExpression(call.err).match(QString::fromUtf8(result.err)).hasMatch())
            << result.err.constData();
    }
    EXPECT_EQ(control().cancelNotification(u"org.vantle.sim.chat"_s, 7), QString());
    EXPECT_FALSE(device->shell(u"dumpsys notification --noredact"_s).text().contains(u"Hello (there)"_s));

    ASSERT_EQ(control().setFault(u"packageServiceMissing"_s, true), QString());
    EXPECT_EQ(device->shell(u"service check package"_s).text(), u"Service package: not found\n"_s);
    const AdbResult pm = device->shell(u"pm list packages -3"_s);
    EXPECT_EQ(pm.status, 1);
    EXPECT_TRUE(pm.err.contains("Could not access the Package Manager")) << pm.err.constData();
}

TEST_F(SimDeviceTest, DeviceShellCannotWriteOutsideItsFolder) {
    QTemporaryDir host;
    const QString secret = host.filePath(u"secret.txt"_s);
    ASSERT_TRUE(writeFile(secret, "host"));
    for (const QString& command : {u"echo x > "_s + secret, u"echo x > /usr/planted"_s, u"mkdir /system/x"_s})
        EXPECT_NE(device->shell(command).status, 0) << command.toStdString();
    const AdbResult push = device->adb({u"push"_s, secret, u"/system/secret.txt"_s});
    EXPECT_EQ(push.status, 1);
    EXPECT_TRUE(push.out.contains("remote couldn't create file: Read-only file system"))
        << push.out.constData() << "|" << push.err.constData();
    // A link planted by the device's root shell leads nowhere on the host.
    device->shell(asRoot(u"ln -sf "_s + secret + u" /sdcard/Download/planted.txt"_s));
    EXPECT_NE(device->adb({u"pull"_s, u"/sdcard/Download/planted.txt"_s, host.filePath(u"out.txt"_s)}).status,
              0);
    EXPECT_NE(control().putDownload(SimTestDevice::dataFile(u"notes.apk"_s), u"planted.txt"_s), QString());
    EXPECT_EQ(readFile(secret), "host");
}

TEST_F(SimDeviceTest, ConcurrentCallsKeepTheStateWhole) {
    std::vector<std::unique_ptr<QProcess>> calls;
    for (int i = 0; i < 8; ++i) {
        calls.push_back(std::make_unique<QProcess>());
        calls.back()->start(device->adbPath(), {u"-s"_s, u"emulator-5556"_s, u"shell"_s,
                                                u"settings put secure key%1 value%1"_s.arg(i)});
    }
    for (auto& call : calls)
        ASSERT_TRUE(call->waitForFinished(30000));
    const QString listing = device->shell(u"settings list secure"_s).text();
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(listing.contains(u"key%1=value%1\n"_s.arg(i))) << i;
}

TEST(SimEmulatorTest, BootLifecycleAndFaults) {
    qputenv("VANTLE_SIM_BOOT_MS", "700");
    SimTestDevice device(34);
    ASSERT_TRUE(device.start(false));
    EXPECT_TRUE(device.waitForDevice(u"offline"_s, 600));
    const AdbResult offline = device.shell(u"getprop sys.boot_completed"_s);
    EXPECT_EQ(offline.status, 1);
    EXPECT_EQ(offline.err, "error: device offline\n");
    ASSERT_TRUE(device.waitForDevice(u"device"_s));
    qunsetenv("VANTLE_SIM_BOOT_MS");
    EXPECT_EQ(device.shell(u"getprop ro.build.version.sdk"_s).text(), u"34\n"_s);

    QProcess second;
    second.setProcessEnvironment(device.emulator().processEnvironment());
    second.start(device.sdk() + u"/emulator/emulator"_s,
                 {u"@Vantle-34"_s, u"-port"_s, u"5556"_s, u"-no-window"_s});
    ASSERT_TRUE(second.waitForFinished());
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("already in use"));

    // The console's reply is relayed as it came, CRLF included.
    EXPECT_EQ(device.adb({u"emu"_s, u"kill"_s}).text(), u"OK: killing emulator, bye bye\r\n"_s);
    ASSERT_TRUE(device.emulator().waitForFinished(5000));
    // Google's adb server may still list the closed transport "offline" for a moment.
    EXPECT_TRUE(waitUntil([&] {
        return device.adb({u"devices"_s}, false).text() == u"List of devices attached\n\n"_s;
    })) << device.adb({u"devices"_s}, false).out.constData();
    const AdbResult gone = device.shell(u"getprop sys.boot_completed"_s);
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "error: device 'emulator-5556' not found\n");
}

// In a sanitizer build the device's programs report like every other process: the runtime's options
// reach them through the sandbox's cleared environment, and so does the folder reports go to.
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
