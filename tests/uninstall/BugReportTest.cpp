// The bug report's draft and the tail of the log it leaves for the mail program.
#include "datacare/BugReport.h"

#include "datacare/AppVersion.h"
#include "support/TestSupport.h"

#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(BugReportTest, TheRecentLogIsTheLast400LinesOrAllOfAShortOne) {
    QTemporaryDir folder;
    QByteArray long450, last400;
    for (int line = 0; line < 450; ++line) {
        const QByteArray text = line % 50 == 0 ? QByteArray() : "line " + QByteArray::number(line);
        long450 += text + '\n';
        if (line >= 50) last400 += text + (line < 449 ? "\n" : "");
    }
    // The log, then what is attached: a short one whole with its empty line, a long one's last 400
    // lines starting with an empty one.
    const QList<std::pair<QByteArray, QByteArray>> cases = {
        {"a\n\nb\n", "a\n\nb"}, {"no line feed", "no line feed"}, {long450, last400}};
    for (const auto& [log, attached] : cases) {
        ASSERT_TRUE(writeFile(folder.filePath(u"vantle.log"_s), log));
        const std::optional<QString> written = BugReport::recentLog(folder.filePath(u"vantle.log"_s));
        ASSERT_TRUE(written && written->endsWith(u"/Vantle-log.txt"_s));
        EXPECT_EQ(readFile(*written), attached);
    }
    EXPECT_EQ(BugReport::recentLog(folder.filePath(u"missing.log"_s)), std::nullopt);
}

TEST(BugReportTest, TheDraftGoesToSupportWithVersionSystemAndAndroid) {
    ScopedSettings settings;
    MainLogSince log;
    QUrl opened;
    BugReport::compose([&](const QUrl& url) {
        opened = url;
        return true;
    });
    EXPECT_EQ(opened.scheme() + u':' + opened.path(), u"mailto:support@vantle.app"_s);
    const QUrlQuery query(opened);
    EXPECT_EQ(query.queryItemValue(u"subject"_s, QUrl::FullyDecoded),
              u"Vantle "_s + AppVersion::shortVersion() + u" bug report"_s);
    const QString body = query.queryItemValue(u"body"_s, QUrl::FullyDecoded);
    EXPECT_EQ(body, BugReport::body()); // the whole text survives the encoding
    EXPECT_TRUE(body.startsWith(
        u"What happened?\n\n\nWhat did you expect to happen?\n\n\nSteps to reproduce:\n1.\n\n---\nVantle "_s +
        AppVersion::shortVersion() + u" ("_s + AppVersion::buildNumber() + u")\n"_s));
    EXPECT_TRUE(body.contains(u"\nComputer: "_s) && body.endsWith(u"\nAndroid: Android 15"_s))
        << qPrintable(body);
    // Spaces and line feeds percent-encoded: a mail program reads "+" as itself.
    EXPECT_FALSE(opened.toEncoded().contains('+'));
    EXPECT_TRUE(log.lines().last().startsWith(u"bug report: mail opened"_s));
}
