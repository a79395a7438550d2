#include "platform/linux/SettingsFile.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString path = folder.filePath(u"settings.json"_s);

    QStringList asideFiles() const {
        return QDir(folder.path()).entryList({u"settings.json.unreadable-*"_s}, QDir::Files);
    }
};

// Values keep their types across reopening; a value of another type replaces one that converts to
// it, removed keys stay removed, and types it cannot keep are refused.
TEST_F(SettingsFileTest, ValuesKeepTheirTypesAcrossReopening) {
    struct Case {
        QString key;
        QVariant before; // written first, then replaced
        QVariant value;  // read back with its type, an int as a 64-bit integer
    };
    QList<Case> cases{
        {u"flag"_s, u"false"_s, false},
        {u"api"_s, {}, 35},
        // 5.0 is written as the JSON number 5 but must come back as a double, not an integer.
        {u"minutes"_s, 5, 5.0},
        {u"window"_s, QVariantMap{{u"pinned"_s, u"true"_s}}, QVariantMap{{u"pinned"_s, true}}},
        {u"text"_s, {}, u"classic ✓"_s},
        {u"dict"_s, {}, QVariantMap{{u"fingerprint"_s, u"123:4.5"_s}, {u"size"_s, qint64(1) << 40}}},
        {u"list"_s, {}, QVariantList{qint64(1), u"two"_s, 3.5, false}},
        {u"big"_s, {}, qint64(9007199254740993)}, // beyond a double's precision
        {u"bytes"_s, {}, QByteArray("\x00\xff{\"x\"", 6)},
        {u"json"_s, {}, QByteArray(R"([{"name":"Ünï"}])")},
        {u"nul"_s, {}, QByteArray("a\0b", 3)},
        {u"empty"_s, {}, QByteArray()},
    };
    // Bytes stay bytes whether or not they are text: runs of every byte value, long enough for any
    // vectorised scanning in the JSON library (compared as bytes: QVariant's == does not convert them).
    QVariantMap runs;
    for (int byte = 0; byte < 256; ++byte)
        runs.insert(u"run%1"_s.arg(byte), QByteArray(40, char(byte)));
    cases.append({u"runs"_s, {}, runs});
    {
        SettingsFile file(path);
        file.setValue(u"gone"_s, 1);
        for (const Case& c : cases) {
            if (c.before.isValid()) file.setValue(c.key, c.before);
            EXPECT_TRUE(file.setValue(c.key, c.value)) << c.key.toStdString();
        }
        EXPECT_TRUE(file.remove(u"gone"_s));
        EXPECT_TRUE(file.remove(u"never-set"_s));
        EXPECT_EQ(file.setValue(u"date"_s, QDateTime::currentDateTimeUtc()).error,
                  u"a value of type QDateTime cannot be stored"_s);
        EXPECT_FALSE(file.setValue(u"nested"_s, QVariantList{QVariant::fromValue(QPoint(1, 2))}));
        EXPECT_FALSE(file.setValue(u"huge"_s, QVariant::fromValue(quint64(-1))));
        EXPECT_FALSE(file.setValue(u"nan"_s, std::nan("")));
    }
    SettingsFile file(path);
    EXPECT_TRUE(file.problem().isEmpty());
    for (const Case& c : cases) {
        const QVariant read = file.value(c.key);
        EXPECT_EQ(read.typeId(), c.value.typeId() == QMetaType::Int ? QMetaType::LongLong : c.value.typeId())
            << c.key.toStdString();
        EXPECT_EQ(read, c.value) << c.key.toStdString();
    }
    QList<int> members; // their types, which equality above does not compare for numbers
    for (const QVariant& member : file.value(u"list"_s).toList())
        members.append(member.typeId());
    EXPECT_EQ(members,
              (QList<int>{QMetaType::LongLong, QMetaType::QString, QMetaType::Double, QMetaType::Bool}));
    EXPECT_EQ(file.value(u"window"_s).toMap().value(u"pinned"_s).typeId(), QMetaType::Bool);
    EXPECT_TRUE(readFile(path).contains(R"("utf8": "[{\"name\":)")); // bytes that are text, readable
    for (const char* absent : {"absent", "gone", "date", "nested", "huge", "nan"})
        EXPECT_FALSE(file.value(QLatin1StringView(absent)).isValid()) << absent;
}

// Whatever the file cannot hold: a typed value that is not well-formed (members of arrays and
// dictionaries must be typed too), hostile nesting (refused, not followed down the stack).
TEST_F(SettingsFileTest, UnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    const auto document = [](const std::string& typed) {
        return QByteArray::fromStdString(R"({"format":"vantle-settings","version":1,"values":{"a":)" + typed +
                                         "}}");
    };
    std::string deep, nested = R"({"int":1})";
    for (int i = 0; i < 100'000; ++i)
        deep += R"({"array":[)";
    for (int i = 0; i < 100; ++i)
        nested = R"({"array":[)" + nested + "]}";
    QList<QByteArray> broken{document(deep), document(nested)};
    for (const char* whole :
         {"{ not json", "[1,2,3]", R"({"format":"something-else","version":1,"values":{}})",
          R"({"format":"vantle-settings","version":2,"values":{}})"})
        broken.append(whole);
    for (const char* typed : {R"({"int":"x"})", R"({"int":1,"bool":true})", R"({"data":"@@not base64"})",
                              R"({"bool": 1})", R"({"int": 1.5})", R"({"int": 1e30})", R"({"string": 5})",
                              R"({"array": [true]})", R"({"dict": {"k": 1}})", R"({})", R"("plain")"})
        broken.append(document(typed));
    for (const QByteArray& bytes : broken) {
        SCOPED_TRACE(bytes.left(80).toStdString());
        for (const QString& name : asideFiles())
            QFile::remove(folder.filePath(name));
        ASSERT_TRUE(writeFile(path, bytes));
        SettingsFile file(path);
        EXPECT_FALSE(file.problem().isEmpty());
        EXPECT_FALSE(file.value(u"a"_s).isValid());
        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(file.problem().endsWith(u" kept as "_s + folder.filePath(aside.first())))
            << file.problem().toStdString();
        EXPECT_EQ(readFile(folder.filePath(aside.first())), bytes); // the user's bytes are intact
        // The store works normally afterwards.
        EXPECT_TRUE(file.setValue(u"a"_s, 7));
        EXPECT_EQ(SettingsFile(path).value(u"a"_s).toLongLong(), 7);
    }
}

// A writer killed at any moment leaves the old or the new file, never a broken one.
TEST_F(SettingsFileTest, KillingTheWriterNeverLeavesABrokenFile) {
    const QString writer = QCoreApplication::applicationDirPath() + u"/settings_writer"_s;
    for (int round = 0; round < 12; ++round) {
        QFile::remove(path);
        QProcess process;
        process.start(writer, {u"loop"_s, path});
        ASSERT_TRUE(process.waitForStarted());
        // Once the first write has landed, kill it at a random moment of the writes that follow.
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(path); }, 20000));
        QThread::msleep(QRandomGenerator::global()->bounded(60));
        process.kill();
        process.waitForFinished();

        SettingsFile file(path);
        ASSERT_TRUE(file.problem().isEmpty()) << file.problem().toStdString();
        const QVariant counter = file.value(u"counter"_s);
        if (!counter.isValid()) { // only the first value (the blob) had been written
            EXPECT_EQ(file.value(u"blob"_s).toByteArray(), QByteArray(512 * 1024, '\0'));
            continue;
        }
        ASSERT_EQ(counter.typeId(), QMetaType::LongLong);
        const QByteArray blob = file.value(u"blob"_s).toByteArray();
        ASSERT_EQ(blob.size(), 512 * 1024);
        // The blob is written before the counter: it belongs to the counter's write or the next.
        const char low = char(counter.toLongLong() & 0xFF), next = char((counter.toLongLong() + 1) & 0xFF);
        EXPECT_TRUE(blob.count(low) == blob.size() || blob.count(next) == blob.size());
    }
}

