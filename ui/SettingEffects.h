#pragma once

#include <QString>
#include <QVariant>

// What a change of a setting does at once, whoever changed it (a settings page or an automation
// command): the device settings are carried into a running Android on the Android pool, the idle
// shutdown is timed again, and an in-process event named after the key is posted so that the parts
// that show or use the setting (the panel's theme and wallpaper, the global keys) follow it.
// Main thread.
namespace SettingEffects {

// Stores `value` under `key`, then applies it. Returns why the value could not be stored durably,
// or nothing (the value is in effect either way, like every setting).
QString change(const QString& key, const QVariant& value);
// Applies the value already stored under `key`.
void apply(const QString& key);

} // namespace SettingEffects
