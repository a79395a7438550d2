// The bug report's draft and the tail of the log it leaves for the mail program.
#include "datacare/BugReport.h"

#include "datacare/AppVersion.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(BugReportTest, TheRecentLogIsTheLast400LinesOrAllOfAShortOne) {
    QTemporaryDir folder;
    struct Case {
        QByteArray log;
        QByteArray attached;
    };
    QByteArray long450, last400;
    for (int line = 0; line < 450; ++line) {
        const QByteArray text = line % 50 == 0 ? QByteArray() : "line " + QByteArray::number(line);
        long450 += text + '\n';
        if (line >= 50) last400 += text + (line < 449 ? "\n" : "");
    }
    const QList<Case> cases = {
        {"a\n\nb\n", "a\n\nb"}, // short: all of it, the empty line kept
        {"no line feed", "no line feed"},
        {long450, last400}, // long: the last 400, starting with an empty line
    };
    for (const Case& c : cases) {
        const QString path = folder.filePath(u"vantle.log"_s);
        ASSERT_TRUE(writeFile(path, c.log));
        const std::optional<QString> attached = BugReport::recentLog(path);
        ASSERT_TRUE(attached);
        EXPECT_TRUE(attached->endsWith(u"/Vantle-log.txt"_s));
        EXPECT_EQ(readFile(*attached), c.attached);
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
    EXPECT_EQ(opened.scheme(), u"mailto"_s);
    EXPECT_EQ(opened.path(), u"support@vantle.app"_s);
    const QUrlQuery query(opened);
    EXPECT_EQ(query.queryItemValue(u"subject"_s, QUrl::FullyDecoded),
              u"Vantle "_s + AppVersion::shortVersion() + u" bug report"_s);
    const QString body = query.queryItemValue(u"body"_s, QUrl::FullyDecoded);
    EXPECT_EQ(body, BugReport::body());
    EXPECT_TRUE(body.startsWith(
        u"What happened?\n\n\nWhat did you expect to happen?\n\n\nSteps to reproduce:\n1.\n\n---\nVantle "_s +
        AppVersion::shortVersion() + u" ("_s + AppVersion::buildNumber() + u")\n"_s));
    EXPECT_TRUE(body.contains(u"\nComputer: "_s));
    EXPECT_TRUE(body.endsWith(u"\nAndroid: Android 15"_s));
    // Spaces and line feeds percent-encoded: a mail program reads "+" as itself.
    EXPECT_FALSE(opened.toEncoded().contains('+'));
    EXPECT_TRUE(log.lines().last().startsWith(u"bug report: mail opened"_s));
}
