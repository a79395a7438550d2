#pragma once

#include <QString>
#include <optional>

// Whether this computer lets Vantle's emulator use hardware virtualisation. An x86_64 Android
// image only boots with it; on Linux that is the KVM device, which must exist and be open for
// reading and writing to the user. A cheap check (one open), fine on the main thread.
namespace Virtualisation {

enum class Status { usable, missing, notPermitted };

// The device the emulator opens: /dev/kvm, or VANTLE_KVM_DEVICE (tests point it elsewhere).
QString devicePath();
Status check(const QString& device);
// What the user should do, in plain words with the fix; empty when the device is usable. The texts
// name /dev/kvm whatever device was checked: the emulator itself always opens that one.
QString problem(Status status);
// check() and problem() for devicePath(); nothing when it is usable.
std::optional<QString> hostProblem();

} // namespace Virtualisation
