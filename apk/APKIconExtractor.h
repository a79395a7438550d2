#pragma once

#include "apk/ApkArchive.h"
#include "apk/BinaryXml.h"
#include "apk/ResourceTable.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <memory>
#include <optional>
#include <variant>

// An app's label and launcher icon, resolved from its manifest through resources.arsc: the best
// configuration of the icon resource is chosen (any bitmap beats XML; the highest density wins,
// the earlier one on ties), adaptive icons are composed and vector drawables rendered onto one
// 192 x 192 canvas. Safe from any thread (no widgets, no fonts); never throws: every failure falls
// through to the next candidate and finally to nothing.
namespace APKIconExtractor {

inline constexpr int canvasSide = 192;
// A transparent canvas, premultiplied ARGB, 8 bits per channel.
QImage blankCanvas();
// 0xAARRGGBB as a colour.
QColor colorFromARGB(quint32 argb);
// The first image of a PNG, JPEG or WebP file; a null image for anything undecodable or for an
// image needing more than 64 MiB decoded (an icon is at most a few hundred pixels a side).
QImage decodeImage(const QByteArray& bytes);

// One icon resolution's inputs, and the work it may still do. References can form cycles and
// fan out (every element of a drawable may name another drawable), so besides the depth limit
// the whole resolution is held to a fixed number of renders, table lookups and file reads.
class IconSource {
public:
    static constexpr int maxDepth = 3;
    static constexpr int maxRenders = 64;
    static constexpr int maxLookups = 1024;
    static constexpr int maxReads = 256;

    // `archive` is the APK already open, if the caller has it; otherwise it is opened on the
    // first read, once for the whole resolution.
    IconSource(QString apkPath, QByteArray arsc, std::unique_ptr<ApkArchive> archive = nullptr);

    const QString& apk() const { return m_apk; }
    const QByteArray& arsc() const { return m_arsc; }
    // `entries(arsc, id)`, remembered per id; empty once the lookup budget is spent.
    QList<Entry> entries(quint32 id);
    // One file of the APK; none once the read budget is spent.
    std::optional<QByteArray> read(const QString& entryName);
    QHash<QString, QByteArray> readMany(const QSet<QString>& entryNames);
    // Takes one render from the budget; false when none is left.
    bool spendRender();
    // The file the outermost render drew from, for telling users where an icon came from.
    const std::optional<Entry>& chosen() const { return m_chosen; }
    void choose(const Entry& entry, int depth) {
        if (depth == 0) m_chosen = entry;
    }
    // The file's own bytes when the outermost render returned a PNG file as it is, so that it
    // need not be encoded again.
    const std::optional<QByteArray>& chosenPNG() const { return m_chosenPNG; }
    void choosePNG(const QByteArray& bytes, int depth) {
        if (depth == 0 && bytes.startsWith("\x89PNG")) m_chosenPNG = bytes;
    }

private:
    ApkArchive& archive();

    QString m_apk;
    QByteArray m_arsc;
    std::unique_ptr<ApkArchive> m_archive;
    QHash<quint32, QList<Entry>> m_entries;
    int m_rendersLeft = maxRenders;
    int m_readsLeft = maxReads;
    std::optional<Entry> m_chosen;
    std::optional<QByteArray> m_chosenPNG;
};

// A layer of an adaptive icon: a bitmap or a flat colour.
using Layer = std::variant<QImage, QColor>;

// The application's label: the literal text, or the first string value of the referenced resource.
std::optional<QString> label(const QString& apkPath);
// The launcher icon ("icon", then "roundIcon") as PNG bytes. Logs an "icon trace" line on failure.
std::optional<QByteArray> iconPNG(const QString& apkPath);
// The same, with where it came from: "icon 0x7F020000 res/mipmap-xxxhdpi-v4/ic_launcher.png (640 dpi)".
struct IconChoice {
    QByteArray png;
    QString origin;
};
std::optional<IconChoice> chooseIcon(const QString& apkPath);

// Package, label and icon together, reading the manifest and the table once: what a tool
// inspecting many APKs wants.
struct Summary {
    std::optional<QString> package;
    std::optional<QString> label;
    std::optional<IconChoice> icon;
};
Summary summarize(const QString& apkPath);

// The drawable `id` as an image; none past depth 3 (which stops reference cycles).
std::optional<QImage> render(quint32 id, IconSource& source, int depth);
// The elements of an adaptive-icon file, composed: background, then foreground, showing the
// central two thirds of each layer. None when neither layer resolves.
std::optional<QImage> adaptive(const QList<Element>& elements, IconSource& source, int depth);
// The first "drawable" or "src" of the elements that resolves to a colour or an image.
std::optional<Layer> layer(const QList<Element>& elements, IconSource& source, int depth);

} // namespace APKIconExtractor
