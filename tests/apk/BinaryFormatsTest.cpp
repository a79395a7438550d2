// The binary formats inside an APK on hand-built bytes: string pools, the element walk, the
// manifest's package name, resource lookups, and the path grammar of vector drawables.
#include "ApkBuilders.h"
#include "apk/APKManifestReader.h"
#include "apk/BinaryXml.h"
#include "apk/PathData.h"
#include "apk/ResourceTable.h"

#include <QPainterPath>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

TEST(BinaryXml, PoolsDecodeUtf8AndUtf16AndReadsPastTheEndGiveZeros) {
    const QByteArray bytes("\x01\x02\x03", 3);
    EXPECT_EQ(u32(bytes, 0), 0x030201u);
    EXPECT_EQ(u16(bytes, 2), 0x03u);
    EXPECT_EQ(u32(bytes, 3), 0u);
    EXPECT_EQ(u32(bytes, -2), 0x0201u << 16);
    const QStringList strings{u"icon"_s, u"Ünïcødé 日本"_s, QString(), QString(200, u'x')};
    for (const bool utf8 : {true, false}) {
        const QByteArray pool = ApkBuilders::stringPool(strings, utf8);
        EXPECT_EQ(APKIconExtractor::stringPool(pool, 0), strings) << "utf8=" << utf8;
        EXPECT_EQ(string(pool, 0, 1), strings[1]);
        EXPECT_EQ(string(pool, 0, 4), QString());
        EXPECT_EQ(string(pool, 0, -1), QString());
    }
}

