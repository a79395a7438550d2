#include "apk/APKManifestReader.h"

#include "apk/ApkArchive.h"
#include "apk/BinaryXml.h"

using namespace Qt::Literals::StringLiterals;
using namespace APKIconExtractor;

namespace APKManifestReader {

std::optional<QString> packageName(const QString& apkPath) {
    const std::optional<QByteArray> manifest = read(apkPath, u"AndroidManifest.xml"_s);
    if (!manifest) return std::nullopt;
    return parse(*manifest);
}

std::optional<QString> parse(const QByteArray& manifestBytes) {
    if (manifestBytes.size() < 9 || u16(manifestBytes, 0) != xmlDocumentChunk) return std::nullopt;
    if (u16(manifestBytes, 2) + 8 > manifestBytes.size()) return std::nullopt;
    BinaryXmlReader reader(manifestBytes);
    for (BinaryXmlReader::Token token; (token = reader.next()) != BinaryXmlReader::Token::end;) {
        if (token != BinaryXmlReader::Token::startElement || reader.name() != u"manifest"_s) continue;
        for (const auto& [name, attr] : reader.attributes())
            if (name == u"package"_s && attr.string) return attr.string;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace APKManifestReader
