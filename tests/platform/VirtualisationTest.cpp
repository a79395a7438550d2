// The virtualisation check against real device files at injected paths.
#include "platform/Virtualisation.h"

#include "support/DeviceFiles.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <pwd.h>

using namespace Qt::Literals::StringLiterals;
using Status = Virtualisation::Status;

TEST(VirtualisationTest, TellsAMissingARefusedAndAUsableDeviceApart) {
    const MissingDevice missing;
    const RefusedDevice refused;
    const QString user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const struct {
        QString device;
        Status status;
        QString problem;
    } cases[] = {
        {missing.path, Status::missing,
         u"Android needs hardware virtualisation. /dev/kvm is missing: turn on virtualisation (VT-x/AMD-V) "
         u"in "
         u"the firmware settings, or enable nested virtualisation for this VM."_s},
        {refused.path, Status::notPermitted,
         u"Your user cannot use /dev/kvm: add it to the kvm group (sudo usermod -aG kvm "_s + user +
             u") and log in again."_s},
        {u"/dev/null"_s, Status::usable, {}}, // a device anyone may read and write
    };
    if (refused.path.isEmpty()) std::printf("note: may not mount here; the refused device was left out\n");
    for (const auto& c : cases) {
        if (c.device.isEmpty()) continue;
        SCOPED_TRACE(c.device.toStdString());
        EXPECT_EQ(Virtualisation::check(c.device), c.status);
        const ScopedEnvironment device("VANTLE_KVM_DEVICE", c.device);
        EXPECT_EQ(Virtualisation::hostProblem().value_or(QString()), c.problem);
    }
}
