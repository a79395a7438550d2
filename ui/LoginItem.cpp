#include "ui/LoginItem.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "platform/LoginRegistration.h"

#include <QCoreApplication>

using namespace Qt::Literals::StringLiterals;

namespace LoginItem {

bool isEnabled() {
    return LoginRegistration::status() == LoginRegistration::Status::enabled;
}

std::optional<QString> set(bool enabled) {
    const std::optional<QString> error =
        enabled ? LoginRegistration::enable(QCoreApplication::applicationFilePath())
                : LoginRegistration::disable();
    if (!error) return std::nullopt;
    VantleLog::main().write(u"open at login set enabled="_s + (enabled ? u"true"_s : u"false"_s) +
                            u" failed: "_s + *error);
    return u"Your desktop did not allow this: "_s + *error;
}

void enableByDefaultOnce() {
    if (!VantleSettings::get(SettingsKeys::loginItemDefaulted)) {
        VantleSettings::set(SettingsKeys::loginItemDefaulted, true);
        if (!isEnabled()) set(true);
    }
    const LoginRegistration::Status status = LoginRegistration::status();
    VantleLog::main().write(u"open at login enabled="_s +
                            (status == LoginRegistration::Status::enabled ? u"true"_s : u"false"_s) +
                            u" status="_s + LoginRegistration::statusName(status));
}

} // namespace LoginItem
