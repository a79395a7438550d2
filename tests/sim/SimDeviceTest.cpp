// The simulated device driven the way Vantle drives Android: boot and probes, installs, package
// and dump outputs, device shell scripts (Vantle's exact strings), push and pull, and the limits
// of the device's sandbox.
#include "SimTestDevice.h"
#include "sim/DeviceShell.h"
#include "sim/SimControl.h"
#include "sim/SimLayout.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Android's quoting of a device path or script inside one shell string.
QString quoted(QString text) {
    return u"'"_s + text.replace(u"'"_s, u"'\\''"_s) + u"'"_s;
}
QString asRoot(const QString& script) {
    return u"su 0 sh -c "_s + quoted(script);
}

class SimDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        device = new SimTestDevice();
        ASSERT_TRUE(device->start());
    }
    static void TearDownTestSuite() {
        delete device;
        device = nullptr;
    }
    SimControl control() const { return SimControl(device->runtime(), 35); }
    void install(const QString& apk) {
        const AdbResult result =
            device->adb({u"install"_s, u"--no-streaming"_s, u"-r"_s, SimTestDevice::dataFile(apk)});
        ASSERT_EQ(result.status, 0) << result.err.constData();
        ASSERT_TRUE(result.text().endsWith(u"Success\n"_s)) << result.out.constData();
    }
    static SimTestDevice* device;
};
SimTestDevice* SimDeviceTest::device = nullptr;

TEST_F(SimDeviceTest, RuntimeLooksLikeADownloadedAndroid) {
    const QString sdk = device->sdk();
    for (const QString& tool :
         {u"platform-tools/adb"_s, u"emulator/emulator"_s, u"cmdline-tools/latest/bin/apkanalyzer"_s})
        EXPECT_TRUE(QFileInfo(sdk + u'/' + tool).isExecutable()) << qPrintable(tool);
    EXPECT_TRUE(QFileInfo::exists(sdk + u"/system-images/android-35/default/x86_64/system.img"_s));
    EXPECT_TRUE(QFileInfo::exists(device->runtime() + u"/avd/Vantle.ini"_s));
    EXPECT_TRUE(QFileInfo::exists(device->runtime() + u"/runtime-manifest.json"_s));
    QFile config(device->runtime() + u"/avd/Vantle.avd/config.ini"_s);
    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    const QByteArray text = config.readAll();
    EXPECT_TRUE(text.startsWith("AvdId=Vantle\navd.ini.displayname=Vantle Android 15\n"));
    EXPECT_TRUE(text.contains("\nabi.type=x86_64\n"));
    EXPECT_TRUE(
        text.endsWith("image.sysdir.1=system-images/android-35/default/x86_64/\ntag.display=Default Android "
                      "System Image\ntag.id=default\nvm.heapSize=256\n"));
}

TEST_F(SimDeviceTest, ProbesAnswerAsVantleExpects) {
    EXPECT_EQ(device->shell(u"getprop sys.boot_completed"_s).text().trimmed(), u"1"_s);
    EXPECT_EQ(device->adb({u"shell"_s, u"getprop"_s, u"ro.build.version.sdk"_s}).text().trimmed(), u"35"_s);
    EXPECT_EQ(device->adb({u"shell"_s, u"service"_s, u"check"_s, u"package"_s}).text(),
              u"Service package: found\n"_s);
    EXPECT_TRUE(device->waitForDevice(u"device"_s));
    QThread::msleep(300); // the network validates a moment after the boot
    EXPECT_TRUE(device->shell(u"dumpsys connectivity"_s).text().contains(u"VALIDATED"_s));

    ASSERT_EQ(control().setFault(u"packageServiceMissing"_s, true), QString());
    EXPECT_EQ(device->shell(u"service check package"_s).text(), u"Service package: not found\n"_s);
    const AdbResult pm = device->shell(u"pm list packages -3"_s);
    EXPECT_NE(pm.status, 0);
    EXPECT_TRUE(pm.err.contains("Could not access the Package Manager"));
    ASSERT_EQ(control().setFault(u"packageServiceMissing"_s, false), QString());
    EXPECT_EQ(device->shell(u"pm list packages -3 >/dev/null"_s).status, 0);
}

