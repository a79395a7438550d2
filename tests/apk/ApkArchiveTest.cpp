// Reading APK files: aapt-built fixtures, the shapes Android accepts, damaged and hostile archives;
// what counts as an APK, `vantlectl apk-info` as users run it, and the replay of every fuzz input.
#include "apk/ApkArchive.h"

#include "ApkBuilders.h"
#include "apk/APKManifestReader.h"
#include "apk/ApkFile.h"
#include "apk/BinaryXml.h"
#include "fuzz/FuzzEntries.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

TEST(ApkArchive, ReadsEntriesOfGoodArchivesAndNothingOfMissingCutOrOversizedOnes) {
    const QString apk = fixture(u"densities"_s);
    EXPECT_EQ(read(apk, u"AndroidManifest.xml"_s).value_or(QByteArray()).left(2), QByteArray("\x03\x00", 2));
    EXPECT_FALSE(read(apk, u"res/missing.png"_s).has_value());
    EXPECT_FALSE(read(apk, u"androidmanifest.xml"_s).has_value()) << "names match exactly";
    EXPECT_TRUE(entryNames(apk).value_or(QStringList()).contains(u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s));
    EXPECT_FALSE(APKManifestReader::packageName(u"/nonexistent/app.apk"_s).has_value());

    QTemporaryDir folder;
    const QString plain = folder.filePath(u"plain.apk"_s), cut = folder.filePath(u"cut.apk"_s);
    ASSERT_TRUE(writeZip(plain, {{u"AndroidManifest.xml"_s, "manifest"}, {u"empty"_s, {}}}));
    EXPECT_FALSE(read(plain, u"empty"_s).has_value());
    ASSERT_TRUE(writeFile(cut, readFile(plain).chopped(40))); // no central directory any more
    EXPECT_FALSE(read(cut, u"AndroidManifest.xml"_s).has_value());
    EXPECT_FALSE(entryNames(cut).has_value());
    EXPECT_FALSE(read(folder.path(), u"AndroidManifest.xml"_s).has_value()) << "a folder";
    // Entries beyond the cap are missing: 65 MiB of zeros deflate to a small file that would fill memory.
    ASSERT_TRUE(writeZip(plain, {{u"resources.arsc"_s, QByteArray(maxEntryBytes + 1024 * 1024, '\0'), true},
                                 {u"AndroidManifest.xml"_s, "manifest"}}));
    EXPECT_FALSE(read(plain, u"resources.arsc"_s).has_value());
    EXPECT_EQ(read(plain, u"AndroidManifest.xml"_s), QByteArray("manifest"));
    const QHash<QString, QByteArray> both = readMany(plain, {u"resources.arsc"_s, u"AndroidManifest.xml"_s});
    EXPECT_EQ(both.keys(), QStringList{u"AndroidManifest.xml"_s});
}

// Shapes Android and aapt accept read as the plain file; the directory is parsed once, at opening.
TEST(ApkArchive, ReadsArchivesAndroidAcceptsWithOneDirectoryParse) {
    const QByteArray plain = readFile(fixture(u"densities"_s));
    const qsizetype end = plain.lastIndexOf("PK\x05\x06");
    const auto withComment = [](QByteArray apk, qsizetype endAt) {
        setU16(apk, endAt + 20, 65535);
        return apk + QByteArray(65535, 'c');
    };
    const QByteArray gap = QByteArray(plain).insert(end, QByteArray(4096, '\0'));
    const std::pair<const char*, QByteArray> cases[] = {
        {"a comment of 65,535 bytes", withComment(plain, end)},
        {"4 KiB between directory and end record", gap},
        {"both", withComment(gap, end + 4096)},
    };
    const std::optional<QByteArray> table = read(fixture(u"densities"_s), u"resources.arsc"_s);
    ASSERT_TRUE(table.has_value());
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"variant.apk"_s);
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(writeFile(apk, bytes));
        EXPECT_EQ(read(apk, u"resources.arsc"_s), table);
        EXPECT_EQ(entryNames(apk), entryNames(fixture(u"densities"_s)));
        EXPECT_EQ(APKManifestReader::packageName(apk), u"org.vantle.fixture.densities"_s);
        if (!QFileInfo(u"/usr/bin/aapt"_s).isExecutable()) continue;
        QProcess aapt;
        aapt.start(u"/usr/bin/aapt"_s, {u"dump"_s, u"badging"_s, apk});
        ASSERT_TRUE(aapt.waitForFinished(30'000));
        EXPECT_EQ(aapt.exitCode(), 0) << "aapt refuses it too";
    }
    ASSERT_TRUE(writeFile(apk, plain));
    ApkArchive archive(apk);
    ASSERT_TRUE(archive.isOpen());
    QByteArray wiped = plain; // the directory wiped on disk; the entries' own headers and data stay
    const qsizetype directory = u32(plain, end + 16);
    wiped.replace(directory, end - directory, QByteArray(end - directory, '\0'));
    ASSERT_TRUE(writeFile(apk, wiped));
    EXPECT_TRUE(archive.read(u"resources.arsc"_s).has_value()) << archive.error().toStdString();
    EXPECT_TRUE(archive.read(u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s).has_value());
    EXPECT_FALSE(ApkArchive(apk).isOpen()) << "a fresh open reads the wiped directory";
}

