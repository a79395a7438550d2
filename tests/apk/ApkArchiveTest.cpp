// Reading entries out of APK files: fixtures built by aapt, shapes Android accepts, and hand-made
// damaged and hostile archives.
#include "apk/ApkArchive.h"

#include "ApkBuilders.h"
#include "apk/APKManifestReader.h"
#include "apk/BinaryXml.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

TEST(ApkArchive, ReadsEntriesAndPackagesOfAaptBuiltApks) {
    const QString apk = fixture(u"densities"_s);
    const std::optional<QByteArray> manifest = read(apk, u"AndroidManifest.xml"_s);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->left(2), QByteArray("\x03\x00", 2));
    EXPECT_TRUE(read(apk, u"resources.arsc"_s).has_value());
    EXPECT_FALSE(read(apk, u"res/missing.png"_s).has_value());
    EXPECT_FALSE(read(apk, u"androidmanifest.xml"_s).has_value()) << "names match exactly";
    const std::optional<QStringList> names = entryNames(apk);
    ASSERT_TRUE(names.has_value());
    EXPECT_TRUE(names->contains(u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s));
    EXPECT_EQ(APKManifestReader::packageName(fixture(u"densities"_s)), u"org.vantle.fixture.densities"_s);
    EXPECT_EQ(APKManifestReader::packageName(fixture(u"adaptive_vector"_s)),
              u"org.vantle.fixture.adaptive.vector"_s);
    EXPECT_FALSE(APKManifestReader::packageName(u"/nonexistent/app.apk"_s).has_value());
}

TEST(ApkArchive, MissingEmptyDamagedAndOversizedGiveNothing) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"plain.apk"_s);
    ASSERT_TRUE(
        writeZip(apk, {{u"AndroidManifest.xml"_s, QByteArray("\x03\x00\x08\x00", 4)}, {u"empty"_s, {}}}));
    EXPECT_TRUE(read(apk, u"AndroidManifest.xml"_s).has_value());
    EXPECT_FALSE(read(apk, u"resources.arsc"_s).has_value());
    EXPECT_FALSE(read(apk, u"empty"_s).has_value());

    const QByteArray whole = readFile(apk);
    const QString cut = folder.filePath(u"cut.apk"_s);
    ASSERT_TRUE(writeFile(cut, whole.left(whole.size() / 2))); // no central directory any more
    EXPECT_FALSE(read(cut, u"AndroidManifest.xml"_s).has_value());
    EXPECT_FALSE(entryNames(cut).has_value());
    EXPECT_FALSE(read(folder.path(), u"AndroidManifest.xml"_s).has_value()) << "a folder";

    // Entries beyond the cap are missing: 65 MiB of zeros deflate to a small file that would fill memory.
    ASSERT_TRUE(writeZip(apk, {{u"resources.arsc"_s, QByteArray(maxEntryBytes + 1024 * 1024, '\0'), true},
                               {u"AndroidManifest.xml"_s, QByteArray("manifest")}}));
    EXPECT_FALSE(read(apk, u"resources.arsc"_s).has_value());
    EXPECT_EQ(read(apk, u"AndroidManifest.xml"_s), QByteArray("manifest"));
    const QHash<QString, QByteArray> both = readMany(apk, {u"resources.arsc"_s, u"AndroidManifest.xml"_s});
    EXPECT_EQ(both.size(), 1);
    EXPECT_TRUE(both.contains(u"AndroidManifest.xml"_s));
}

namespace {

// The aapt-built APK with a comment of `length` bytes after its end record.
QByteArray withComment(QByteArray apk, quint16 length) {
    const qsizetype end = apk.lastIndexOf("PK\x05\x06");
    setU16(apk, end + 20, length);
    return apk + QByteArray(length, 'c');
}

// The same with `length` bytes between its central directory and its end record.
QByteArray withGap(QByteArray apk, qsizetype length) {
    return apk.insert(apk.lastIndexOf("PK\x05\x06"), QByteArray(length, '\0'));
}

} // namespace

