// A child process for the instance-lock tests: takes the lock of its VANTLE_HOME, prints "held" or
// "refused", and keeps the lock until it is killed.
#include "platform/InstanceLock.h"

#include <cstdio>
#include <unistd.h>

int main() {
    const InstanceLock lock = InstanceLock::acquire();
    std::puts(lock.isHeld() ? "held" : "refused");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