// Damaged and hostile archives: each is refused with the reason, never read wrongly or crashed on.
TEST(ApkArchive, RefusesDamagedAndHostileArchives) {
    const QByteArray table(4000, 't');
    const ZipLayout base =
        zipBytes({{u"AndroidManifest.xml"_s, QByteArray("manifest")}, {u"resources.arsc"_s, table, true}});
    const qsizetype tableAt = base.local[1], record = base.central[1], end = base.end;
    // The archive with `bytes` written at `offset`; with a field of the table entry changed alike in
    // its local header and its directory record, where each field sits 2 bytes later.
    const auto at = [&](qsizetype offset, const QByteArray& bytes) {
        return QByteArray(base.bytes).replace(offset, bytes.size(), bytes);
    };
    const auto both = [&](qsizetype field, const QByteArray& bytes) {
        return at(tableAt + field, bytes).replace(record + field + 2, bytes.size(), bytes);
    };
    const auto le = [](quint32 value, int size = 4) {
        QByteArray bytes(4, '\0');
        setU32(bytes, 0, value);
        return bytes.left(size);
    };
    const struct {
        const char* what;
        QByteArray bytes;
        const char* error;
    } cases[] = {
        {"cut off", base.bytes.chopped(1), "no end of central directory record"},
        {"a byte after the end record", base.bytes + 'x', "1 bytes after the end record"},
        {"no entries", at(end + 10, le(0, 2)), "no entries"},
        {"a count past the directory", at(end + 10, le(60000, 2)), "ends after 2 of 60000 records"},
        {"a directory past the end record", at(end + 12, le(quint32(end))), "runs past the end record"},
        {"ZIP64 end record", at(end + 16, le(0xFFFFFFFF)), "ZIP64 archives"},
        {"ZIP64 entry", at(record + 24, le(0xFFFFFFFF)), "ZIP64 entries"},
        {"a local header inside the directory", at(record + 42, le(quint32(base.central[0]))),
         "is not before the central directory"},
        {"overlapping entries", at(record + 42, le(quint32(base.local[0] + 4))), "entries overlap"},
        {"duplicate names", zipBytes({{u"resources.arsc"_s, "a"}, {u"resources.arsc"_s, "b"}}).bytes,
         "duplicate entry resources.arsc"},
        {"a name that is not UTF-8", at(record + 46, "\xFF"), "not UTF-8"},
        {"a NUL in a name", at(record + 47, QByteArray(1, '\0')), "holds NUL"},
        {"no local header at the start", at(0, "X"), "does not start with"},
        {"a local header of another name", at(tableAt + 30, "R"), "names another entry"},
        {"local and directory sizes differ", at(tableAt + 22, le(4001)), "differ from the central directory"},
        {"data running into the directory", both(18, le(u32(base.bytes, tableAt + 18) + 200)),
         "runs into the central directory"},
        {"a wrong CRC", both(14, le(1)), "CRC does not match"},
        {"damaged deflate data", at(tableAt + 44, QByteArray(8, '\xFF')), "damaged"},
        {"more data than declared", both(22, le(3999)), "does not match its declared size"},
        {"a compression method other than stored or deflated", both(8, le(12, 2)), "compression method 12"},
        {"an encrypted entry", at(record + 8, le(1, 2)), "encrypted"},
        {"a size deflate cannot reach", both(22, le(60'000'000)), "exceeds what deflate can produce"},
    };
    const std::unique_ptr<ApkArchive> intact = ApkArchive::fromBytes(base.bytes);
    EXPECT_EQ(intact->read(u"resources.arsc"_s), table) << intact->error().toStdString();
    EXPECT_FALSE(intact->read(u"classes.dex"_s).has_value());
    EXPECT_EQ(intact->error(), u"classes.dex: no such entry"_s);
    EXPECT_EQ(intact->read(u"AndroidManifest.xml"_s), QByteArray("manifest"));
    EXPECT_EQ(intact->error(), QString());
    // Sizes and CRC in a data descriptor (flag bit 3): the local header holds zeros instead.
    const QByteArray described = at(tableAt + 6, le(0x08, 2)).replace(tableAt + 14, 12, QByteArray(12, '\0'));
    EXPECT_EQ(ApkArchive::fromBytes(described)->read(u"resources.arsc"_s), table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<ApkArchive> archive = ApkArchive::fromBytes(c.bytes);
        EXPECT_FALSE(archive->read(u"resources.arsc"_s).has_value());
        EXPECT_TRUE(archive->error().contains(QLatin1StringView(c.error))) << archive->error().toStdString();
    }
}

