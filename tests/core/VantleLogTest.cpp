#include "core/VantleLog.h"

#include "platform/Locations.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

TEST(VantleLog, EachNonEmptyLineGetsTheSameTimeStamp) {
    VantleLog log(u"lines.log"_s, VantleLog::Opening::truncate);
    log.write(u"a\n\nb"_s);
    log.write(QString());
    log.write(u"\n"_s);
    const QStringList lines = fileLines(log.path());
    ASSERT_EQ(lines.size(), 2);
    static const QRegularExpression stamped(
        u"^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z) (.*)$"_s);
    const auto first = stamped.match(lines[0]), second = stamped.match(lines[1]);
    ASSERT_TRUE(first.hasMatch() && second.hasMatch()) << lines.join(u'\n').toStdString();
    EXPECT_EQ(first.captured(2), u"a"_s);
    EXPECT_EQ(second.captured(2), u"b"_s);
    EXPECT_EQ(first.captured(1), second.captured(1));
    const QDateTime stamp = QDateTime::fromString(first.captured(1), Qt::ISODateWithMs);
    EXPECT_LT(std::abs(stamp.msecsTo(QDateTime::currentDateTimeUtc())), 60'000);
}

// The tail drops the time stamps and keeps the last lines, of this run and the ones before it.
TEST(VantleLog, TailKeepsTheLastLinesAcrossOpeningsUntilTruncated) {
    {
        VantleLog log(u"tail.log"_s, VantleLog::Opening::truncate);
        log.write(u"one\ntwo words"_s);
    }
    {
        VantleLog log(u"tail.log"_s, VantleLog::Opening::append);
        log.write(u"three"_s);
        EXPECT_EQ(log.tail(6), u"one\ntwo words\nthree"_s);
        EXPECT_EQ(log.tail(2), u"two words\nthree"_s);
        EXPECT_EQ(log.tail(0), QString());
    }
    VantleLog log(u"tail.log"_s, VantleLog::Opening::truncate);
    EXPECT_EQ(log.tail(10), QString());
}

TEST(VantleLog, ConcurrentWritersKeepLinesWholeAndInOrderPerThread) {
    VantleLog log(u"threads.log"_s, VantleLog::Opening::truncate);
    constexpr int threads = 8, perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < perThread; ++i)
                log.write(u"writer %1 line %2 %3"_s.arg(t).arg(i).arg(QString(40, u'x')));
        });
    for (auto& writer : writers)
        writer.join();

    const QStringList lines = log.tail(threads * perThread + 10)->split(u'\n');
    ASSERT_EQ(lines.size(), threads * perThread);
    std::vector<int> next(threads, 0);
    static const QRegularExpression whole(u"^writer (\\d) line (\\d+) x{40}$"_s);
    for (const QString& line : lines) {
        const auto match = whole.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[t]++);
    }
}

TEST(VantleLog, AnUnopenableFileIsSilent) {
    QDir().mkpath(Locations::logs() + u"/a-folder.log"_s); // a folder where the file should be
    VantleLog log(u"a-folder.log"_s, VantleLog::Opening::append);
    log.write(u"dropped"_s);
    EXPECT_FALSE(log.tail(5).has_value());
}

} // namespace
