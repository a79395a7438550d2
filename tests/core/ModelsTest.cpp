#include "core/Models.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

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
        {u"Notes-v7.2.1"_s, u"Notes"_s}, {u"Maps_2.0"_s, u"Maps"_s},       {u"2048"_s, u"2048"_s},
        {u"v2"_s, u"v2"_s},              {u"Chat 3"_s, u"Chat"_s},         {u"-12"_s, u"-12"_s}, // nothing left
        {u"App-V2"_s, u"App-V2"_s},      // no case folding: "V" is not "v"
        {u"Tool v3 beta"_s, u"Tool"_s},  {u"A-1-2"_s, u"A"_s},             // the first match wins
        {u"Radio 5x"_s, u"Radio 5x"_s},  // digits must end the name or be followed by a separator
    };
    for (const auto& [name, shown] : cases) {
        MobileApp app;
        app.name = name;
        EXPECT_EQ(app.displayName(), shown) << name.toStdString();
    }
}

TEST(LibraryCoding, WritesTheStoredForm) {
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
    const QJsonObject withPackage = QJsonDocument::fromJson(LibraryCoding::encode({app})).array().first().toObject();
    EXPECT_EQ(withPackage.value(u"bundleIdentifier"_s).toString(), u"org.example.notes"_s);
    EXPECT_EQ(withPackage.value(u"platform"_s).toString(), u"iOS / iPadOS"_s);
}

TEST(LibraryCoding, ReferenceDateIsTheStartOf2001) {
    EXPECT_EQ(LibraryCoding::fromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_DOUBLE_EQ(LibraryCoding::referenceSeconds(QDateTime(QDate(2000, 12, 31), QTime(23, 59), Qt::UTC)), -60);
}

TEST(LibraryCoding, RoundTripsEveryField) {
    MobileApp second = sample();
    second.id = QUuid::createUuid();
    second.bundleIdentifier = u"org.example"_s;
    second.isFavorite = true;
    second.name = u"Ünïcode \"quoted\" \\ name"_s;
    const QList<MobileApp> apps{sample(), second};
    EXPECT_EQ(LibraryCoding::decode(LibraryCoding::encode(apps)), apps);
}

TEST(LibraryCoding, OneMalformedEntryFailsTheWholeLibrary) {
    const QByteArray good = LibraryCoding::encode({sample()});
    QJsonObject object = QJsonDocument::fromJson(good).array().first().toObject();
    const auto withChange = [&](auto change) {
        QJsonObject changed = object;
        change(changed);
        return QJsonDocument(QJsonArray{object, changed}).toJson();
    };
    for (const char* key : {"id", "name", "platform", "sourcePath", "addedAt", "isFavorite"})
        EXPECT_FALSE(LibraryCoding::decode(withChange([&](QJsonObject& o) { o.remove(QLatin1StringView(key)); })))
            << "without " << key;
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"id"_s] = u"not-a-uuid"_s; })));
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"platform"_s] = u"Symbian"_s; })));
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"addedAt"_s] = u"yesterday"_s; })));
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"addedAt"_s] = 1e300; })));
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"isFavorite"_s] = 1; })));
    EXPECT_FALSE(LibraryCoding::decode(withChange([](QJsonObject& o) { o[u"bundleIdentifier"_s] = 5; })));
    EXPECT_FALSE(LibraryCoding::decode("{}"));
    EXPECT_FALSE(LibraryCoding::decode("[1]"));
    EXPECT_FALSE(LibraryCoding::decode("[{]"));

    // Accepted variations: lower-case ids, a null package, extra keys.
    auto decoded = LibraryCoding::decode(withChange([](QJsonObject& o) {
        o[u"id"_s] = u"00000000-0000-0000-0000-000000000000"_s;
        o[u"bundleIdentifier"_s] = QJsonValue::Null;
        o[u"extra"_s] = true;
    }));
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->last().bundleIdentifier);
    EXPECT_EQ(LibraryCoding::decode("[]"), QList<MobileApp>());
}

} // namespace