namespace {

struct CtlRun {
    int status = -1;
    QStringList lines;
    QString errors;
};

CtlRun apkInfo(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VANTLE_CTL_PATH), QStringList{u"apk-info"_s} + arguments);
    CtlRun run;
    if (!process.waitForFinished(30'000)) return run;
    run.status = process.exitCode();
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

// `vantlectl apk-info` reports every file given, then fails the call for each that is no APK, with its
// reason.
TEST(ApkFile, OnlyAZipWithACompiledManifestIsAnAPKAndApkInfoSaysWhyEachOtherIsNot) {
    QTemporaryDir folder;
    const auto saved = [&](const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(writeFile(folder.filePath(name), bytes));
        return folder.filePath(name);
    };
    const auto zip = [&](const QString& name, const QByteArray& manifest, const QString& entry = {}) {
        return saved(name, zipBytes({{entry.isEmpty() ? u"AndroidManifest.xml"_s : entry, manifest}}).bytes);
    };
    const struct {
        QString path;
        bool isApk;
        std::optional<QString> label;
    } files[] = {
        {fixture(u"tie"_s), true, u"Tie Breaker"_s},
        {fixture(u"densities"_s), true, u"Densities"_s},              // UTF-8 table pool
        {fixture(u"adaptive_vector"_s), true, u"Ünïcødé Äpp 日本"_s}, // UTF-16 table pool
        {fixture(u"fallback"_s), true, std::nullopt}, // the first string value is empty: still an app
        {zip(u"bare.apk"_s, compiled(u"<manifest package='org.a'/>"_s)), true, std::nullopt},
        {zip(u"source.apk"_s, "<manifest package=\"org.a\"/>"), false, std::nullopt},
        {zip(u"empty-manifest.apk"_s, {}), false, std::nullopt},
        {zip(u"other.zip"_s, "dex\n035", u"classes.dex"_s), false, std::nullopt},
        {saved(u"text.apk"_s, "PK\x03\x04 but not a zip"), false, std::nullopt},
    };
    QList<std::pair<QString, QString>> refused{{u"/dev/zero"_s, u"not a regular file"_s},
                                               {folder.path(), u"is a folder"_s},
                                               {folder.filePath(u"missing.apk"_s), u"no such file"_s}};
    for (const auto& c : files) {
        SCOPED_TRACE(c.path.toStdString());
        const ApkReading reading = ApkFile::read(c.path);
        EXPECT_EQ(reading.isApk, c.isApk);
        EXPECT_EQ(ApkFile::isApk(c.path), c.isApk);
        EXPECT_EQ(reading.label, c.label);
        if (!c.isApk) refused.append({c.path, u"not an Android app (APK) file"_s});
    }
    EXPECT_FALSE(ApkFile::read(refused[2].first).label.has_value()) << "a missing file";
    QStringList arguments{u"--json"_s, fixture(u"densities"_s), fixture(u"fallback"_s)};
    QString errors;
    for (const auto& [path, reason] : refused) {
        arguments.append(path);
        errors += u"vantlectl: "_s + path + u": "_s + reason + u'\n';
    }
    const CtlRun run = apkInfo(arguments);
    EXPECT_EQ(run.status, 1) << "files that are no APK fail the call, after the others were reported";
    EXPECT_EQ(run.errors, errors);
    ASSERT_EQ(run.lines.size(), arguments.size() - 1);
    QList<QJsonObject> objects;
    for (const QString& line : run.lines)
        objects.append(QJsonDocument::fromJson(line.toUtf8()).object());
    EXPECT_EQ(objects[0][u"package"_s].toString(), u"org.vantle.fixture.densities"_s);
    EXPECT_EQ(objects[0][u"label"_s].toString(), u"Densities"_s);
    EXPECT_EQ(objects[0][u"icon"_s].toString(),
              u"icon 0x7F020000 res/mipmap-xxxhdpi-v4/ic_launcher.png (640 dpi)"_s);
    EXPECT_TRUE(objects[1][u"label"_s].isNull());
    EXPECT_EQ(objects[1][u"icon"_s].toString(), u"file name res/mipmap-xxxhdpi-v4/ic_launcher.png"_s);
    for (qsizetype i = 2; i < objects.size(); ++i)
        EXPECT_EQ(
            objects[i],
            QJsonObject(
                {{u"file"_s, arguments[i + 1]}, {u"package"_s, {}}, {u"label"_s, {}}, {u"icon"_s, {}}}));

    const QString png = folder.filePath(u"icon.png"_s), icons = folder.filePath(u"icons"_s);
    const CtlRun one = apkInfo({fixture(u"tie"_s), u"--icon"_s, png});
    EXPECT_EQ(one.status, 0);
    EXPECT_TRUE(one.lines.value(0).contains(
        u"package=org.vantle.fixture.tie label=\"Tie Breaker\" icon=icon 0x7F020000"_s));
    EXPECT_EQ(QImage(png).pixel(5, 5), qRgb(0x80, 0x80, 0));
    const CtlRun several = apkInfo({fixture(u"tie"_s), fixture(u"vector"_s), fixture(u"fallback"_s),
                                    refused[2].first, u"--icon"_s, icons});
    EXPECT_EQ(several.lines.value(3), refused[2].first + u": package=- label=- icon=none"_s);
    EXPECT_EQ(QImage(icons + u"/vector.png"_s).size(), QSize(192, 192));
    EXPECT_TRUE(QFile::exists(icons + u"/tie.png"_s));
    EXPECT_TRUE(QFile::exists(icons + u"/fallback.png"_s));
    EXPECT_EQ(apkInfo({}).status, 2) << "no APK is a usage error";
}

// Every kept fuzz regression and seed goes through its target in the normal build: a fault is a
// crash or a time-out. A target without any input would replay nothing.
TEST(FuzzRegressions, EveryKeptInputOfEveryTarget) {
    const std::pair<QString, void (*)(const uint8_t*, size_t)> targets[] = {
        {u"binaryXml"_s, &FuzzEntries::binaryXml},         {u"manifest"_s, &FuzzEntries::manifest},
        {u"resourceTable"_s, &FuzzEntries::resourceTable}, {u"vector"_s, &FuzzEntries::vector},
        {u"pathData"_s, &FuzzEntries::pathData},           {u"zipContainer"_s, &FuzzEntries::zipContainer},
    };
    for (const auto& [target, entry] : targets) {
        int count = 0;
        for (const QString& kind : {u"regressions"_s, u"seeds"_s}) {
            const QDir folder(QStringLiteral(VANTLE_FUZZ_DIR) + u'/' + kind + u'/' + target);
            for (const QFileInfo& file : folder.entryInfoList(QDir::Files)) {
                const QByteArray bytes = readFile(file.filePath());
                SCOPED_TRACE(file.filePath().toStdString());
                entry(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
                ++count;
            }
        }
        EXPECT_GT(count, 0) << target.toStdString();
    }
}
