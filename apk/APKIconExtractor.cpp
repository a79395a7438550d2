#include "apk/APKIconExtractor.h"

#include "apk/APKManifestReader.h"
#include "apk/IconTrace.h"
#include "apk/IconVector.h"
#include "core/VantleLog.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace APKIconExtractor {

namespace {

const QString manifestEntry = u"AndroidManifest.xml"_s;
const QString tableEntry = u"resources.arsc"_s;

// The attributes of the first "application" element, or nothing.
std::optional<QMap<QString, Attr>> applicationAttributes(const QByteArray& manifest) {
    BinaryXmlReader reader(manifest);
    for (BinaryXmlReader::Token token; (token = reader.next()) != BinaryXmlReader::Token::end;)
        if (token == BinaryXmlReader::Token::startElement && reader.name() == u"application"_s)
            return reader.element().attrs;
    return std::nullopt;
}

enum class FileKind { bitmap, binaryXml, other };

FileKind kindOf(const QByteArray& bytes) {
    if (bytes.size() >= 5 &&
        (bytes.startsWith("RI") || bytes.startsWith("\xFF\xD8") || bytes.startsWith("\x89\x50")))
        return FileKind::bitmap;
    if (bytes.startsWith(QByteArrayView("\x03\x00", 2))) return FileKind::binaryXml;
    return FileKind::other;
}

std::optional<QByteArray> encodePNG(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Light compression: an icon is encoded once and cached; encoding time matters more than
    // a few kilobytes on disk.
    if (!image.save(&buffer, "PNG", 80) || png.isEmpty()) return std::nullopt;
    return png;
}

// The first colour value among the entries, if any.
std::optional<QColor> firstColor(const QList<Entry>& values) {
    for (const Entry& entry : values)
        if (isColorType(entry.type)) return colorFromARGB(entry.data);
    return std::nullopt;
}

QString densityName(int density) {
    switch (density) {
    case 0:
        return u"default density"_s;
    case 0xFFFE:
        return u"anydpi"_s;
    case 0xFFFF:
        return u"nodpi"_s;
    default:
        return QString::number(density) + u" dpi"_s;
    }
}

QString originOf(const std::optional<Entry>& entry) {
    if (!entry) return {};
    return u' ' + entry->file.value_or(QString()) + u" ("_s + densityName(entry->density) + u')';
}

// The label from the application's attributes: its literal text, or the first string value of
// the resource it names (an empty first value means no label).
std::optional<QString> labelOf(const std::optional<QMap<QString, Attr>>& attrs,
                               const std::function<std::optional<QByteArray>()>& readTable) {
    if (!attrs) return std::nullopt;
    const auto attr = attrs->constFind(u"label"_s);
    if (attr == attrs->cend()) return std::nullopt;
    if (attr->string && !attr->string->isEmpty()) return attr->string;
    if (attr->type != referenceType) return std::nullopt;
    const std::optional<QByteArray> arsc = readTable();
    if (!arsc) return std::nullopt;
    for (const Entry& entry : entries(*arsc, attr->data)) {
        if (entry.type != stringType) continue;
        if (entry.file && !entry.file->isEmpty()) return entry.file;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<IconChoice> iconOf(const QString& apkPath, const QMap<QString, Attr>& attrs,
                                 const QByteArray& arsc, std::unique_ptr<ApkArchive> archive) {
    IconSource source(apkPath, arsc, std::move(archive));
    for (const QString& name : {u"icon"_s, u"roundIcon"_s}) {
        const auto attr = attrs.constFind(name);
        if (attr == attrs.cend() || attr->type != referenceType) continue;
        const std::optional<QImage> image = render(attr->data, source, 0);
        if (!image) continue;
        std::optional<QByteArray> png = source.chosenPNG() ? source.chosenPNG() : encodePNG(*image);
        if (!png) return std::nullopt;
        return IconChoice{std::move(*png), name + u" 0x"_s + QString::number(attr->data, 16).toUpper() +
                                               originOf(source.chosen())};
    }
    VantleLog::main().write(IconTrace::iconLine(apkPath, attrs, arsc));
    return std::nullopt;
}

} // namespace

QImage blankCanvas() {
    QImage canvas(canvasSide, canvasSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    return canvas;
}

QColor colorFromARGB(quint32 argb) {
    return QColor::fromRgba(argb);
}

QImage decodeImage(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(64);
    return reader.read();
}

IconSource::IconSource(QString apkPath, QByteArray arsc, std::unique_ptr<ApkArchive> archive)
    : m_apk(std::move(apkPath))
    , m_arsc(std::move(arsc))
    , m_archive(std::move(archive)) {}

ApkArchive& IconSource::archive() {
    if (!m_archive) m_archive = std::make_unique<ApkArchive>(m_apk);
    return *m_archive;
}

QList<Entry> IconSource::entries(quint32 id) {
    const auto known = m_entries.constFind(id);
    if (known != m_entries.cend()) return *known;
    if (m_entries.size() >= maxLookups) return {};
    return *m_entries.insert(id, APKIconExtractor::entries(m_arsc, id));
}

std::optional<QByteArray> IconSource::read(const QString& entryName) {
    if (m_readsLeft <= 0) return std::nullopt;
    --m_readsLeft;
    return archive().read(entryName);
}

QHash<QString, QByteArray> IconSource::readMany(const QSet<QString>& entryNames) {
    if (m_readsLeft <= 0) return {};
    --m_readsLeft;
    return archive().readMany(entryNames);
}

bool IconSource::spendRender() {
    if (m_rendersLeft <= 0) return false;
    --m_rendersLeft;
    return true;
}

std::optional<QString> label(const QString& apkPath) {
    ApkArchive archive(apkPath);
    const std::optional<QByteArray> manifest = archive.read(manifestEntry);
    if (!manifest) return std::nullopt;
    // The table is read only for a label given by reference.
    return labelOf(applicationAttributes(*manifest), [&] { return archive.read(tableEntry); });
}

std::optional<QByteArray> iconPNG(const QString& apkPath) {
    std::optional<IconChoice> choice = chooseIcon(apkPath);
    if (!choice) return std::nullopt;
    return std::move(choice->png);
}

std::optional<IconChoice> chooseIcon(const QString& apkPath) {
    auto archive = std::make_unique<ApkArchive>(apkPath);
    const QHash<QString, QByteArray> files = archive->readMany({manifestEntry, tableEntry});
    if (!files.contains(manifestEntry) || !files.contains(tableEntry)) return std::nullopt;
    return iconOf(apkPath, applicationAttributes(files.value(manifestEntry)).value_or(QMap<QString, Attr>{}),
                  files.value(tableEntry), std::move(archive));
}

Summary summarize(const QString& apkPath) {
    auto archive = std::make_unique<ApkArchive>(apkPath);
    const QHash<QString, QByteArray> files = archive->readMany({manifestEntry, tableEntry});
    const auto manifest = files.constFind(manifestEntry);
    if (manifest == files.cend()) return {};
    const auto table = files.constFind(tableEntry);
    const std::optional<QMap<QString, Attr>> attrs = applicationAttributes(*manifest);
    Summary summary;
    summary.package = APKManifestReader::parse(*manifest);
    summary.label = labelOf(attrs, [&]() -> std::optional<QByteArray> {
        if (table == files.cend()) return std::nullopt;
        return *table;
    });
    if (table != files.cend())
        summary.icon = iconOf(apkPath, attrs.value_or(QMap<QString, Attr>{}), *table, std::move(archive));
    return summary;
}

std::optional<QImage> render(quint32 id, IconSource& source, int depth) {
    if (depth > IconSource::maxDepth || !source.spendRender()) return std::nullopt;
    QList<Entry> withFile;
    QSet<QString> names;
    for (const Entry& entry : source.entries(id)) {
        if (!entry.file) continue;
        withFile.append(entry);
        names.insert(*entry.file);
    }
    const QHash<QString, QByteArray> files = source.readMany(names);

    // Any bitmap beats XML: the highest density, the earlier one on ties.
    const QByteArray* best = nullptr;
    const Entry* bestEntry = nullptr;
    QList<std::pair<const Entry*, QByteArray>> xmlFiles;
    for (const Entry& entry : withFile) {
        const auto file = files.constFind(*entry.file);
        if (file == files.cend()) continue;
        switch (kindOf(*file)) {
        case FileKind::bitmap:
            if (!bestEntry || entry.density > bestEntry->density) {
                best = &*file;
                bestEntry = &entry;
            }
            break;
        case FileKind::binaryXml:
            xmlFiles.append({&entry, *file});
            break;
        case FileKind::other:
            break;
        }
    }
    if (best) {
        const QImage image = decodeImage(*best);
        if (!image.isNull()) {
            source.choose(*bestEntry, depth);
            source.choosePNG(*best, depth);
            return image;
        }
    }
    for (const auto& [entry, xml] : xmlFiles) {
        const QList<Element> found = elements(xml);
        source.choose(*entry, depth);
        if (!found.isEmpty() && found.first().name == u"adaptive-icon"_s)
            return adaptive(found, source, depth);
        if (std::optional<QImage> image = IconVector::render(xml, source, depth)) return image;
        if (const std::optional<Layer> fromLayer = layer(found, source, depth))
            if (const QImage* image = std::get_if<QImage>(&*fromLayer)) return *image;
    }
    return std::nullopt;
}

std::optional<Layer> layer(const QList<Element>& elements, IconSource& source, int depth) {
    for (const Element& element : elements) {
        for (const QString& name : {u"drawable"_s, u"src"_s}) {
            const auto attr = element.attrs.constFind(name);
            if (attr == element.attrs.cend()) continue;
            if (isColorType(attr->type)) return colorFromARGB(attr->data);
            if (attr->type != referenceType) continue;
            if (const std::optional<quint32> system = systemColor(attr->data)) return colorFromARGB(*system);
            if (const std::optional<QColor> color = firstColor(source.entries(attr->data))) return *color;
            if (std::optional<QImage> image = render(attr->data, source, depth + 1)) return *image;
        }
    }
    return std::nullopt;
}

std::optional<QImage> adaptive(const QList<Element>& elements, IconSource& source, int depth) {
    enum class Section { none, background, foreground, monochrome };
    Section section = Section::none;
    QList<Element> background, foreground;
    for (const Element& element : elements.mid(1)) {
        if (element.name == u"background"_s)
            section = Section::background;
        else if (element.name == u"foreground"_s)
            section = Section::foreground;
        else if (element.name == u"monochrome"_s)
            section = Section::monochrome;
        if (section == Section::background) background.append(element);
        if (section == Section::foreground) foreground.append(element);
    }
    const std::optional<Layer> back = layer(background, source, depth);
    const std::optional<Layer> front = layer(foreground, source, depth);
    if (!back || !front)
        VantleLog::main().write(
            IconTrace::adaptiveLine(back.has_value(), front.has_value(), background, foreground, source));
    if (!back && !front) return std::nullopt;

    QImage canvas = blankCanvas();
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    for (const std::optional<Layer>& part : {back, front}) {
        if (!part) continue;
        if (const QColor* color = std::get_if<QColor>(&*part)) {
            painter.fillRect(canvas.rect(), *color);
        } else {
            // The layer is 108 units with the visible 72 in the middle: 288 px shows 192.
            painter.drawImage(QRectF(-48, -48, 288, 288), std::get<QImage>(*part));
        }
    }
    painter.end();
    return canvas;
}

} // namespace APKIconExtractor
