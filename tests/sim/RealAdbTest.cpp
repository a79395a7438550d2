// The simulated emulator's adbd driven by Google's adb (Debian's build) directly: what the end-to-end
// programs do not reach. Skipped on a machine without Google's adb.
#include "SimTestDevice.h"
#include "sim/SimInstaller.h"
#include "sim/adbd/AdbMessage.h"

#include <QTcpSocket>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using namespace std::string_literals;

namespace {

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
            const AdbResult result = device->adb(run.arguments, true, run.input);
            const std::string what = run.arguments.join(u' ').toStdString();
            EXPECT_EQ(result.status, run.status) << what;
            EXPECT_EQ(result.out, run.out) << what;
            EXPECT_EQ(result.err, run.err) << what;
        }
        // 3 MB crosses many WRTEs, each waiting for the server's OKAY.
        const AdbResult zeros = device->shell(u"head -c 3000000 /dev/zero"_s);
        EXPECT_EQ(zeros.status, 0);
        EXPECT_EQ(zeros.out, QByteArray(3000000, '\0'));
    }
    {
        SCOPED_TRACE("reverse: listing, rebinding and removing (the display tests send through one)");
        const QString remote = u"tcp:6000"_s, local = u"localabstract:vantle_probe"_s;
        EXPECT_EQ(device->adb({u"reverse"_s, local, remote}).status, 0);
        EXPECT_TRUE(device->adb({u"reverse"_s, u"--list"_s}).text().contains(u' ' + local + u' ' + remote));
        const AdbResult rebind = device->adb({u"reverse"_s, u"--no-rebind"_s, local, remote});
        EXPECT_EQ(rebind.status, 1);
        EXPECT_EQ(rebind.err, "adb: error: cannot rebind existing socket\n");
        EXPECT_EQ(device->adb({u"reverse"_s, u"--remove"_s, local}).status, 0);
        EXPECT_FALSE(device->adb({u"reverse"_s, u"--list"_s}).text().contains(local));
        const AdbResult missing = device->adb({u"reverse"_s, u"--remove"_s, local});
        EXPECT_EQ(missing.status, 1);
        EXPECT_EQ(missing.err, "adb: error: listener 'localabstract:vantle_probe' not found\n");
        EXPECT_EQ(device->adb({u"reverse"_s, u"--remove-all"_s}).status, 0);
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

} // namespace
