// The pure rules of the update check and install: the package API's JSON, the device's version
// code, the best-first order, the texts users see, which addresses may be fetched.
#include "updates/UpdateRules.h"

#include "support/DeviceFiles.h"
#include "updates/UpdateSource.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(PackageApiTest, ReadsTheSuggestedVersion) {
    const std::pair<const char*, const char*> answers[]{
        {R"({"suggestedVersionCode":42,"packages":[{"versionName":"1.4","versionCode":42}]})", "42 1.4"},
        // The first matching element wins; elements of other codes are passed over.
        {R"({"suggestedVersionCode":42,"packages":[{"versionName":"2.0","versionCode":43},
            {"versionName":"1.4","versionCode":42},{"versionName":"dup","versionCode":42}]})",
         "42 1.4"},
        // No matching element, or one without a string name: the code itself.
        {R"({"suggestedVersionCode":42,"packages":[{"versionName":"2.0","versionCode":43}]})", "42 42"},
        {R"({"suggestedVersionCode":42,"packages":[{"versionName":7,"versionCode":42}]})", "42 42"},
        {R"({"suggestedVersionCode":42})", "42 42"},
        {R"({"suggestedVersionCode":42,"packages":"nope"})", "42 42"},
        {R"({"suggestedVersionCode":42.0})", "42 42"},
        // Not an answer at all.
        {R"({"packages":[{"versionName":"1.4","versionCode":42}]})", "none"},
        {R"({"suggestedVersionCode":"42"})", "none"},
        {R"({"suggestedVersionCode":42.5})", "none"},
        {R"({"suggestedVersionCode":1e300})", "none"},
        {R"([{"suggestedVersionCode":42}])", "none"},
        {"<html>Not Found</html>", "none"},
        {"", "none"},
    };
    for (const auto& [body, expected] : answers) {
        const auto update = UpdateRules::readPackageApi(QByteArray(body), u"org.a.b"_s, UpdateSource::izzy);
        EXPECT_EQ(update ? u"%1 %2"_s.arg(update->versionCode).arg(update->versionName) : u"none"_s,
                  QString::fromUtf8(expected))
            << body;
        if (update)
            EXPECT_EQ(update->package + UpdateSources::displayName(update->source), u"org.a.bIzzyOnDroid"_s);
    }
}

TEST(PackageListTest, VersionCodesOfTheDevicesPackages) {
    const QHash<QString, qint64> codes = UpdateRules::readPackageList(
        u"package:android versionCode:35\n"
        u"package:org.a.b versionCode:12 uid:10104\n"
        u"package:com.c_d versionCode:7\r\n"                     // a shell that ends lines with CR LF
        u"package:/data/app/x/base.apk=org.e.f versionCode:3\n"  // a code path first (-f) is not asked for
        u"package:org.g.h\n"                                     // without --show-versioncode
        u"package:org.i.j versionCode:99999999999999999999999\n" // does not fit
        u"package:org.k;rm versionCode:4\n"                      // not a package name
        u"Error: Could not access the Package Manager.  Is the system running?\n"_s);
    EXPECT_EQ(codes, (QHash<QString, qint64>{{u"android"_s, 35}, {u"org.a.b"_s, 12}, {u"com.c_d"_s, 7}}));
    EXPECT_TRUE(UpdateRules::readPackageList(QString()).isEmpty());
}

TEST(CandidateOrderTest, HighestFirstAndFDroidFirstAmongEqualCodes) {
    QList<AppUpdate> found{{u"p.q"_s, 5, u"5"_s, UpdateSource::fdroid},
                           {u"p.q"_s, 7, u"7i"_s, UpdateSource::izzy},
                           {u"p.q"_s, 7, u"7f"_s, UpdateSource::fdroid},
                           {u"p.q"_s, 5, u"5i"_s, UpdateSource::izzy}};
    UpdateRules::sortBestFirst(found);
    QStringList names;
    for (const AppUpdate& u : found)
        names.append(u.versionName);
    EXPECT_EQ(names, (QStringList{u"7i"_s, u"7f"_s, u"5"_s, u"5i"_s})); // stable: the order asked
}

