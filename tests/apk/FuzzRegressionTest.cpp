// Every input kept in fuzz/regressions/<target>/ (crashes, hangs and blow-ups the fuzzers found)
// and every seed in fuzz/seeds/<target>/ goes through the same function as the fuzz target, in
// the normal build. A fault shows as a crash or a time-out of this test.
#include "fuzz/FuzzEntries.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Entry = void (*)(const uint8_t*, size_t);

int replay(const QString& target, Entry entry) {
    int count = 0;
    for (const QString& kind : {u"regressions"_s, u"seeds"_s}) {
        const QDir folder(QStringLiteral(VANTLE_FUZZ_DIR) + u'/' + kind + u'/' + target);
        for (const QFileInfo& file : folder.entryInfoList(QDir::Files)) {
            QFile input(file.filePath());
            if (!input.open(QIODevice::ReadOnly)) continue;
            const QByteArray bytes = input.readAll();
            SCOPED_TRACE(file.filePath().toStdString());
            entry(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            ++count;
        }
    }
    return count;
}

} // namespace

// A target without any input would replay nothing and pass: each must have at least one.
TEST(FuzzRegressions, EveryKeptInputOfEveryTarget) {
    const std::pair<QString, Entry> targets[] = {
        {u"binaryXml"_s, &FuzzEntries::binaryXml},         {u"manifest"_s, &FuzzEntries::manifest},
        {u"resourceTable"_s, &FuzzEntries::resourceTable}, {u"vector"_s, &FuzzEntries::vector},
        {u"pathData"_s, &FuzzEntries::pathData},           {u"zipContainer"_s, &FuzzEntries::zipContainer},
    };
    for (const auto& [target, entry] : targets)
        EXPECT_GT(replay(target, entry), 0) << target.toStdString();
}
