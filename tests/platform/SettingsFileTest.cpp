#include "platform/linux/SettingsFile.h"

#include "platform/linux/TypedJson.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
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

// settings_writer's lines of output (it ran to its end, status 0), started with `modifier` in the child.
QList<QByteArray> runWriter(
    const QStringList& arguments, const std::function<void()>& modifier = [] {}) {
    QProcess writer;
    writer.setChildProcessModifier(modifier);
    writer.start(QCoreApplication::applicationDirPath() + u"/settings_writer"_s, arguments);
    EXPECT_TRUE(writer.waitForFinished() && writer.exitCode() == 0);
    return writer.readAllStandardOutput().trimmed().split('\n');
}

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString path = folder.filePath(u"settings.json"_s);

    QStringList asideFiles() const {
        return QDir(folder.path()).entryList({u"settings.json.unreadable-*"_s}, QDir::Files);
    }
};

// A value's type and contents, nested ones included, as QDebug shows them.
QString typed(const QVariant& value) {
    QString text;
    QDebug(&text) << value;
    return text;
}

// Values keep their types across reopening (an int comes back as a 64-bit integer, 5.0 as a double);
// a value of another type replaces one that converts to it, and removed keys stay removed.
TEST_F(SettingsFileTest, ValuesKeepTheirTypesAcrossReopening) {
    const QVariantMap values{
        {u"flag"_s, false},
        {u"api"_s, 35},
        {u"minutes"_s, 5.0},
        {u"window"_s, QVariantMap{{u"pinned"_s, true}}},
        {u"text"_s, u"classic ✓"_s},
        {u"bytes"_s, QByteArray("\x00\xff{\"x\"", 6)},
        {u"dict"_s, QVariantMap{{u"fingerprint"_s, u"123:4.5"_s}, {u"size"_s, qint64(1) << 40}}},
        {u"list"_s, QVariantList{1, u"two"_s, 3.5, false}}};
    {
        SettingsFile file(path);
        file.setValue(u"flag"_s, u"false"_s);
        file.setValue(u"minutes"_s, 5);
        file.setValue(u"window"_s, QVariantMap{{u"pinned"_s, u"true"_s}});
        file.setValue(u"gone"_s, 1);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            EXPECT_TRUE(file.setValue(it.key(), it.value())) << it.key().toStdString();
        EXPECT_TRUE(file.remove(u"gone"_s));
        EXPECT_TRUE(file.remove(u"never-set"_s));
    }
    SettingsFile file(path);
    EXPECT_TRUE(file.problem().isEmpty());
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        EXPECT_EQ(typed(file.value(it.key())),
                  typed(it.value()).replace(u"QVariant(int, "_s, u"QVariant(qlonglong, "_s));
    EXPECT_FALSE(file.value(u"absent"_s).isValid());
    EXPECT_FALSE(file.value(u"gone"_s).isValid());
}

TEST_F(SettingsFileTest, RefusesTypesItCannotKeep) {
    SettingsFile file(path);
    EXPECT_EQ(file.setValue(u"date"_s, QDateTime::currentDateTimeUtc()).error,
              u"a value of type QDateTime cannot be stored"_s);
    EXPECT_FALSE(file.setValue(u"nested"_s, QVariantList{QVariant::fromValue(QPoint(1, 2))}));
    EXPECT_FALSE(file.setValue(u"huge"_s, QVariant::fromValue(quint64(-1))));
    EXPECT_FALSE(file.setValue(u"nan"_s, std::nan("")));
    EXPECT_FALSE(file.value(u"date"_s).isValid());
}

