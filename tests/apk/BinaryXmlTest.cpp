// String pools, the element walk and the manifest's package name, on hand-built documents.
#include "apk/BinaryXml.h"

#include "ApkBuilders.h"
#include "apk/APKManifestReader.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace ApkBuilders;
using namespace APKIconExtractor;

namespace {

QByteArray manifest(bool utf8, const QString& package) {
    return XmlBuilder(utf8)
        .start(u"manifest"_s, {text(u"versionName"_s, u"1.0"_s), text(u"package"_s, package)})
        .start(u"application"_s, {typed(u"icon"_s, referenceType, 0x7F020000)})
        .end()
        .end()
        .build();
}

} // namespace

TEST(BinaryXml, ReadsPastTheEndAsZeros) {
    const QByteArray bytes("\x01\x02\x03", 3);
    EXPECT_EQ(u32(bytes, 0), 0x030201u);
    EXPECT_EQ(u16(bytes, 2), 0x03u);
    EXPECT_EQ(u32(bytes, 3), 0u);
    EXPECT_EQ(u32(bytes, -2), 0x0201u << 16);
}

TEST(BinaryXml, DecodesUtf8AndUtf16Pools) {
    const QStringList strings{u"icon"_s, u"Ünïcødé 日本"_s, QString(), QString(200, u'x')};
    for (const bool utf8 : {true, false}) {
        const QByteArray pool = stringPool(strings, utf8);
        EXPECT_EQ(APKIconExtractor::stringPool(pool, 0), strings) << "utf8=" << utf8;
        EXPECT_EQ(string(pool, 0, 1), strings[1]);
        EXPECT_EQ(string(pool, 0, 4), QString());
        EXPECT_EQ(string(pool, 0, -1), QString());
    }
}

TEST(BinaryXml, BrokenStringsDegrade) {
    QByteArray pool = stringPool({u"abc"_s}, true);
    pool[28 + 4 + 1] = char(100); // byte length runs past the end
    EXPECT_EQ(string(pool, 0, 0), QString());

    QByteArray invalid = stringPool({u"ab"_s}, true);
    invalid[28 + 4 + 2] = char(0xFF); // not UTF-8
    EXPECT_EQ(string(invalid, 0, 0), u"\uFFFDb"_s);

    QByteArray lone = stringPool({u"ab"_s}, false);
    lone[28 + 4 + 2] = char(0x00);
    lone[28 + 4 + 3] = char(0xD8); // an unpaired high surrogate
    EXPECT_EQ(string(lone, 0, 0), u"\uFFFDb"_s);

    QByteArray huge = stringPool({u"ab"_s}, false);
    huge[28 + 4 + 0] = char(0xFF); // 0x7FFF'FFFF units claimed
    huge[28 + 4 + 1] = char(0xFF);
    EXPECT_EQ(string(huge, 0, 0).size(), qsizetype(maxUtf16Units));
}

