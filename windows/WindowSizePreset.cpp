#include "windows/WindowSizePreset.h"

using namespace Qt::StringLiterals;

QString WindowSizePreset::label() const {
    return name + u" — "_s + QString::number(width) + u" × "_s + QString::number(height);
}

const QList<WindowSizePreset>& WindowSizePreset::all() {
    static const QList<WindowSizePreset> presets{
        {u"Widget"_s, 320, 420},      {u"Small"_s, 340, 600},     {u"Compact"_s, 360, 660},
        {u"Medium"_s, 380, 720},      {u"Tall"_s, 390, 840},      {u"Large"_s, 420, 880},
        {u"Extra Large"_s, 440, 920}, {u"Landscape"_s, 660, 420}, {u"Tablet"_s, 760, 1000}};
    return presets;
}