// Writes that cannot land, in a child process: a full disk keeps the previous values, and a file that
// cannot be kept aside is never overwritten.
TEST_F(SettingsFileTest, AWriteThatCannotLandLeavesTheFileAsItWas) {
    const auto writer = [&](const QStringList& arguments, const std::function<void()>& modifier = {}) {
        QProcess process;
        if (modifier) process.setChildProcessModifier(modifier);
        process.start(QCoreApplication::applicationDirPath() + u"/settings_writer"_s, arguments);
        EXPECT_TRUE(process.waitForFinished() && process.exitCode() == 0);
        return process.readAllStandardOutput().trimmed().split('\n');
    };
    ASSERT_TRUE(SettingsFile(path).setValue(u"api"_s, 34));
    QList<QByteArray> lines = writer({u"fill"_s, path, u"65536"_s});
    EXPECT_EQ(lines.first(), QByteArray("refused"));
    // The reason names the file and gives the system's words (a size limit: "File too large").
    EXPECT_EQ(lines.last(), QFile::encodeName(path) + ": " + qt_error_string(EFBIG).toUtf8());
    SettingsFile file(path);
    EXPECT_TRUE(file.problem().isEmpty());
    EXPECT_EQ(file.value(u"api"_s).toLongLong(), 34);
    EXPECT_FALSE(file.value(u"blob"_s).isValid());

    ASSERT_TRUE(writeFile(path, "garbage"));
    // A folder the writer may read but not change. Root may change any folder, so as root the
    // writer runs as the user nobody, who then owns the folder.
    const QByteArray folderName = QFile::encodeName(folder.path());
    const bool asRoot = ::geteuid() == 0;
    ASSERT_TRUE(!asRoot || ::chown(folderName.constData(), 65534, 65534) == 0);
    ASSERT_EQ(::chmod(folderName.constData(), 0555), 0);
    lines = writer({u"set"_s, path}, [asRoot] {
        if (asRoot && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    });
    ::chmod(folderName.constData(), 0700);
    EXPECT_EQ(lines.first(), QByteArray("refused"));
    EXPECT_TRUE(lines.last().contains("could not be read nor kept aside")) << lines.last().toStdString();
    EXPECT_EQ(readFile(path), QByteArray("garbage"));
}

// A settings file that may not be replaced (chattr +i): each write says why it failed, the values
// stay in memory, and the first write that works again carries all of them.
TEST_F(SettingsFileTest, AFailedWriteSaysWhyAndTheNextWriteCarriesEverything) {
    SettingsFile file(path);
    ASSERT_TRUE(file.setValue(u"a"_s, 1));
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_GE(descriptor, 0);
    const auto closing = qScopeGuard([descriptor] { ::close(descriptor); });
    int flags = 0;
    if (::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) != 0)
        GTEST_SKIP() << "this file system has no file attributes";
    const auto setFlags = [&](int value) { return ::ioctl(descriptor, FS_IOC_SETFLAGS, &value) == 0; };
    if (!setFlags(flags | FS_IMMUTABLE_FL))
        GTEST_SKIP() << "files cannot be made immutable here (needs CAP_LINUX_IMMUTABLE)";
    const SettingsWrite refused = file.setValue(u"b"_s, 2);
    const SettingsWrite refusedAgain = file.remove(u"a"_s);
    setFlags(flags);

    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.error.contains(path)) << refused.error.toStdString();
    EXPECT_TRUE(refused.error.contains(u"not writable"_s)) << refused.error.toStdString();
    EXPECT_FALSE(refusedAgain);
    EXPECT_FALSE(SettingsFile(path).value(u"b"_s).isValid()) << "nothing reached the disk";
    EXPECT_EQ(file.value(u"b"_s).toLongLong(), 2) << "kept in memory";

    ASSERT_TRUE(file.setValue(u"c"_s, 3));
    SettingsFile reopened(path);
    EXPECT_FALSE(reopened.value(u"a"_s).isValid());
    EXPECT_EQ(reopened.value(u"b"_s).toLongLong(), 2);
    EXPECT_EQ(reopened.value(u"c"_s).toLongLong(), 3);
}

} // namespace
