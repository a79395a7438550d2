#include "runtime/HostDescription.h"

#include <QtGlobal>

using namespace Qt::Literals::StringLiterals;

const HostDescription& HostDescription::current() {
#if defined(Q_OS_MACOS) && defined(Q_PROCESSOR_ARM_64)
    static const HostDescription host{u"macosx"_s, {u"aarch64"_s, u"arm64"_s}, u"arm64-v8a"_s, u"arm64"_s};
#elif defined(Q_PROCESSOR_ARM_64)
    static const HostDescription host{u"linux"_s, {u"aarch64"_s, u"arm64"_s}, u"arm64-v8a"_s, u"arm64"_s};
#else
    static const HostDescription host{u"linux"_s, {u"x64"_s}, u"x86_64"_s, u"x86_64"_s};
#endif
    return host;
}