TEST_F(SettingsFileTest, UnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    const QList<QByteArray> broken{
        "{ not json",
        R"({"format":"vantle-settings","version":1,"values":{"a":{"int":"x"}}})",
        R"({"format":"vantle-settings","version":1,"values":{"a":{"int":1,"bool":true}}})",
        R"({"format":"vantle-settings","version":1,"values":{"a":{"data":"@@not base64"}}})",
        R"({"format":"vantle-settings","version":1,"values":{"a":{"int":1.5}}})",
        R"({"format":"something-else","version":1,"values":{}})",
        R"({"format":"vantle-settings","version":2,"values":{}})",
        R"([1,2,3])",
    };
    for (const QByteArray& bytes : broken) {
        SCOPED_TRACE(bytes.toStdString());
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

TEST_F(SettingsFileTest, AFileThatCannotBeKeptAsideIsNeverOverwritten) {
    ASSERT_TRUE(writeFile(path, "garbage"));
    // A folder the writer may read but not change. Root may change any folder, so as root the
    // writer runs as the user nobody, who then owns the folder.
    const QByteArray folderName = QFile::encodeName(folder.path());
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::chown(folderName.constData(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(folderName.constData(), 0555), 0);

    const QList<QByteArray> lines = runWriter({u"set"_s, path}, [asRoot] {
        if (asRoot && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    });
    ::chmod(folderName.constData(), 0700);
    EXPECT_EQ(lines.first(), QByteArray("refused"));
    EXPECT_TRUE(lines.last().contains("could not be read nor kept aside")) << lines.last().toStdString();
    EXPECT_EQ(readFile(path), QByteArray("garbage"));
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

TEST_F(SettingsFileTest, AFullDiskKeepsThePreviousValues) {
    {
        SettingsFile file(path);
        ASSERT_TRUE(file.setValue(u"api"_s, 34));
    }
    const QList<QByteArray> lines = runWriter({u"fill"_s, path, u"65536"_s});
    EXPECT_EQ(lines.first(), QByteArray("refused"));
    // The reason names the file and gives the system's words (a size limit: "File too large").
    EXPECT_EQ(lines.last(), QFile::encodeName(path) + ": " + qt_error_string(EFBIG).toUtf8());
    SettingsFile file(path);
    EXPECT_TRUE(file.problem().isEmpty());
    EXPECT_EQ(file.value(u"api"_s).toLongLong(), 34);
    EXPECT_FALSE(file.value(u"blob"_s).isValid());
}

// A settings file that may not be replaced (chattr +i): each write says why it failed, the values
// stay in memory, and the first write that works again carries all of them.
TEST_F(SettingsFileTest, AFailedWriteSaysWhyAndTheNextWriteCarriesEverything) {
    SettingsFile file(path);
    ASSERT_TRUE(file.setValue(u"a"_s, 1));
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_GE(descriptor, 0);
    int flags = 0;
    if (::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) != 0) {
        ::close(descriptor);
        GTEST_SKIP() << "this file system has no file attributes";
    }
    const auto setFlags = [&](int value) { return ::ioctl(descriptor, FS_IOC_SETFLAGS, &value) == 0; };
    if (!setFlags(flags | FS_IMMUTABLE_FL)) {
        ::close(descriptor);
        GTEST_SKIP() << "files cannot be made immutable here (needs CAP_LINUX_IMMUTABLE)";
    }
    const SettingsWrite refused = file.setValue(u"b"_s, 2);
    const SettingsWrite refusedAgain = file.remove(u"a"_s);
    setFlags(flags);
    ::close(descriptor);

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

TEST(TypedJson, DecodesOnlyWellFormedValues) {
    const auto decode = [](const std::string& typed) -> std::optional<QVariant> {
        const auto values = TypedJson::decodeDocument(QByteArray::fromStdString(
            R"({"format":"vantle-settings","version":1,"values":{"k":)" + typed + "}}"));
        if (!values) return std::nullopt;
        return values->value(u"k"_s);
    };
    EXPECT_EQ(decode(R"({"int": 9007199254740993})")->toLongLong(), 9007199254740993LL);
    EXPECT_EQ(decode(R"({"double": 5})")->typeId(), QMetaType::Double);
    EXPECT_EQ(decode(R"({"utf8": "[{\"a\":1}]"})")->toByteArray(), QByteArray(R"([{"a":1}])"));
    EXPECT_EQ(decode(R"({"array": [{"bool": false}]})")->toList().first().toBool(), false);
    // Members of arrays and dictionaries must be typed too.
    for (const char* refused : {R"({"bool": 1})", R"({"int": 1.5})", R"({"int": 1e30})", R"({"string": 5})",
                                R"({"array": [true]})", R"({"dict": {"k": 1}})", R"({})", R"("plain")"})
        EXPECT_FALSE(decode(refused)) << refused;

    // Hostile nesting is refused, not followed down the stack.
    std::string deep;
    for (int i = 0; i < 100'000; ++i)
        deep += R"({"array":[)";
    EXPECT_FALSE(decode(deep));
    std::string nested = R"({"int":1})";
    for (int i = 0; i < 100; ++i)
        nested = R"({"array":[)" + nested + "]}";
    EXPECT_FALSE(decode(nested));
}

TEST(TypedJson, BytesStayBytesWhetherOrNotTheyAreText) {
    QVariantMap values{{u"json"_s, QByteArray(R"([{"name":"Ünï"}])")},
                       {u"binary"_s, QByteArray("\xff\xfe\x00\x01", 4)},
                       {u"nul"_s, QByteArray("a\0b", 3)},
                       {u"empty"_s, QByteArray()}};
    // Runs of every byte value, long enough for any vectorised scanning in the JSON library.
    for (int byte = 0; byte < 256; ++byte)
        values.insert(u"run%1"_s.arg(byte), QByteArray(40, char(byte)));
    const QByteArray document = TypedJson::encodeDocument(values);
    EXPECT_TRUE(document.contains(R"("utf8": "[{\"name\":)")) << document.toStdString();
    const auto decoded = TypedJson::decodeDocument(document);
    ASSERT_TRUE(decoded);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        EXPECT_EQ(decoded->value(it.key()).typeId(), QMetaType::QByteArray) << it.key().toStdString();
        EXPECT_EQ(decoded->value(it.key()).toByteArray(), it->toByteArray()) << it.key().toStdString();
    }
}

} // namespace