TEST(BinaryXml, BrokenStringsDegradeAndPoolsStayWithinTheirCaps) {
    const struct {
        bool utf8;
        qsizetype at; // from the first string's start
        const char* hex;
        QString string;
    } broken[] = {
        {true, 1, "64", QString()},                       // byte length runs past the end
        {true, 2, "ff", u"\uFFFDb"_s},                    // not UTF-8
        {false, 2, "00d8", u"\uFFFDb"_s},                 // an unpaired high surrogate
        {false, 0, "ffff", QString(maxUtf16Units, u'?')}, // 0x7FFF'FFFF units claimed: cut to the cap
    };
    for (const auto& c : broken) {
        QByteArray pool = ApkBuilders::stringPool({u"ab"_s}, c.utf8);
        const QByteArray bytes = QByteArray::fromHex(c.hex);
        pool.replace(28 + 4 + c.at, bytes.size(), bytes);
        EXPECT_EQ(string(pool, 0, 0).size(), c.string.size()) << c.hex;
        if (c.at > 0) {
            EXPECT_EQ(string(pool, 0, 0), c.string) << c.hex;
        }
    }
    QByteArray pool = ApkBuilders::stringPool({u"a"_s}, true);
    setU32(pool, 8, 300'000);
    EXPECT_EQ(APKIconExtractor::stringPool(pool, 0).size(), qsizetype(maxPoolStrings));
    // 200,000 offsets all pointing at one 30,000-byte string would decode 6 billion characters.
    pool = ApkBuilders::stringPool({QString(30'000, u'z')}, true);
    pool.insert(28 + 4, QByteArray(4 * 199'999, '\0'));
    setU32(pool, 8, 200'000);
    setU32(pool, 20, 28 + 4 * 200'000);
    const QStringList many = APKIconExtractor::stringPool(pool, 0);
    qint64 total = 0;
    for (const QString& s : many)
        total += s.size();
    EXPECT_EQ(many.first().size(), 30'000);
    EXPECT_LE(total, maxDecodedUnits);
}

// Attributes by plain name, the later of two winning; lying indexes and counts are skipped or cut.
TEST(BinaryXml, ElementWalkSurvivesLyingIndexesCountsAndCuts) {
    const QByteArray document =
        compiled(u"<application icon='@7F020001' icon.2='@7F020002' label='@7F050000'>"
                 "<activity/></application>"_s);
    const QList<Element> found = elements(document);
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].name, u"application"_s);
    EXPECT_EQ(found[0].attrs.value(u"icon"_s).data, 0x7F020002u);
    EXPECT_FALSE(found[0].attrs.value(u"label"_s).string.has_value());
    EXPECT_EQ(found[0].attrs.value(u"label"_s).type, referenceType);
    EXPECT_EQ(found[1].name, u"activity"_s);
    EXPECT_EQ(elements(document.left(document.size() - 24 - 24 - 10)).value(0).name, u"application"_s);
    QByteArray zeroSized = document;
    setU32(zeroSized, 12, 0); // the pool's size: the walk ends at once
    EXPECT_TRUE(elements(zeroSized).isEmpty());

    QByteArray path = compiled(u"<path pathData='M0,0'/>"_s).chopped(24); // no end element: the data ends
    setU32(path, 4, quint32(path.size()));
    const qsizetype element = path.indexOf(QByteArray("\x02\x01\x10\x00", 4));
    ASSERT_GT(element, 0);
    QByteArray badName = path;
    setU32(badName, element + 36 + 4, 999); // the attribute's name index
    EXPECT_TRUE(elements(badName).value(0).attrs.isEmpty());
    setU32(badName, element + 20, 999); // the element's name index
    EXPECT_EQ(elements(badName).value(0).name, QString());
    // 65,535 attributes claimed, one present: neither the end of the data nor the end element that
    // follows is read as more. Records of size 0: the one record, once.
    const QByteArray ended = compiled(u"<path pathData='M0,0'/>"_s);
    for (QByteArray claimed : {path, ended}) {
        setU16(claimed, element + 28, 0xFFFF);
        for (const quint16 recordSize : {20, 0}) {
            setU16(claimed, element + 26, recordSize);
            BinaryXmlReader reader(claimed);
            ASSERT_EQ(reader.next(), BinaryXmlReader::Token::startElement);
            ASSERT_EQ(reader.attributes().size(), 1);
            EXPECT_EQ(reader.attributes().first().second.string, u"M0,0"_s);
        }
    }
}

// The first "package" with a string value, from either pool encoding; nothing from other files.
TEST(ManifestReader, PackageNameOfCompiledManifestsOnly) {
    const auto manifest = [](bool utf8, const QString& package) {
        return compiled(u"<manifest versionName='1.0' package='"_s + package +
                            u"'><application icon='@7F020000'/></manifest>"_s,
                        utf8);
    };
    QByteArray wrongRoot = manifest(true, u"org.example"_s), headerTooLong = wrongRoot;
    wrongRoot[0] = 0x02;
    setU16(headerTooLong, 2, 0x7FFF);
    const struct {
        const char* what;
        QByteArray bytes;
        std::optional<QString> package;
    } cases[] = {
        {"UTF-8", manifest(true, u"org.example.notes"_s), u"org.example.notes"_s},
        {"UTF-16", manifest(false, u"org.example.notes"_s), u"org.example.notes"_s},
        {"first with a value", compiled(u"<manifest package='t:10:5' package.2='a.b' package.3='c.d'/>"_s),
         u"a.b"_s},
        {"empty", QByteArray(), std::nullopt},
        {"header only", QByteArray("\x03\x00\x08\x00", 4), std::nullopt},
        {"source XML", "<?xml version=\"1.0\"?><manifest package=\"org.example.plain\"></manifest>",
         std::nullopt},
        {"no package", compiled(u"<manifest versionName='2'/>"_s), std::nullopt},
        {"wrong root chunk", wrongRoot, std::nullopt},
        {"header too long", headerTooLong, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(APKManifestReader::parse(c.bytes), c.package) << c.what;
}

namespace {

const QStringList pool{u"res/mipmap-mdpi/ic_launcher.png"_s, u"res/mipmap-xxxhdpi/ic_launcher.png"_s,
                       u"Notes"_s};

EntrySpec file(quint32 index) {
    return {stringType, index};
}

} // namespace

// One value per configuration in table order, in every offset and entry form; a cut keeps what came before.
TEST(ResourceTable, FindsOneValuePerConfigurationInTableOrder) {
    const EntrySpec compact{colorARGB8Type, 0xFF336699, true, false},
        plain{colorARGB8Type, 0xFF336699, false, false}, complex{stringType, 0, false, true};
    for (const Offsets offsets : {Offsets::bits32, Offsets::bits16, Offsets::sparse}) {
        SCOPED_TRACE(int(offsets));
        const QByteArray arsc = table(pool, 0x7F,
                                      {{2, 160, offsets, {std::nullopt, file(0)}},
                                       {3, 0, offsets, {file(2)}}, // another type
                                       {2, 640, offsets, {std::nullopt, file(1)}},
                                       {6, 0, offsets, {compact}},
                                       {6, 480, offsets, {plain}},
                                       {7, 0, offsets, {complex}},
                                       {7, 0, offsets, {file(2)}}});
        const QList<Entry> found = entries(arsc, 0x7F020001);
        ASSERT_EQ(found.size(), 2);
        EXPECT_EQ(found[0].density, 160);
        EXPECT_EQ(found[0].file, pool[0]);
        EXPECT_EQ(found[1].density, 640);
        EXPECT_EQ(found[1].file, pool[1]);
        EXPECT_EQ(entries(arsc, 0x7F030000).value(0).file, u"Notes"_s);
        EXPECT_TRUE(entries(arsc, 0x7F020000).isEmpty()) << "no entry at index 0";
        EXPECT_TRUE(entries(arsc, 0x7F020002).isEmpty()) << "beyond the entry count";
        EXPECT_TRUE(entries(arsc, 0x01020001).isEmpty()) << "another package";
        const QList<Entry> colours = entries(arsc, 0x7F060000);
        ASSERT_EQ(colours.size(), 2);
        for (const Entry& entry : colours) {
            EXPECT_EQ(entry.type, colorARGB8Type);
            EXPECT_EQ(entry.data, 0xFF336699u);
            EXPECT_FALSE(entry.file.has_value());
        }
        const QList<Entry> strings = entries(arsc, 0x7F070000);
        ASSERT_EQ(strings.size(), 1) << "complex entries are ignored";
        EXPECT_EQ(strings[0].file, u"Notes"_s);
    }
    const QByteArray arsc =
        table(pool, 0x7F, {{2, 160, Offsets::bits32, {file(0)}}, {2, 640, Offsets::bits32, {file(1)}}});
    ASSERT_EQ(entries(arsc, 0x7F020000).size(), 2);
    const QList<Entry> cut = entries(arsc.chopped(30), 0x7F020000);
    ASSERT_GE(cut.size(), 1);
    EXPECT_EQ(cut[0].file, pool[0]);
    EXPECT_EQ(systemColor(0x0106000B), 0xFFFFFFFFu);
    EXPECT_EQ(systemColor(0x0106000C), 0xFF000000u);
    EXPECT_EQ(systemColor(0x0106000D), 0x00000000u);
    EXPECT_FALSE(systemColor(0x0106000E).has_value());
}

TEST(ResourceTable, AbsurdCountsAndSizesStayBounded) {
    QByteArray arsc = table(pool, 0x7F, {{2, 0, Offsets::sparse, {file(0)}}});
    const qsizetype type = arsc.indexOf(QByteArray("\x01\x02\x54\x00", 4));
    ASSERT_GT(type, 0);
    setU32(arsc, type + 12, 0xFFFFFFFF); // four billion sparse pairs claimed
    EXPECT_EQ(entries(arsc, 0x7F020000).size(), 1);
    EXPECT_TRUE(entries(arsc, 0x7F02FFFF).isEmpty());
    setU32(arsc, 12 + 4, 0); // the global pool's size is 0: the walk stops before the package
    EXPECT_TRUE(entries(arsc, 0x7F020000).isEmpty());

    // The same type chunk repeated 20,000 times answers with at most the lookup cap.
    QByteArray repeated = table(pool, 0x7F, {{2, 0, Offsets::bits32, {file(0)}}});
    const QByteArray chunk = repeated.mid(type);
    for (int i = 0; i < 20'000; ++i)
        repeated += chunk;
    setU32(repeated, 4, quint32(repeated.size()));
    const qsizetype package = repeated.indexOf(QByteArray("\x00\x02\x20\x01", 4));
    setU32(repeated, package + 4, quint32(repeated.size() - package));
    EXPECT_EQ(entries(repeated, 0x7F020000).size(), maxEntriesPerLookup);
}

namespace {

// A path's elements as text: M, L, C and its two data points c, in Qt's order.
QString shape(const QString& data) {
    const std::optional<QPainterPath> path = PathData::parse(data);
    if (!path) return u"-"_s;
    QStringList out;
    for (int i = 0; i < path->elementCount(); ++i) {
        const QPainterPath::Element e = path->elementAt(i);
        out.append(QString(u"MLCc"_s[int(e.type)]) + QString::number(e.x) + u',' + QString::number(e.y));
    }
    return out.join(u' ');
}

} // namespace

TEST(PathData, GrammarSeparatorsImplicitCommandsReflectionsAndRefusals) {
    const std::pair<const char*, const char*> cases[] = {
        {"M10,10L20,20", "M10,10 L20,20"},
        {"M10 10 20 20", "M10,10 L20,20"},
        {"M10\t10\n20,20", "M10,10 L20,20"},
        {"m10 10 5 0", "M10,10 L15,10"},
        {"5 5 10 5", "M5,5 L10,5"}, // numbers before any letter move first
        {"M-5-5", "M-5,-5"},
        {"M1e-3,2E1", "M0.001,20"},
        {"M0.5.5", "M0.5,0.5"},
        {"M10,10 H30 V40 h-5 v-5 Z l5,5", "M10,10 L30,10 L30,40 L25,40 L25,35 L10,10 M10,10 L15,15"},
        {"L7,8", "M7,8"},                                            // L on an empty path moves
        {"M1,1 K 2,2", "M1,1 L2,2"},                                 // K is no command and is skipped
        {"M0,0 L10,0 S20,10 30,0", "M0,0 L10,0 C10,0 c20,10 c30,0"}, // first control = current point
        {"M0,0 C0,10 10,10 10,0 S20,-10 20,0", "M0,0 C0,10 c10,10 c10,0 C10,-10 c20,-10 c20,0"},
        {"M10,10 c0,10 10,10 10,0", "M10,10 C10,20 c20,20 c20,10"},
        {"M0,0 A0,0 0 0,0 20,5", "M0,0 L20,5"},
        // An arc to its own start point adds nothing; the path goes on from that point.
        {"M5,5 A3,3 0 0,0 5,5", "M5,5"},
        {"M5,5 a3,3 0 1,1 0,0 L10,5", "M5,5 L10,5"},
        {"M1#2,3", "-"},   // not a number
        {"M1e999,0", "-"}, // not finite
        {"", "-"},
        {"M10", "-"}, // an incomplete pair draws nothing
    };
    for (const auto& [data, expected] : cases)
        EXPECT_EQ(shape(QString::fromLatin1(data)), QString::fromLatin1(expected)) << data;
    // Qt stores quadratics as cubics: the second curve's first control is 2/3 of the way to its
    // quadratic control (15,-10) from (10,0).
    const QPainterPath quads = PathData::parse(u"M0,0 Q5,10 10,0 T20,0"_s).value_or(QPainterPath());
    EXPECT_NEAR(quads.elementAt(4).x, 10 + 2.0 / 3 * 5, 1e-9);
    EXPECT_NEAR(quads.elementAt(4).y, 2.0 / 3 * -10, 1e-9);
}

TEST(PathData, ArcsBecomeQuarterCubics) {
    const struct {
        const char* data;
        int elements;
        QPointF end, middle;
    } arcs[] = {
        // A half circle of radius 10 from (0,0) to (20,0), sweeping through y = 10 (y grows down).
        {"M0,0 A10,10 0 0,0 20,0", 1 + 2 * 3, {20, 0}, {10, 10}},
        {"M0,0 A10,10 0 0,1 20,0", 1 + 2 * 3, {20, 0}, {10, -10}},
        {"M0,0 a1,1 0 0,0 20,0", 1 + 2 * 3, {20, 0}, {10, 10}}, // radii scaled up until the arc fits
        {"M0,10 A10,10 0 1,1 10,0", 1 + 3 * 3, {10, 0}, {}},    // large: three quarters
    };
    for (const auto& c : arcs) {
        const QPainterPath path = PathData::parse(QString::fromLatin1(c.data)).value_or(QPainterPath());
        EXPECT_EQ(path.elementCount(), c.elements) << c.data;
        EXPECT_EQ(path.currentPosition(), c.end) << c.data;
        if (c.middle.isNull()) continue;
        EXPECT_NEAR(path.pointAtPercent(0.5).x(), c.middle.x(), 0.05) << c.data;
        EXPECT_NEAR(path.pointAtPercent(0.5).y(), c.middle.y(), 0.05) << c.data;
    }
}
