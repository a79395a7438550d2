// What the library accepts as an APK, read with Vantle's own reader.
#include "apk/ApkFile.h"

#include "ApkBuilders.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using ApkBuilders::fixture;

TEST(ApkFile, OnlyAZipWithACompiledManifestIsAnAPK) {
    QTemporaryDir folder;
    const auto zip = [&](const QString& name, const QList<ApkBuilders::ZipSpec>& entries) {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(ApkBuilders::writeZip(path, entries));
        return path;
    };
    const QString text = folder.filePath(u"text.apk"_s);
    ASSERT_TRUE(writeFile(text, "PK\x03\x04 but not a zip"));
    const QByteArray compiled = ApkBuilders::XmlBuilder()
                                    .start(u"manifest"_s, {ApkBuilders::text(u"package"_s, u"org.a"_s)})
                                    .end()
                                    .build();
    const struct {
        QString path;
        bool isApk;
        std::optional<QString> label;
    } cases[] = {
        {fixture(u"tie"_s), true, u"Tie Breaker"_s},
        {fixture(u"fallback"_s), true, std::nullopt}, // no label: still an app
        {zip(u"bare.apk"_s, {{u"AndroidManifest.xml"_s, compiled}}), true, std::nullopt},
        {zip(u"source.apk"_s, {{u"AndroidManifest.xml"_s, "<manifest package=\"org.a\"/>"}}), false,
         std::nullopt},
        {zip(u"empty-manifest.apk"_s, {{u"AndroidManifest.xml"_s, {}}}), false, std::nullopt},
        {zip(u"other.zip"_s, {{u"classes.dex"_s, "dex\n035"}}), false, std::nullopt},
        {text, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const ApkReading reading = ApkFile::read(c.path);
        EXPECT_EQ(reading.isApk, c.isApk);
        EXPECT_EQ(ApkFile::isApk(c.path), c.isApk);
        EXPECT_EQ(reading.label, c.label);
    }
}