TEST_F(SimDeviceTest, InstallsAndDescribesPackages) {
    install(u"notes.apk"_s);
    EXPECT_TRUE(device->shell(u"pm list packages -3"_s)
                    .text()
                    .split(u'\n')
                    .contains(u"package:org.vantle.sim.notes"_s));
    const QString path = device->shell(u"pm path org.vantle.sim.notes"_s).text().trimmed();
    EXPECT_TRUE(path.startsWith(u"package:/data/app/"_s) && path.endsWith(u"/base.apk"_s))
        << qPrintable(path);
    EXPECT_EQ(device
                  ->adb({u"shell"_s, u"cmd"_s, u"package"_s, u"resolve-activity"_s, u"--brief"_s,
                         u"org.vantle.sim.notes"_s})
                  .text()
                  .split(u'\n')
                  .value(1),
              u"org.vantle.sim.notes/.MainActivity"_s);
    EXPECT_EQ(
        device->shell(u"dumpsys package org.vantle.sim.notes | grep -m1 versionCode="_s).text().trimmed(),
        u"versionCode=3 minSdk=26 targetSdk=34"_s);
    // The app's data folder exists with its own user id, cache folders and lib link.
    EXPECT_TRUE(QFileInfo(device->dataRoot() + u"/data/org.vantle.sim.notes/cache"_s).isDir());
    EXPECT_TRUE(QFileInfo(device->dataRoot() + u"/data/org.vantle.sim.notes/lib"_s).isSymLink());
    QProcess analyzer;
    analyzer.start(device->sdk() + u"/cmdline-tools/latest/bin/apkanalyzer"_s,
                   {u"manifest"_s, u"application-id"_s, SimTestDevice::dataFile(u"notes.apk"_s)});
    ASSERT_TRUE(analyzer.waitForFinished());
    EXPECT_EQ(analyzer.readAllStandardOutput(), "org.vantle.sim.notes\n");
}

TEST_F(SimDeviceTest, InstallFailuresUseAndroidsErrors) {
    install(u"notes.apk"_s);
    AdbResult result = device->adb({u"install"_s, u"-r"_s, SimTestDevice::dataFile(u"notes_v1.apk"_s)});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains("Failure [INSTALL_FAILED_VERSION_DOWNGRADE")) << result.err.constData();

    result = device->adb({u"install"_s, u"-r"_s, SimTestDevice::dataFile(u"future.apk"_s)});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains("Failure [INSTALL_FAILED_OLDER_SDK")) << result.err.constData();

    ASSERT_EQ(control().setFault(u"nextInstallFailure"_s, u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s),
              QString());
    result =
        device->adb({u"install"_s, u"--no-streaming"_s, u"-r"_s, SimTestDevice::dataFile(u"notes.apk"_s)});
    EXPECT_EQ(result.status, 1);
    // A push install relays pm's own answer on stdout.
    EXPECT_TRUE(
        result.out.endsWith("\nFailure [INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package org.vantle.sim.notes "
                            "signatures do not match previously installed version; ignoring!]\n"))
        << result.out.constData() << "|" << result.err.constData();
    install(u"notes.apk"_s); // the injected failure answers once

    QTemporaryDir folder;
    QFile text(folder.filePath(u"notes.txt"_s)), fake(folder.filePath(u"fake.apk"_s));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && fake.open(QIODevice::WriteOnly));
    text.write("x");
    fake.write("this is not a zip");
    text.close();
    fake.close();
    result = device->adb({u"install"_s, text.fileName()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "adb: filename doesn't end .apk or .apex: " + text.fileName().toUtf8() + "\n");
    result = device->adb({u"install"_s, fake.fileName()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains("Failure [INSTALL_PARSE_FAILED_NOT_APK")) << result.err.constData();
    result = device->adb({u"install"_s, folder.filePath(u"missing.apk"_s)});
    EXPECT_TRUE(result.err.contains("No such file or directory"));

    // Manifests naming packages that Android's package parser refuses; nothing is installed.
    for (const auto& [apk, reason] : {std::pair{"bad-name-semicolon.apk", "bad character ';'"},
                                      std::pair{"bad-name-dotdot.apk", "bad character '/'"}}) {
        result = device->adb({u"install"_s, SimTestDevice::dataFile(QString::fromLatin1(apk))});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(
            result.err.contains("Failure [INSTALL_PARSE_FAILED_BAD_PACKAGE_NAME: Invalid manifest package: " +
                                QByteArray(reason) + "]"))
            << result.err.constData();
    }
    const QString installed = device->adb({u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"-3"_s}).text();
    EXPECT_FALSE(installed.contains(u"pwned"_s) || installed.contains(u"tmp/x"_s)) << installed.toStdString();
}

TEST_F(SimDeviceTest, AppWithoutLauncherInstallsButDoesNotResolve) {
    install(u"headless.apk"_s);
    EXPECT_EQ(device->shell(u"cmd package resolve-activity --brief org.vantle.sim.headless"_s).text(),
              u"No activity found\n"_s);
    EXPECT_EQ(device->adb({u"uninstall"_s, u"org.vantle.sim.headless"_s}).text(), u"Success\n"_s);
    const AdbResult again = device->adb({u"uninstall"_s, u"org.vantle.sim.headless"_s});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.text(), u"Failure [DELETE_FAILED_INTERNAL_ERROR]\n"_s);
    EXPECT_FALSE(QFileInfo::exists(device->dataRoot() + u"/data/org.vantle.sim.headless"_s));
}

