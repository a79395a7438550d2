// The virtualisation check against real device files at injected paths.
#include "platform/Virtualisation.h"

#include "support/DeviceFiles.h"

#include <QList>
#include <cstdio>
#include <gtest/gtest.h>
#include <pwd.h>

using namespace Qt::Literals::StringLiterals;
using Status = Virtualisation::Status;

namespace {

QString loginName() {
    return QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
}

TEST(VirtualisationTest, TellsAMissingARefusedAndAUsableDeviceApart) {
    const MissingDevice missing;
    const RefusedDevice refused;
    struct Case {
        QString device;
        Status status;
        QString problem;
    };
    QList<Case> cases{
        {missing.path, Status::missing,
         u"Android needs hardware virtualisation. /dev/kvm is missing: turn on virtualisation (VT-x/AMD-V) "
         u"in the "
         u"firmware settings, or enable nested virtualisation for this VM."_s},
        {refused.path, Status::notPermitted,
         u"Your user cannot use /dev/kvm: add it to the kvm group (sudo usermod -aG kvm "_s + loginName() +
             u") and log in again."_s},
        // A character device anyone may read and write, as /dev/kvm is for a member of its group.
        {u"/dev/null"_s, Status::usable, {}},
    };
    if (refused.path.isEmpty()) { // root without the right to mount: nothing refuses it
        cases.removeAt(1);
        std::printf("note: no device could be made that refuses this user; that case was not run\n");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device.toStdString());
        EXPECT_EQ(Virtualisation::check(c.device), c.status);
        EXPECT_EQ(Virtualisation::problem(c.status), c.problem);
        const ScopedEnvironment device("VANTLE_KVM_DEVICE", c.device);
        EXPECT_EQ(Virtualisation::hostProblem().value_or(QString()), c.problem);
    }
}

TEST(VirtualisationTest, TheHostDeviceIsDevKvmUnlessInjected) {
    {
        const ScopedEnvironment injected("VANTLE_KVM_DEVICE", u"/tmp/elsewhere"_s);
        EXPECT_EQ(Virtualisation::devicePath(), u"/tmp/elsewhere"_s);
    }
    const ScopedEnvironment unset("VANTLE_KVM_DEVICE", QString());
    EXPECT_EQ(Virtualisation::devicePath(), u"/dev/kvm"_s);
}

} // namespace
