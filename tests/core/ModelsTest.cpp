#include "core/Models.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

MobileApp sample() {
    MobileApp app;
    app.id = QUuid::fromString(u"5e0b6c2e-1f3a-4b7c-9d8e-0a1b2c3d4e5f"_s);
    app.name = u"Notes-v7.2.1"_s;
    app.sourcePath = u"/home/u/Notes.apk"_s;
    app.addedAt = LibraryCoding::fromReferenceSeconds(786543210.25);
    return app;
}

TEST(MobileApp, DisplayNameDropsATrailingVersionSuffix) {
    const std::pair<QString, QString> cases[] = {
        {u"Notes-v7.2.1"_s, u"Notes"_s}, {u"Maps_2.0"_s, u"Maps"_s},
        {u"2048"_s, u"2048"_s},          {u"v2"_s, u"v2"_s},
        {u"Chat 3"_s, u"Chat"_s},        {u"-12"_s, u"-12"_s}, // nothing left
        {u"App-V2"_s, u"App-V2"_s},                            // no case folding: "V" is not "v"
        {u"Tool v3 beta"_s, u"Tool"_s},  {u"A-1-2"_s, u"A"_s}, // the first match wins
        {u"Radio 5x"_s, u"Radio 5x"_s}, // digits must end the name or be followed by a separator
    };
    for (const auto& [name, shown] : cases) {
        MobileApp app;
        app.name = name;
        EXPECT_EQ(app.displayName(), shown) << name.toStdString();
    }
}

TEST(LibraryCoding, WritesTheStoredFormAndReadsItBack) {
    MobileApp app = sample();
    const QJsonArray array = QJsonDocument::fromJson(LibraryCoding::encode({app})).array();
    ASSERT_EQ(array.size(), 1);
    const QJsonObject object = array.first().toObject();
    EXPECT_EQ(object.value(u"id"_s).toString(), u"5E0B6C2E-1F3A-4B7C-9D8E-0A1B2C3D4E5F"_s);
    EXPECT_EQ(object.value(u"platform"_s).toString(), u"Android"_s);
    EXPECT_DOUBLE_EQ(object.value(u"addedAt"_s).toDouble(), 786543210.25);
    EXPECT_FALSE(object.contains(u"bundleIdentifier"_s));
    EXPECT_EQ(object.size(), 6);

    app.bundleIdentifier = u"org.example.notes"_s;
    app.platform = MobilePlatform::ios;
    const QJsonObject withPackage =
        QJsonDocument::fromJson(LibraryCoding::encode({app})).array().first().toObject();
    EXPECT_EQ(withPackage.value(u"bundleIdentifier"_s).toString(), u"org.example.notes"_s);
    EXPECT_EQ(withPackage.value(u"platform"_s).toString(), u"iOS / iPadOS"_s);

    // Every field comes back.
    app.id = QUuid::createUuid();
    app.isFavorite = true;
    app.name = u"Ünïcode \"quoted\" \\ name"_s;
    const QList<MobileApp> apps{sample(), app};
    const LibraryCoding::Decoded decoded = LibraryCoding::decode(LibraryCoding::encode(apps));
    EXPECT_TRUE(decoded.isArray);
    EXPECT_EQ(decoded.apps, apps);
    EXPECT_TRUE(decoded.unreadable.isEmpty());
}

TEST(LibraryCoding, ReferenceDateIsTheStartOf2001) {
    EXPECT_EQ(LibraryCoding::fromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_DOUBLE_EQ(LibraryCoding::referenceSeconds(QDateTime(QDate(2000, 12, 31), QTime(23, 59), Qt::UTC)),
                     -60);
}

TEST(LibraryCoding, AMalformedEntryCostsOnlyItselfAndIsReturnedAsStored) {
    const QJsonObject object =
        QJsonDocument::fromJson(LibraryCoding::encode({sample()})).array().first().toObject();
    // The good entry, then the changed one, then the good entry again.
    const auto withChange = [&](auto change) {
        QJsonObject changed = object;
        change(changed);
        return LibraryCoding::decode(QJsonDocument(QJsonArray{object, changed, object}).toJson());
    };
    const auto expectOnlyTheChangedOneRefused = [](const LibraryCoding::Decoded& decoded, const char* what) {
        EXPECT_TRUE(decoded.isArray) << what;
        EXPECT_EQ(decoded.apps, (QList<MobileApp>{sample(), sample()})) << what;
        ASSERT_EQ(decoded.unreadable.size(), 1) << what;
        EXPECT_TRUE(QJsonDocument::fromJson(decoded.unreadable.first()).isObject()) << what;
    };
    for (const char* key : {"id", "name", "platform", "sourcePath", "addedAt", "isFavorite"})
        expectOnlyTheChangedOneRefused(withChange([&](QJsonObject& o) { o.remove(QLatin1StringView(key)); }),
                                       key);
    const std::pair<const char*, QJsonValue> wrongValues[] = {
        {"id", u"not-a-uuid"_s}, {"platform", u"iOS"_s}, {"addedAt", u"yesterday"_s},
        {"addedAt", 1e300},      {"isFavorite", 1},      {"bundleIdentifier", 5},
    };
    for (const auto& [key, value] : wrongValues)
        expectOnlyTheChangedOneRefused(withChange([&](QJsonObject& o) { o[QLatin1StringView(key)] = value; }),
                                       key);

    // Accepted variations: lower-case ids, a null package, extra keys.
    const auto varied = withChange([](QJsonObject& o) {
        o[u"id"_s] = u"00000000-0000-0000-0000-000000000000"_s;
        o[u"bundleIdentifier"_s] = QJsonValue::Null;
        o[u"extra"_s] = true;
    });
    ASSERT_EQ(varied.apps.size(), 3);
    EXPECT_FALSE(varied.apps[1].bundleIdentifier);
}

TEST(LibraryCoding, UnreadableEntriesComeBackByteForByte) {
    const QByteArray good = LibraryCoding::encode({sample()}).mid(1).chopped(1);
    // Strings holding brackets, commas and escaped quotes, deep nesting, scalars, odd spacing.
    const QByteArray deep = QByteArray(5000, '[') + QByteArray(5000, ']');
    const QList<QByteArray> bad{
        R"({"name":"a],[b\"}{,","weird":  [1, {"x":"]"}]})", "1", R"("text")", "null", deep, R"({})"};
    QByteArray stored = "  [\n " + good;
    for (const QByteArray& entry : bad)
        stored += " ,\t" + entry;
    stored += ",\n" + good + " ]\n";

    const LibraryCoding::Decoded decoded = LibraryCoding::decode(stored);
    EXPECT_TRUE(decoded.isArray);
    EXPECT_EQ(decoded.apps.size(), 2);
    EXPECT_EQ(decoded.unreadable, bad);
}

TEST(LibraryCoding, BytesThatAreNoArrayAreNoLibrary) {
    for (const QByteArray bytes : {"{}", "[{]", "", "[1] [2]"}) {
        const LibraryCoding::Decoded decoded = LibraryCoding::decode(bytes);
        EXPECT_FALSE(decoded.isArray) << bytes.constData();
        EXPECT_TRUE(decoded.apps.isEmpty());
    }
    EXPECT_TRUE(LibraryCoding::decode("[]").isArray);
}

} // namespace