TEST_F(SimDeviceTest, VantlesShellScriptsRunUnchanged) {
    install(u"notes.apk"_s);
    // Part of every boot: stop every user app, printing one package per line.
    const QString stopAll =
        u"for p in $(pm list packages -3 | sed 's/package://'); do am force-stop $p; echo $p; done"_s;
    EXPECT_TRUE(device->shell(stopAll).text().split(u'\n').contains(u"org.vantle.sim.notes"_s));

    EXPECT_EQ(device->shell(u"am start -n org.vantle.sim.notes/.MainActivity"_s).status, 0);
    EXPECT_TRUE(device->shell(u"dumpsys activity activities | grep ResumedActivity"_s)
                    .text()
                    .contains(u" u0 org.vantle.sim.notes/.MainActivity "_s));
    device->adb({u"shell"_s, u"am"_s, u"force-stop"_s, u"org.vantle.sim.notes"_s});
    EXPECT_FALSE(device->shell(u"dumpsys activity activities | grep ResumedActivity"_s)
                     .text()
                     .contains(u"org.vantle.sim.notes/"_s));

    QTemporaryDir folder;
    QFile photo(folder.filePath(u"it's a photo.png"_s));
    ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
    photo.write(QByteArray(1234, 'p'));
    photo.close();
    ASSERT_EQ(device->adb({u"push"_s, photo.fileName(), u"/sdcard/Download/it's a photo.png"_s}).status, 0);
    EXPECT_TRUE(device->shell(u"ls -l "_s + quoted(u"/sdcard/Download/it's a photo.png"_s))
                    .text()
                    .contains(u"it's a photo.png"_s));
    const QString listing =
        device
            ->shell(
                u"for f in /sdcard/Download/*; do [ -f \"$f\" ] && stat -c '%s|%n' \"$f\"; done; echo __END__"_s)
            .text();
    EXPECT_TRUE(listing.contains(u"1234|/sdcard/Download/it's a photo.png\n"_s)) << qPrintable(listing);
    EXPECT_TRUE(listing.endsWith(u"__END__\n"_s));

    // The media scanner indexes a pushed file; the content query finds it by its canonical path.
    device->shell(u"am broadcast -a android.intent.action.MEDIA_SCANNER_SCAN_FILE -d "_s +
                  quoted(u"file:///sdcard/Download/it's a photo.png"_s));
    device->adb({u"push"_s, photo.fileName(), u"/sdcard/Download/scan.png"_s});
    device->shell(
        u"am broadcast -a android.intent.action.MEDIA_SCANNER_SCAN_FILE -d 'file:///sdcard/Download/scan.png'"_s);
    const QString row =
        device
            ->shell(u"content query --uri content://media/external/file --projection _id --where "
                    u"\"_data='/storage/emulated/0/Download/scan.png'\""_s)
            .text();
    EXPECT_TRUE(QRegularExpression(u"^Row: 0 _id=\\d+\\n$"_s).match(row).hasMatch()) << qPrintable(row);

    const QString pulled = folder.filePath(u"back.png"_s);
    ASSERT_EQ(device->adb({u"pull"_s, u"/sdcard/Download/scan.png"_s, pulled}).status, 0);
    EXPECT_EQ(QFileInfo(pulled).size(), 1234);
    const AdbResult missing =
        device->adb({u"pull"_s, u"/sdcard/Download/none.png"_s, folder.filePath(u"none.png"_s)});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out + "|" + missing.err,
              "adb: error: remote object '/sdcard/Download/none.png' does not exist\n|");
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(u"none.png"_s)));
}

