#include "sim/ApkFacts.h"

#include "apk/APKManifestReader.h"
#include "apk/ApkArchive.h"
#include "apk/BinaryXml.h"

#include <QCryptographicHash>
#include <QList>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using APKIconExtractor::Attr;

QString text(const QList<std::pair<QString, Attr>>& attributes, const QString& name) {
    for (const auto& [key, value] : attributes)
        if (key == name)
            return value.string.value_or(value.type == APKIconExtractor::decimalType ||
                                                 value.type == APKIconExtractor::hexadecimalType
                                             ? QString::number(value.data)
                                             : QString());
    return {};
}

qint64 number(const QList<std::pair<QString, Attr>>& attributes, const QString& name, qint64 fallback) {
    bool ok = false;
    const qint64 value = text(attributes, name).toLongLong(&ok);
    return ok ? value : fallback;
}

// "com.example/.Main" for a class inside the package, else "com.example/org.other.Main".
QString component(const QString& package, QString activity) {
    if (activity.startsWith(package + u'.'))
        activity = activity.mid(package.size());
    else if (!activity.contains(u'.'))
        activity.prepend(u'.');
    return package + u'/' + activity;
}

// The first certificate of a PKCS#7 signature block, DER-encoded; empty when there is none.
QByteArray firstCertificate(const QByteArray& block) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.constData());
    PKCS7* signature = d2i_PKCS7(nullptr, &bytes, long(block.size()));
    QByteArray der;
    if (signature && PKCS7_type_is_signed(signature) && signature->d.sign && signature->d.sign->cert &&
        sk_X509_num(signature->d.sign->cert) > 0) {
        X509* certificate = sk_X509_value(signature->d.sign->cert, 0);
        const int length = i2d_X509(certificate, nullptr);
        if (length > 0) {
            der.resize(length);
            auto* out = reinterpret_cast<unsigned char*>(der.data());
            i2d_X509(certificate, &out);
        }
    }
    PKCS7_free(signature);
    return der;
}

QString signerOf(const QString& apkPath) {
    APKIconExtractor::ApkArchive archive(apkPath);
    for (const QString& name : archive.entryNames().value_or(QStringList())) {
        if (!name.startsWith(u"META-INF/"_s) || name.count(u'/') != 1) continue;
        if (!name.endsWith(u".RSA"_s) && !name.endsWith(u".DSA"_s) && !name.endsWith(u".EC"_s)) continue;
        const QByteArray certificate = firstCertificate(archive.read(name).value_or(QByteArray()));
        if (!certificate.isEmpty())
            return QString::fromLatin1(
                QCryptographicHash::hash(certificate, QCryptographicHash::Sha256).toHex());
    }
    return {};
}

} // namespace

std::optional<ApkFacts> ApkFacts::read(const QString& apkPath) {
    const std::optional<QByteArray> manifest = APKIconExtractor::read(apkPath, u"AndroidManifest.xml"_s);
    if (!manifest) return std::nullopt;
    const std::optional<QString> package = APKManifestReader::parse(*manifest);
    if (!package || package->isEmpty()) return std::nullopt;

    ApkFacts facts;
    facts.package = *package;
    // Element nesting matters for the launcher: remember the activity whose intent filter is open.
    QStringList stack;
    QString activity, launcher;
    bool hasMain = false, hasLauncher = false, hasSend = false;
    QStringList filterTypes;
    APKIconExtractor::BinaryXmlReader reader(*manifest);
    for (auto token = reader.next(); token != APKIconExtractor::BinaryXmlReader::Token::end;
         token = reader.next()) {
        if (token == APKIconExtractor::BinaryXmlReader::Token::endElement) {
            const QString closed = stack.isEmpty() ? QString() : stack.takeLast();
            if (closed == u"intent-filter"_s) {
                if (hasMain && hasLauncher && launcher.isEmpty() && !activity.isEmpty()) launcher = activity;
                if (hasSend && !activity.isEmpty())
                    facts.shareTargets.append({component(facts.package, activity), filterTypes});
                hasMain = hasLauncher = hasSend = false;
                filterTypes.clear();
            } else if (closed == u"activity"_s || closed == u"activity-alias"_s) {
                activity.clear();
            }
            continue;
        }
        const QString& name = reader.name();
        const auto& attributes = reader.attributes();
        stack.append(name);
        if (name == u"manifest"_s) {
            facts.versionCode = number(attributes, u"versionCode"_s, 0);
            facts.versionName = text(attributes, u"versionName"_s);
            facts.split = text(attributes, u"split"_s);
        } else if (name == u"uses-sdk"_s) {
            facts.minSdk = int(number(attributes, u"minSdkVersion"_s, 1));
            facts.targetSdk = int(number(attributes, u"targetSdkVersion"_s, facts.minSdk));
        } else if (name == u"activity"_s || name == u"activity-alias"_s) {
            activity = text(attributes, u"name"_s);
        } else if (name == u"action"_s && text(attributes, u"name"_s) == u"android.intent.action.MAIN"_s) {
            hasMain = true;
        } else if (name == u"action"_s && text(attributes, u"name"_s) == u"android.intent.action.SEND"_s) {
            hasSend = true;
        } else if (name == u"data"_s && !text(attributes, u"mimeType"_s).isEmpty()) {
            filterTypes.append(text(attributes, u"mimeType"_s));
        } else if (name == u"category"_s &&
                   text(attributes, u"name"_s) == u"android.intent.category.LAUNCHER"_s) {
            hasLauncher = true;
        }
    }
    if (!launcher.isEmpty()) facts.launcherActivity = component(facts.package, launcher);
    facts.signer = signerOf(apkPath);
    return facts;
}
