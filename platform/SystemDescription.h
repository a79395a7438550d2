#pragma once

#include <QString>

// What a bug report says about the computer.
namespace SystemDescription {

// The operating system as its maker names it ("Debian GNU/Linux 12 (bookworm)").
QString operatingSystem();
// The computer's maker and model as its firmware names them ("LENOVO 20XW"); "unknown" when the
// firmware does not say.
QString hardwareModel();

} // namespace SystemDescription
