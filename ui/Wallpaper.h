#pragma once

#include <QImage>
#include <QString>
#include <optional>

// The panel's wallpaper: "none", or "photo" for the user's photo, kept as a PNG copy in Vantle's
// own data folder so that moving or deleting the original changes nothing. Main thread.
namespace Wallpaper {

inline constexpr QLatin1StringView none{"none"};
inline constexpr QLatin1StringView photo{"photo"};

QString photoPath(); // the copy
bool hasPhoto();
// Makes `file` the user's photo: decodes it, stores the copy, selects "photo" and moves
// "VantleWallpaperRevision" on. A file that is no readable image changes nothing and comes back
// as the reason.
std::optional<QString> adopt(const QString& file);
// The image to show for the stored choice; a null image for "none" or a photo that went missing.
QImage current();

} // namespace Wallpaper
