// Reading entries out of APK files: fixtures built by aapt, and hand-made damaged archives.
#include "apk/ApkArchive.h"

#include "ApkBuilders.h"
#include "apk/APKManifestReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

TEST(ApkArchive, ReadsEntriesOfAnAaptBuiltApk) {
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
}

TEST(ApkArchive, PackageNamesOfTheFixtures) {
    EXPECT_EQ(APKManifestReader::packageName(fixture(u"densities"_s)), u"org.vantle.fixture.densities"_s);
    EXPECT_EQ(APKManifestReader::packageName(fixture(u"adaptive_vector"_s)),
              u"org.vantle.fixture.adaptive.vector"_s);
    EXPECT_FALSE(APKManifestReader::packageName(u"/nonexistent/app.apk"_s).has_value());
}

TEST(ApkArchive, MissingEmptyAndDamagedGiveNothing) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"plain.apk"_s);
    ASSERT_TRUE(
        writeZip(apk, {{u"AndroidManifest.xml"_s, QByteArray("\x03\x00\x08\x00", 4)}, {u"empty"_s, {}}}));
    EXPECT_TRUE(read(apk, u"AndroidManifest.xml"_s).has_value());
    EXPECT_FALSE(read(apk, u"resources.arsc"_s).has_value());
    EXPECT_FALSE(read(apk, u"empty"_s).has_value());

    QFile file(apk);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    file.close();
    const QString cut = folder.filePath(u"cut.apk"_s);
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(whole.left(whole.size() / 2)); // no central directory any more
    out.close();
    EXPECT_FALSE(read(cut, u"AndroidManifest.xml"_s).has_value());
    EXPECT_FALSE(entryNames(cut).has_value());
    EXPECT_FALSE(read(folder.path(), u"AndroidManifest.xml"_s).has_value()) << "a folder";
}

TEST(ApkArchive, EntriesBeyondTheCapAreMissing) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"bomb.apk"_s);
    // Deflate shrinks 65 MiB of zeros to about 64 KiB: a small file that would fill memory.
    ASSERT_TRUE(writeZip(apk, {{u"resources.arsc"_s, QByteArray(maxEntryBytes + 1024 * 1024, '\0')},
                               {u"AndroidManifest.xml"_s, QByteArray("manifest")}}));
    EXPECT_FALSE(read(apk, u"resources.arsc"_s).has_value());
    EXPECT_EQ(read(apk, u"AndroidManifest.xml"_s), QByteArray("manifest"));
    const QHash<QString, QByteArray> both = readMany(apk, {u"resources.arsc"_s, u"AndroidManifest.xml"_s});
    EXPECT_EQ(both.size(), 1);
    EXPECT_TRUE(both.contains(u"AndroidManifest.xml"_s));
}
