#include "apk/IconTrace.h"

#include <QFileInfo>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using namespace APKIconExtractor;

namespace IconTrace {

namespace {

// A hostile table can give a resource thousands of configurations; the trace shows the first few.
constexpr qsizetype maxShownEntries = 16;
constexpr qsizetype maxShownElements = 16;

QString hex(quint32 value) {
    return QString::number(value, 16).toUpper();
}

QString typed(const Attr& attr) {
    return u"type"_s + QString::number(attr.type) + u"/0x"_s + hex(attr.data);
}

// The first element name of a file, "?" for a file without elements, "-" for no file.
QString rootOf(const QString& apkPath, const std::optional<QString>& file) {
    if (!file) return u"-"_s;
    const std::optional<QByteArray> bytes = read(apkPath, *file);
    if (!bytes) return u"-"_s;
    BinaryXmlReader reader(*bytes);
    for (BinaryXmlReader::Token token; (token = reader.next()) != BinaryXmlReader::Token::end;)
        if (token == BinaryXmlReader::Token::startElement) return reader.name();
    return u"?"_s;
}

QString describe(const QList<Element>& elements, IconSource& source) {
    QStringList parts;
    for (const Element& element : elements.first(std::min(elements.size(), maxShownElements))) {
        QStringList attrs;
        for (auto it = element.attrs.cbegin(); it != element.attrs.cend(); ++it) {
            QString text = it.key() + u'=' + typed(*it);
            if (it->type == referenceType) {
                QStringList files;
                for (const Entry& entry : source.entries(it->data))
                    if (entry.file && files.size() < maxShownEntries) files.append(*entry.file);
                text += u"->["_s + files.join(u", "_s) + u']';
            }
            attrs.append(text);
        }
        parts.append(u'<' + element.name + (attrs.isEmpty() ? QString() : u' ' + attrs.join(u' ')) + u'>');
    }
    return parts.isEmpty() ? u"none"_s : parts.join(u' ');
}

} // namespace

QString iconLine(const QString& apkPath, const QMap<QString, Attr>& attrs, const QByteArray& arsc) {
    QStringList names;
    for (const QString& name : attrs.keys())
        names.append(u'"' + name + u'"'); // keys() is sorted
    QString line =
        u"icon trace "_s + QFileInfo(apkPath).fileName() + u": attrs=["_s + names.join(u", "_s) + u']';
    for (const QString& name : {u"icon"_s, u"roundIcon"_s}) {
        const auto attr = attrs.constFind(name);
        if (attr == attrs.cend()) continue;
        line += u' ' + name + u'=' + typed(*attr);
        const QList<Entry> found = entries(arsc, attr->data);
        for (const Entry& entry : found.first(std::min(found.size(), maxShownEntries))) {
            line += u" ["_s + QString::number(entry.density) + u' ' +
                    entry.file.value_or(u"t"_s + QString::number(entry.type)) + u" root="_s +
                    rootOf(apkPath, entry.file) + u']';
        }
    }
    return line;
}

QString adaptiveLine(bool hasBackground, bool hasForeground, const QList<Element>& background,
                     const QList<Element>& foreground, IconSource& source) {
    return u"icon trace adaptive: bg="_s + (hasBackground ? u"true"_s : u"false"_s) + u" fg="_s +
           (hasForeground ? u"true"_s : u"false"_s) + u" BG "_s + describe(background, source) + u" FG "_s +
           describe(foreground, source);
}

} // namespace IconTrace
