// Resource lookups over hand-built tables: every offset form, compact and complex entries, and
// tables that lie about their counts.
#include "apk/ResourceTable.h"

#include "ApkBuilders.h"
#include "apk/BinaryXml.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

namespace {

const QStringList pool{u"res/mipmap-mdpi/ic_launcher.png"_s, u"res/mipmap-xxxhdpi/ic_launcher.png"_s,
                       u"Notes"_s};

EntrySpec file(quint32 index) {
    return {stringType, index};
}

} // namespace

TEST(ResourceTable, FindsOneValuePerConfigurationInTableOrder) {
    for (const Offsets offsets : {Offsets::bits32, Offsets::bits16, Offsets::sparse}) {
        const QByteArray arsc = table(pool, 0x7F,
                                      {{2, 160, offsets, {std::nullopt, file(0)}},
                                       {3, 0, offsets, {file(2)}}, // another type
                                       {2, 640, offsets, {std::nullopt, file(1)}}});
        const QList<Entry> found = entries(arsc, 0x7F020001);
        ASSERT_EQ(found.size(), 2) << int(offsets);
        EXPECT_EQ(found[0].density, 160);
        EXPECT_EQ(found[0].file, pool[0]);
        EXPECT_EQ(found[1].density, 640);
        EXPECT_EQ(found[1].file, pool[1]);
        EXPECT_EQ(entries(arsc, 0x7F030000).value(0).file, u"Notes"_s);
        EXPECT_TRUE(entries(arsc, 0x7F020000).isEmpty()) << "no entry at index 0";
        EXPECT_TRUE(entries(arsc, 0x7F020002).isEmpty()) << "beyond the entry count";
        EXPECT_TRUE(entries(arsc, 0x01020001).isEmpty()) << "another package";
    }
}

TEST(ResourceTable, CompactAndPlainEntriesGiveTheSameValueComplexOnesNone) {
    const QByteArray arsc =
        table(pool, 0x7F,
              {{6, 0, Offsets::bits32, {EntrySpec{colorARGB8Type, 0xFF336699, true, false}}},
               {6, 480, Offsets::bits32, {EntrySpec{colorARGB8Type, 0xFF336699, false, false}}}});
    const QList<Entry> found = entries(arsc, 0x7F060000);
    ASSERT_EQ(found.size(), 2);
    for (const Entry& entry : found) {
        EXPECT_EQ(entry.type, colorARGB8Type);
        EXPECT_EQ(entry.data, 0xFF336699u);
        EXPECT_FALSE(entry.file.has_value());
    }
    const QByteArray complex = table(pool, 0x7F,
                                     {{7, 0, Offsets::bits32, {EntrySpec{stringType, 0, false, true}}},
                                      {7, 0, Offsets::bits32, {file(2)}}});
    const QList<Entry> plain = entries(complex, 0x7F070000);
    ASSERT_EQ(plain.size(), 1) << "complex entries are ignored";
    EXPECT_EQ(plain[0].file, u"Notes"_s);
}

TEST(ResourceTable, AbsurdCountsAndSizesStayBounded) {
    QByteArray arsc = table(pool, 0x7F, {{2, 0, Offsets::sparse, {file(0)}}});
    const qsizetype type = arsc.indexOf(QByteArray("\x01\x02\x54\x00", 4));
    ASSERT_GT(type, 0);
    setU32(arsc, type + 12, 0xFFFFFFFF); // four billion sparse pairs claimed
    EXPECT_EQ(entries(arsc, 0x7F020000).size(), 1);
    EXPECT_TRUE(entries(arsc, 0x7F02FFFF).isEmpty());

    QByteArray zero = arsc;
    setU32(zero, 12 + 4, 0); // the global pool's size is 0: the walk stops before the package
    EXPECT_TRUE(entries(zero, 0x7F020000).isEmpty());

    // The same type chunk repeated 20,000 times answers with at most the lookup cap.
    QByteArray repeated = table(pool, 0x7F, {{2, 0, Offsets::bits32, {file(0)}}});
    const qsizetype chunkAt = repeated.indexOf(QByteArray("\x01\x02\x54\x00", 4));
    const QByteArray chunk = repeated.mid(chunkAt);
    for (int i = 0; i < 20'000; ++i)
        repeated += chunk;
    setU32(repeated, 4, quint32(repeated.size()));
    const qsizetype package = repeated.indexOf(QByteArray("\x00\x02\x20\x01", 4));
    setU32(repeated, package + 4, quint32(repeated.size() - package));
    EXPECT_EQ(entries(repeated, 0x7F020000).size(), maxEntriesPerLookup);
}

TEST(ResourceTable, TruncatedTableKeepsWhatCameBefore) {
    const QByteArray arsc =
        table(pool, 0x7F, {{2, 160, Offsets::bits32, {file(0)}}, {2, 640, Offsets::bits32, {file(1)}}});
    const QList<Entry> whole = entries(arsc, 0x7F020000);
    ASSERT_EQ(whole.size(), 2);
    const QList<Entry> cut = entries(arsc.left(arsc.size() - 30), 0x7F020000);
    ASSERT_GE(cut.size(), 1);
    EXPECT_EQ(cut[0].file, pool[0]);
}

TEST(ResourceTable, SystemColors) {
    EXPECT_EQ(systemColor(0x0106000B), 0xFFFFFFFFu);
    EXPECT_EQ(systemColor(0x0106000C), 0xFF000000u);
    EXPECT_EQ(systemColor(0x0106000D), 0x00000000u);
    EXPECT_FALSE(systemColor(0x0106000E).has_value());
}
