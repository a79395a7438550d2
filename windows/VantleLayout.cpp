#include "windows/VantleLayout.h"

#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"

#include <cmath>

namespace VantleLayout {

QSizeF size() {
    const std::optional<double> width = VantleSettings::readDouble(SettingsKeys::panelWidth.key());
    const std::optional<double> height = VantleSettings::readDouble(SettingsKeys::panelHeight.key());
    if (width && height && *width >= minimumSize.width() && *height >= minimumSize.height())
        return {*width, *height};
    return defaultSize;
}

void setSize(QSizeF size) {
    VantleSettings::set(SettingsKeys::panelWidth, std::round(size.width()));
    VantleSettings::set(SettingsKeys::panelHeight, std::round(size.height()));
}

} // namespace VantleLayout