// A version name from a repository cannot start a log line of its own or fill a placeholder.
TEST(UpdateTextsTest, LogLineAndRefusals) {
    const QMap<QString, AppUpdate> found{
        {u"org.a"_s, {u"org.a"_s, 4, u"1.4\nforged %1"_s, UpdateSource::izzy}},
        {u"com.b"_s, {u"com.b"_s, 2, u"2"_s, UpdateSource::fdroid}}};
    EXPECT_EQ(UpdateRules::checkLogLine(2, UpdateSources::all(), {}),
              u"updates: checked 2 apps in [\"F-Droid\", \"IzzyOnDroid\"], 0 available [:]"_s);
    const QString line = UpdateRules::checkLogLine(3, {UpdateSource::fdroid}, found);
    EXPECT_FALSE(line.contains(u'\n'));
    EXPECT_TRUE(
        line.startsWith(u"updates: checked 3 apps in [\"F-Droid\"], 2 available [\"com.b\": \"2 (F-Droid)\", "
                        u"\"org.a\": \"1.4"_s))
        << line.toStdString();
    EXPECT_TRUE(line.contains(u"forged %1 (IzzyOnDroid)\"]"_s)) << line.toStdString();
    EXPECT_EQ(UpdateRules::installRefusal(
                  u"adb: failed to install /x.apk: Failure [INSTALL_FAILED_UPDATE_INCOMPATIBLE: Package a.b "
                  u"signatures do not match previously installed version; ignoring!]"_s),
              u"this copy was installed from a different store"_s);
    EXPECT_EQ(UpdateRules::installRefusal(u"Failure: signatures do not match"_s),
              u"this copy was installed from a different store"_s);
    const QString long_ =
        u"\n  adb: failed to install: Failure [INSTALL_FAILED_OLDER_SDK: "_s + QString(200, u'x');
    const QString refusal = UpdateRules::installRefusal(long_);
    EXPECT_TRUE(
        refusal.startsWith(u"update failed: adb: failed to install: Failure [INSTALL_FAILED_OLDER_SDK"_s));
    EXPECT_EQ(refusal.size(), QString(u"update failed: "_s).size() + 120);
    EXPECT_EQ(UpdateRules::notThePackage(u"org.a.b"_s), u"the download is not org.a.b"_s);
}

TEST(UpdateSourceTest, BasesAndAddresses) {
    {
        ScopedEnvironment noFDroid("VANTLE_FDROID_URL", QString());
        ScopedEnvironment noIzzy("VANTLE_IZZYONDROID_URL", QString());
        EXPECT_EQ(UpdateSources::apiURL(UpdateSource::fdroid, u"org.a.b"_s),
                  QUrl(u"https://f-droid.org/api/v1/packages/org.a.b"_s));
        EXPECT_EQ(UpdateSources::apkURL(UpdateSource::izzy, u"org.a.b"_s, 42),
                  QUrl(u"https://apt.izzysoft.de/fdroid/repo/org.a.b_42.apk"_s));
    }
    ScopedEnvironment mirror("VANTLE_FDROID_URL", u"http://127.0.0.1:8080/mirror/"_s);
    EXPECT_EQ(UpdateSources::apkURL(UpdateSource::fdroid, u"org.a.b"_s, 7),
              QUrl(u"http://127.0.0.1:8080/mirror/repo/org.a.b_7.apk"_s));

    for (const char* allowed :
         {"https://f-droid.org/repo/a.b_1.apk", "http://127.0.0.1:9/x", "http://[::1]:9/x"})
        EXPECT_TRUE(UpdateSources::isAllowedAddress(QUrl(QString::fromLatin1(allowed)))) << allowed;
    for (const char* refused : {"http://f-droid.org/repo/a.b_1.apk", "http://localhost.example.com/x",
                                "http://10.0.0.1/x", "ftp://127.0.0.1/x", "file:///etc/passwd"})
        EXPECT_FALSE(UpdateSources::isAllowedAddress(QUrl(QString::fromLatin1(refused)))) << refused;
    using UpdateSources::isAllowedRedirect;
    const QUrl secure(u"https://f-droid.org/repo/a"_s), loopback(u"http://127.0.0.1:9/a"_s);
    EXPECT_TRUE(isAllowedRedirect(secure, QUrl(u"https://cdn.example.org/a"_s)));
    EXPECT_TRUE(isAllowedRedirect(loopback, QUrl(u"http://127.0.0.1:10/b"_s)));
    EXPECT_TRUE(isAllowedRedirect(loopback, secure));
    EXPECT_FALSE(isAllowedRedirect(secure, loopback));
    EXPECT_FALSE(isAllowedRedirect(secure, QUrl(u"http://cdn.example.org/a"_s)));
    EXPECT_FALSE(isAllowedRedirect(loopback, QUrl(u"http://cdn.example.org/a"_s)));
}

} // namespace
