// `vantlectl apk-info` as users run it: several APKs in one call, text and JSON, icons written.
#include "ApkBuilders.h"

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using ApkBuilders::fixture;

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

TEST(ApkInfoCommand, JsonTextAndIconFiles) {
    const CtlRun run =
        apkInfo({u"--json"_s, fixture(u"densities"_s), fixture(u"fallback"_s), u"/nonexistent.apk"_s});
    EXPECT_EQ(run.status, 1) << "a missing file fails the call, after the others were reported";
    ASSERT_EQ(run.lines.size(), 3);
    const QJsonObject densities = QJsonDocument::fromJson(run.lines[0].toUtf8()).object();
    EXPECT_EQ(densities[u"package"_s].toString(), u"org.vantle.fixture.densities"_s);
    EXPECT_EQ(densities[u"label"_s].toString(), u"Densities"_s);
    EXPECT_EQ(densities[u"icon"_s].toString(),
              u"icon 0x7F020000 res/mipmap-xxxhdpi-v4/ic_launcher.png (640 dpi)"_s);
    const QJsonObject fallback = QJsonDocument::fromJson(run.lines[1].toUtf8()).object();
    EXPECT_TRUE(fallback[u"label"_s].isNull());
    EXPECT_EQ(fallback[u"icon"_s].toString(), u"file name res/mipmap-xxxhdpi-v4/ic_launcher.png"_s);
    const QJsonObject missing = QJsonDocument::fromJson(run.lines[2].toUtf8()).object();
    EXPECT_TRUE(missing[u"package"_s].isNull());
    EXPECT_TRUE(missing[u"icon"_s].isNull());

    // Text lines and icon files.
    QTemporaryDir folder;
    const QString png = folder.filePath(u"icon.png"_s);
    const CtlRun one = apkInfo({fixture(u"tie"_s), u"--icon"_s, png});
    EXPECT_EQ(one.status, 0);
    ASSERT_EQ(one.lines.size(), 1);
    EXPECT_TRUE(
        one.lines[0].contains(u"package=org.vantle.fixture.tie label=\"Tie Breaker\" icon=icon 0x7F020000"_s))
        << qPrintable(one.lines[0]);
    EXPECT_EQ(QImage(png).pixel(5, 5), qRgb(0x80, 0x80, 0));

    const QString icons = folder.filePath(u"icons"_s);
    const CtlRun several = apkInfo({fixture(u"tie"_s), fixture(u"vector"_s), u"--icon"_s, icons});
    EXPECT_EQ(several.status, 0);
    EXPECT_EQ(QImage(icons + u"/vector.png"_s).size(), QSize(192, 192));
    EXPECT_TRUE(QFile::exists(icons + u"/tie.png"_s));
    EXPECT_EQ(apkInfo({}).status, 2) << "no APK is a usage error";
}

// Each file that is no readable APK fails the call with its own reason; the APKs beside it are
// still reported.
TEST(ApkInfoCommand, FilesThatAreNoAPKFailWithTheirOwnReason) {
    QTemporaryDir folder;
    const QString text = folder.filePath(u"notes.apk"_s), zip = folder.filePath(u"plain.zip"_s);
    ASSERT_TRUE(writeFile(text, "just text\n"));
    ASSERT_TRUE(ApkBuilders::writeZip(zip, {{u"res/raw/a.txt"_s, "a"}}));
    const struct {
        QString path;
        QString reason;
    } cases[] = {
        {u"/dev/zero"_s, u"not a regular file"_s},
        {folder.path(), u"is a folder"_s},
        {folder.filePath(u"missing.apk"_s), u"no such file"_s},
        {text, u"not an Android app (APK) file"_s},
        {zip, u"not an Android app (APK) file"_s},
    };
    for (const auto& c : cases) {
        const CtlRun run = apkInfo({fixture(u"tie"_s), c.path});
        EXPECT_EQ(run.status, 1) << qPrintable(c.path);
        EXPECT_EQ(run.errors, u"vantlectl: "_s + c.path + u": "_s + c.reason + u'\n');
        ASSERT_EQ(run.lines.size(), 2) << qPrintable(c.path);
        EXPECT_TRUE(run.lines[0].contains(u"label=\"Tie Breaker\""_s));
        EXPECT_EQ(run.lines[1], c.path + u": package=- label=- icon=none"_s);
    }
    // An APK without a label is an APK all the same.
    EXPECT_EQ(apkInfo({fixture(u"fallback"_s)}).status, 0);
}