TEST_F(SimDeviceTest, RootBackupAndRestoreScriptsKeepTheAppsData) {
    install(u"notes.apk"_s);
    const QString p = u"org.vantle.sim.notes"_s;
    device->shell(asRoot(u"mkdir -p /data/data/"_s + p + u"/files && echo 'it''s mine' > /data/data/"_s + p +
                         u"/files/note.txt && echo junk > /data/data/"_s + p + u"/cache/tmp"_s));
    const QString d = u"/data/local/tmp/vt-backup-"_s + p;
    device->shell(asRoot(u"rm -rf "_s + d + u"; mkdir -p "_s + d + u" && cd /data/data && tar -czf "_s + d +
                         u"/data.tgz --exclude="_s + p + u"/cache --exclude="_s + p + u"/code_cache "_s + p));
    QTemporaryDir folder;
    ASSERT_EQ(device->adb({u"pull"_s, d + u"/data.tgz"_s, folder.filePath(u"data.tgz"_s)}).status, 0);

    device->shell(asRoot(u"rm -rf /data/data/"_s + p + u"/files"_s));
    const QString r = u"/data/local/tmp/vt-restore-"_s + p;
    device->shell(u"rm -rf "_s + r + u"; mkdir -p "_s + r);
    ASSERT_EQ(device->adb({u"push"_s, folder.filePath(u"data.tgz"_s), r + u"/data.tgz"_s}).status, 0);
    const QString restore =
        QStringList{u"set -e"_s,
                    u"uid=$(stat -c %u /data/data/"_s + p + u")"_s,
                    u"find /data/data/"_s + p + u" -mindepth 1 -maxdepth 1 ! -name lib -exec rm -rf {} +"_s,
                    u"tar -xzf "_s + r + u"/data.tgz -C /data/data"_s,
                    u"chown -R $uid:$uid /data/data/"_s + p,
                    u"for d in cache code_cache; do mkdir -p /data/data/"_s + p +
                        u"/$d; chown $uid:$((uid + 10000)) /data/data/"_s + p +
                        u"/$d; chmod 2771 /data/data/"_s + p + u"/$d; done"_s,
                    u"restorecon -RF /data/data/"_s + p,
                    u"if [ -f "_s + r +
                        u"/external.tgz ]; then mkdir -p /sdcard/Android/data && tar -xzf "_s + r +
                        u"/external.tgz -C /sdcard/Android/data; fi"_s,
                    u"rm -rf "_s + r,
                    u"echo VT_RESTORE_OK"_s}
            .join(u'\n');
    const AdbResult result = device->shell(asRoot(restore));
    EXPECT_TRUE(result.text().contains(u"VT_RESTORE_OK"_s)) << result.err.constData();
    EXPECT_EQ(device->shell(u"cat /data/data/"_s + p + u"/files/note.txt"_s).text(), u"its mine\n"_s);
    EXPECT_TRUE(QFileInfo(device->dataRoot() + u"/data/"_s + p + u"/lib"_s).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(device->dataRoot() + u"/data/"_s + p + u"/cache/tmp"_s));
    // A failing step stops the script before its marker, as "set -e" promises.
    EXPECT_FALSE(device->shell(asRoot(u"set -e\nrestorecon -RF /data/data/none\necho VT_RESTORE_OK"_s))
                     .text()
                     .contains(u"VT_RESTORE_OK"_s));
}

TEST_F(SimDeviceTest, DeviceShellCannotWriteOutsideItsFolder) {
    QTemporaryDir host;
    const QString secret = host.filePath(u"secret.txt"_s);
    QFile file(secret);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("host");
    file.close();
    EXPECT_NE(device->shell(u"echo x > "_s + secret).status, 0);
    EXPECT_NE(device->shell(u"echo x > /usr/planted"_s).status, 0);
    EXPECT_NE(device->shell(u"mkdir /system/x"_s).status, 0);
    const AdbResult push = device->adb({u"push"_s, secret, u"/system/secret.txt"_s});
    EXPECT_EQ(push.status, 1);
    EXPECT_TRUE(push.out.contains("remote couldn't create file: Read-only file system"))
        << push.out.constData() << "|" << push.err.constData();
    // A link planted by the device's root shell leads nowhere on the host.
    device->shell(asRoot(u"ln -sf "_s + secret + u" /sdcard/Download/planted.txt"_s));
    EXPECT_NE(device->adb({u"pull"_s, u"/sdcard/Download/planted.txt"_s, host.filePath(u"out.txt"_s)}).status,
              0);
    EXPECT_NE(control().putDownload(SimTestDevice::dataFile(u"notes.apk"_s), u"planted.txt"_s), QString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "host");
}