// Shapes of real-world APKs that Android installs and its own aapt reads: each must give the same
// entries as the plain file.
TEST(ApkArchive, ReadsArchivesAndroidAccepts) {
    const QByteArray plain = readFile(fixture(u"densities"_s));
    ASSERT_FALSE(plain.isEmpty());
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"a comment of 65,535 bytes", withComment(plain, 65535)},
        {"4 KiB between directory and end record", withGap(plain, 4096)},
        {"both", withComment(withGap(plain, 7), 65535)},
    };
    const std::optional<QByteArray> table = read(fixture(u"densities"_s), u"resources.arsc"_s);
    const std::optional<QStringList> names = entryNames(fixture(u"densities"_s));
    ASSERT_TRUE(table.has_value() && names.has_value());
    QTemporaryDir folder;
    const QString aapt = u"/usr/bin/aapt"_s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString apk = folder.filePath(u"variant.apk"_s);
        ASSERT_TRUE(writeFile(apk, c.bytes));
        EXPECT_EQ(read(apk, u"resources.arsc"_s), table);
        EXPECT_EQ(entryNames(apk), names);
        EXPECT_EQ(APKManifestReader::packageName(apk), u"org.vantle.fixture.densities"_s);
        if (!QFileInfo(aapt).isExecutable()) continue;
        QProcess process;
        process.start(aapt, {u"dump"_s, u"badging"_s, apk});
        ASSERT_TRUE(process.waitForFinished(30'000));
        EXPECT_EQ(process.exitCode(), 0) << "aapt refuses it too";
        EXPECT_TRUE(process.readAllStandardOutput().contains("package: name='org.vantle.fixture.densities'"));
    }
}

