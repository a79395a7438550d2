#pragma once

#include "sim/screen/ScreenPainter.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <optional>

// The device's screen as its state describes it: the resumed app, and the touches and text that
// arrived through "input" (kept in the state's "screen" member for the app they were made in).
namespace DeviceScreen {

// The label the synthetic screen shows for a package: its last meaningful name part, capitalised.
QString labelFor(const QString& package);

ScreenState fromState(const QJsonObject& state);
// Adds a touch mark, typed text or key effects (back and home leave the app) to `state`.
void applyInput(QJsonObject& state, std::optional<QPoint> touch, const QString& typed,
                const QJsonArray& keycodes);
// The screen at the size the AVD's hardware gives (hw.lcd.width by hw.lcd.height).
QImage capture(const QJsonObject& state, const QJsonObject& runtime);

} // namespace DeviceScreen