TEST(BinaryXml, PoolsStayWithinTheirCaps) {
    QByteArray pool = stringPool({u"a"_s}, true);
    setU32(pool, 8, 300'000);
    const QStringList strings = APKIconExtractor::stringPool(pool, 0);
    EXPECT_EQ(strings.size(), 200'000);
    EXPECT_EQ(strings.first(), u"a"_s);

    // 200,000 offsets all pointing at one 30,000-byte string would decode 6 billion characters.
    pool = stringPool({QString(30'000, u'z')}, true);
    const QByteArray offsets(4 * 199'999, '\0');
    pool.insert(28 + 4, offsets);
    setU32(pool, 8, 200'000);
    setU32(pool, 20, 28 + 4 * 200'000);
    const QStringList many = APKIconExtractor::stringPool(pool, 0);
    qint64 total = 0;
    for (const QString& s : many)
        total += s.size();
    EXPECT_EQ(many.first().size(), 30'000);
    EXPECT_LE(total, maxDecodedUnits);
}

TEST(BinaryXml, ElementsCarryAttributesByPlainName) {
    const QByteArray document = XmlBuilder()
                                    .start(u"application"_s, {typed(u"icon"_s, referenceType, 0x7F020001),
                                                              typed(u"icon"_s, referenceType, 0x7F020002),
                                                              typed(u"label"_s, referenceType, 0x7F050000)})
                                    .start(u"activity"_s)
                                    .end()
                                    .end()
                                    .build();
    const QList<Element> found = elements(document);
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].name, u"application"_s);
    EXPECT_EQ(found[0].attrs.value(u"icon"_s).data, 0x7F020002u); // the later one
    EXPECT_FALSE(found[0].attrs.value(u"label"_s).string.has_value());
    EXPECT_EQ(found[0].attrs.value(u"label"_s).type, referenceType);
    EXPECT_EQ(found[1].name, u"activity"_s);
}

TEST(BinaryXml, IndexesAndCountsOutsideTheDataAreSkipped) {
    QByteArray document = XmlBuilder().start(u"path"_s, {text(u"pathData"_s, u"M0,0"_s)}).build();
    const qsizetype element = document.indexOf(QByteArray("\x02\x01\x10\x00", 4));
    ASSERT_GT(element, 0);
    setU32(document, element + 36 + 4, 999); // the attribute's name index
    const QList<Element> found = elements(document);
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found[0].attrs.isEmpty());
    setU32(document, element + 20, 999); // the element's name index
    EXPECT_EQ(elements(document).value(0).name, QString());

    // Attribute counts beyond the data are cut.
    document = XmlBuilder().start(u"path"_s, {text(u"pathData"_s, u"M0,0"_s)}).build();
    document[element + 28] = char(0xFF); // 65,535 attributes claimed, one present
    document[element + 29] = char(0xFF);
    BinaryXmlReader reader(document);
    ASSERT_EQ(reader.next(), BinaryXmlReader::Token::startElement);
    EXPECT_EQ(reader.attributes().size(), 1);
    EXPECT_EQ(reader.attributes().first().second.string, u"M0,0"_s);
    document[element + 26] = 0; // records of size 0: the one record, once
    BinaryXmlReader sameRecord(document);
    ASSERT_EQ(sameRecord.next(), BinaryXmlReader::Token::startElement);
    EXPECT_EQ(sameRecord.attributes().size(), 1);
}

TEST(BinaryXml, TruncatedDocumentKeepsTheElementsBeforeTheCut) {
    const QByteArray document = XmlBuilder().start(u"vector"_s).start(u"path"_s).end().end().build();
    const QByteArray cut = document.left(document.size() - 24 - 24 - 10); // in the middle of "path"
    const QList<Element> found = elements(cut);
    ASSERT_GE(found.size(), 1);
    EXPECT_EQ(found[0].name, u"vector"_s);
    QByteArray zeroSized = document;
    setU32(zeroSized, 12, 0); // the pool's size: the walk ends at once
    EXPECT_TRUE(elements(zeroSized).isEmpty());
}

// The package name from UTF-8 and UTF-16 pools, the first "package" with a string value; nothing
// from what is not a compiled manifest.
TEST(ManifestReader, PackageNameOfCompiledManifestsOnly) {
    QByteArray wrongRoot = manifest(true, u"org.example"_s);
    wrongRoot[0] = 0x02;
    QByteArray headerTooLong = manifest(true, u"org.example"_s);
    setU16(headerTooLong, 2, 0x7FFF);
    const struct {
        const char* what;
        QByteArray bytes;
        std::optional<QString> package;
    } cases[] = {
        {"UTF-8", manifest(true, u"org.example.notes"_s), u"org.example.notes"_s},
        {"UTF-16", manifest(false, u"org.example.notes"_s), u"org.example.notes"_s},
        {"first with a value",
         XmlBuilder()
             .start(u"manifest"_s, {typed(u"package"_s, 0x10, 5), text(u"package"_s, u"a.b"_s),
                                    text(u"package"_s, u"c.d"_s)})
             .build(),
         u"a.b"_s},
        {"empty", QByteArray(), std::nullopt},
        {"header only", QByteArray("\x03\x00\x08\x00", 4), std::nullopt},
        {"source XML", "<?xml version=\"1.0\"?><manifest package=\"org.example.plain\"></manifest>",
         std::nullopt},
        {"no package", XmlBuilder().start(u"manifest"_s, {text(u"versionName"_s, u"2"_s)}).build(),
         std::nullopt},
        {"wrong root chunk", wrongRoot, std::nullopt},
        {"header too long", headerTooLong, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(APKManifestReader::parse(c.bytes), c.package) << c.what;
}