TEST_F(SimDeviceTest, SettingsAndDeviceServices) {
    control().clearReceived();
    EXPECT_EQ(device->shell(u"settings put global private_dns_mode hostname"_s).status, 0);
    device->shell(u"settings put global private_dns_specifier dns.example"_s);
    EXPECT_EQ(device->shell(u"settings get global private_dns_specifier"_s).text(), u"dns.example\n"_s);
    EXPECT_EQ(device->shell(u"settings delete global private_dns_specifier"_s).text(), u"Deleted 1 rows\n"_s);
    EXPECT_EQ(device->shell(u"settings get global private_dns_specifier"_s).text(), u"null\n"_s);
    EXPECT_EQ(device->adb({u"shell"_s, u"cmd"_s, u"uimode"_s, u"night"_s, u"yes"_s}).text(),
              u"Night mode: yes\n"_s);
    const QString volume = device->shell(u"cmd media_session volume --stream 3 --get"_s).text();
    const QRegularExpressionMatch maximum = QRegularExpression(u"\\.\\.(\\d+)\\]"_s).match(volume);
    ASSERT_TRUE(maximum.hasMatch()) << qPrintable(volume);
    device->shell(u"cmd audio set-volume 3 "_s + maximum.captured(1));
    EXPECT_TRUE(device->shell(u"cmd media_session volume --stream 3 --get"_s)
                    .text()
                    .contains(u"volume is %1 in range [0..%1]"_s.arg(maximum.captured(1))));
    device->shell(u"input tap 100 200"_s);
    EXPECT_NE(device->shell(u"input tap x 200"_s).status, 0);

    QStringList received;
    for (const QJsonObject& event : control().received())
        received << event.value(u"type"_s).toString() + u':' + event.value(u"op"_s).toString() +
                        event.value(u"action"_s).toString() + event.value(u"key"_s).toString();
    EXPECT_TRUE(received.contains(u"settings:putprivate_dns_mode"_s));
    EXPECT_TRUE(received.contains(u"settings:deleteprivate_dns_specifier"_s));
    EXPECT_TRUE(received.contains(u"input:tap"_s));
}

TEST_F(SimDeviceTest, NotificationAndMediaDumpsReadLikeAndroids) {
    ASSERT_EQ(control().postNotification(u"org.vantle.sim.notes"_s, 7, u"Hello (there)"_s, u"New message"_s,
                                         0x10, false),
              QString());
    ASSERT_EQ(control().postNotification(u"org.vantle.sim.notes"_s, 8, u"Sync"_s, u"Running"_s, 0x62, false),
              QString());
    const QString dump = device->adb({u"shell"_s, u"dumpsys"_s, u"notification"_s, u"--noredact"_s}).text();
    EXPECT_TRUE(dump.contains(u"NotificationRecord(0x"_s));
    EXPECT_TRUE(dump.contains(u"pkg=org.vantle.sim.notes user=UserHandle{0} id=7"_s));
    EXPECT_TRUE(dump.contains(u"key=0|org.vantle.sim.notes|7|null|"_s));
    EXPECT_TRUE(dump.contains(u"flags=0x62"_s));
    EXPECT_TRUE(dump.contains(u"android.title=String (Hello (there))\n"_s));
    EXPECT_TRUE(dump.contains(u"android.text=String (New message)\n"_s));
    EXPECT_TRUE(
        device->shell(u"dumpsys notification"_s).text().contains(u"android.title=String [length=13]"_s));
    EXPECT_EQ(control().cancelNotification(u"org.vantle.sim.notes"_s, 7), QString());
    EXPECT_FALSE(device->shell(u"dumpsys notification --noredact"_s).text().contains(u"Hello (there)"_s));

    ASSERT_EQ(control().setMediaSession(u"org.vantle.sim.notes"_s, u"playing"_s, u"Song"_s, u"Artist"_s,
                                        u"Album"_s),
              QString());
    const QString media = device->shell(u"dumpsys media_session"_s).text();
    EXPECT_TRUE(media.contains(u"      package=org.vantle.sim.notes\n"_s));
    EXPECT_TRUE(media.contains(u"state=PlaybackState {state=3, position="_s));
    EXPECT_TRUE(media.contains(u"metadata: size=4, description=Song, Artist, Album\n"_s));
    device->shell(u"cmd media_session dispatch pause"_s);
    EXPECT_TRUE(
        device->shell(u"dumpsys media_session"_s).text().contains(u"state=PlaybackState {state=2,"_s));
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

    // A boot held back never completes until the fault is lifted.
    SimControl control(device.runtime(), 34);
    ASSERT_EQ(control.setFault(u"bootNeverCompletes"_s, true), QString());
    ASSERT_TRUE(device.start(false));
    EXPECT_FALSE(device.waitForDevice(u"device"_s, 800));
    ASSERT_EQ(control.setFault(u"bootNeverCompletes"_s, false), QString());
    EXPECT_TRUE(device.waitForDevice(u"device"_s));
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
    QFile seen(reports.filePath(u"seen"_s));
    ASSERT_TRUE(seen.open(QIODevice::ReadOnly));
    EXPECT_EQ(seen.readAll(), options.toUtf8() + '\n');
}

} // namespace
