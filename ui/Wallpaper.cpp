#include "ui/Wallpaper.h"

#include "core/SettingsKeys.h"
#include "platform/Locations.h"
#include "ui/SettingEffects.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace Wallpaper {

namespace {
// Larger photos are scaled down: the panel is a few hundred pixels wide.
constexpr int maximumSide = 2048;
} // namespace

QString photoPath() {
    return Locations::applicationSupport() + u"/wallpaper.png"_s;
}

bool hasPhoto() {
    return QFileInfo(photoPath()).isFile();
}

std::optional<QString> adopt(const QString& file) {
    QImageReader reader(file);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return u"“"_s + QFileInfo(file).fileName() + u"” is not a photo Vantle can read ("_s +
               reader.errorString() + u")."_s;
    if (image.width() > maximumSide || image.height() > maximumSide)
        image = image.scaled(maximumSide, maximumSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QDir().mkpath(Locations::applicationSupport());
    // Written whole or not at all: the photo shown so far stays until the new one is complete.
    QSaveFile out(photoPath());
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit())
        return u"The photo could not be saved: "_s + out.errorString();
    SettingEffects::change(SettingsKeys::wallpaperRevision.key(),
                           VantleSettings::get(SettingsKeys::wallpaperRevision) + 1);
    SettingEffects::change(SettingsKeys::wallpaper.key(), QString(photo));
    return std::nullopt;
}

QImage current() {
    if (VantleSettings::get(SettingsKeys::wallpaper) != photo) return {};
    return QImage(photoPath());
}

} // namespace Wallpaper