// Damaged and hostile archives: each is refused with the reason, never read wrongly or crashed on.
TEST(ApkArchive, RefusesDamagedAndHostileArchives) {
    const QByteArray table(4000, 't');
    const ZipLayout base =
        zipBytes({{u"AndroidManifest.xml"_s, QByteArray("manifest")}, {u"resources.arsc"_s, table, true}});
    const qsizetype manifestAt = base.local[0], tableAt = base.local[1], tableRecord = base.central[1],
                    end = base.end;
    const auto damaged = [&](const std::function<void(QByteArray&)>& damage) {
        QByteArray bytes = base.bytes;
        damage(bytes);
        return bytes;
    };
    // A field of the table entry changed alike in its local header and its directory record,
    // where each field sits 2 bytes later.
    const auto both = [&](qsizetype localField, quint32 value, bool u16 = false) {
        return damaged([=](QByteArray& b) {
            for (const qsizetype at : {tableAt + localField, tableRecord + localField + 2})
                u16 ? setU16(b, at, quint16(value)) : setU32(b, at, value);
        });
    };
    const struct {
        const char* what;
        QByteArray bytes;
        const char* error;
    } cases[] = {
        {"cut off", base.bytes.left(base.bytes.size() - 1), "no end of central directory record"},
        {"a byte after the end record", base.bytes + 'x', "1 bytes after the end record"},
        {"no entries", damaged([&](QByteArray& b) { setU16(b, end + 10, 0); }), "no entries"},
        {"a count past the directory", damaged([&](QByteArray& b) { setU16(b, end + 10, 60000); }),
         "ends after 2 of 60000 records"},
        {"a directory past the end record",
         damaged([&](QByteArray& b) { setU32(b, end + 12, quint32(end)); }), "runs past the end record"},
        {"ZIP64 end record", damaged([&](QByteArray& b) { setU32(b, end + 16, 0xFFFFFFFF); }),
         "ZIP64 archives"},
        {"ZIP64 entry", damaged([&](QByteArray& b) { setU32(b, tableRecord + 24, 0xFFFFFFFF); }),
         "ZIP64 entries"},
        {"a local header inside the directory",
         damaged([&](QByteArray& b) { setU32(b, tableRecord + 42, quint32(base.central[0])); }),
         "is not before the central directory"},
        {"overlapping entries",
         damaged([&](QByteArray& b) { setU32(b, tableRecord + 42, quint32(manifestAt + 4)); }),
         "entries overlap"},
        {"duplicate names", zipBytes({{u"resources.arsc"_s, "a"}, {u"resources.arsc"_s, "b"}}).bytes,
         "duplicate entry resources.arsc"},
        {"a name that is not UTF-8", damaged([&](QByteArray& b) { b[tableRecord + 46] = '\xFF'; }),
         "not UTF-8"},
        {"a NUL in a name", damaged([&](QByteArray& b) { b[tableRecord + 47] = '\0'; }), "holds NUL"},
        {"no local header at the start", damaged([&](QByteArray& b) { b[0] = 'X'; }), "does not start with"},
        {"a local header of another name", damaged([&](QByteArray& b) { b[tableAt + 30] = 'R'; }),
         "names another entry"},
        {"local and directory sizes differ", damaged([&](QByteArray& b) { setU32(b, tableAt + 22, 4001); }),
         "differ from the central directory"},
        {"data running into the directory", both(18, APKIconExtractor::u32(base.bytes, tableAt + 18) + 200),
         "runs into the central directory"},
        {"a wrong CRC", both(14, 1), "CRC does not match"},
        {"damaged deflate data",
         damaged([&](QByteArray& b) { b.replace(tableAt + 44, 8, QByteArray(8, '\xFF')); }), "damaged"},
        {"more data than declared", both(22, 3999), "does not match its declared size"},
        {"a compression method other than stored or deflated", both(8, 12, true), "compression method 12"},
        {"an encrypted entry", damaged([&](QByteArray& b) { setU16(b, tableRecord + 8, 1); }), "encrypted"},
        {"a size deflate cannot reach", both(22, 60'000'000), "exceeds what deflate can produce"},
    };
    {
        const std::unique_ptr<ApkArchive> intact = ApkArchive::fromBytes(base.bytes);
        EXPECT_EQ(intact->read(u"resources.arsc"_s), table) << intact->error().toStdString();
        EXPECT_FALSE(intact->read(u"classes.dex"_s).has_value());
        EXPECT_EQ(intact->error(), u"classes.dex: no such entry"_s);
        EXPECT_EQ(intact->read(u"AndroidManifest.xml"_s), QByteArray("manifest"));
        EXPECT_EQ(intact->error(), QString());
        // Sizes and CRC in a data descriptor (flag bit 3): the local header holds zeros instead.
        QByteArray described = base.bytes;
        setU16(described, tableAt + 6, 0x08);
        described.replace(tableAt + 14, 12, QByteArray(12, '\0'));
        EXPECT_EQ(ApkArchive::fromBytes(described)->read(u"resources.arsc"_s), table);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<ApkArchive> archive = ApkArchive::fromBytes(c.bytes);
        EXPECT_FALSE(archive->read(u"resources.arsc"_s).has_value());
        EXPECT_TRUE(archive->error().contains(QLatin1StringView(c.error))) << archive->error().toStdString();
    }
}

// The directory is parsed once when the archive opens: later lookups do not read it again, so a
// framework-sized APK costs one directory parse however many entries an icon needs.
TEST(ApkArchive, LooksEntriesUpInTheDirectoryReadAtOpening) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"copy.apk"_s);
    QByteArray bytes = readFile(fixture(u"densities"_s));
    ASSERT_TRUE(writeFile(apk, bytes));
    ApkArchive archive(apk);
    ASSERT_TRUE(archive.isOpen());
    // Wipe the directory on disk; the entries' own headers and data stay.
    const qsizetype end = bytes.lastIndexOf("PK\x05\x06");
    const qsizetype directory = APKIconExtractor::u32(bytes, end + 16);
    bytes.replace(directory, end - directory, QByteArray(end - directory, '\0'));
    ASSERT_TRUE(writeFile(apk, bytes));
    EXPECT_TRUE(archive.read(u"resources.arsc"_s).has_value()) << archive.error().toStdString();
    EXPECT_TRUE(archive.read(u"res/mipmap-xxxhdpi-v4/ic_launcher.png"_s).has_value());
    EXPECT_FALSE(ApkArchive(apk).isOpen()) << "a fresh open reads the wiped directory";
}
