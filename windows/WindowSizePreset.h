#pragma once

#include <QList>
#include <QString>

// The fixed sizes of an app window's video area (points, without the 36-point header) offered in
// the size menus. The index is the menu item's tag.
struct WindowSizePreset {
    QString name;
    int width = 0;
    int height = 0;

    // "Medium — 380 × 720"
    QString label() const;
    static const QList<WindowSizePreset>& all();
};
