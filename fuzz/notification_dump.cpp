// The reader of Android's notification dump, on the input as the device's text output (UTF-8).
// What it returns must keep its caps and only hold records with a key and a title or a text.
#include "integrations/AndroidNotifications.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<AndroidNotification> list = AndroidNotifications::parse(text);
    if (list.size() > AndroidNotifications::maxNotifications) std::abort();
    for (const AndroidNotification& n : list) {
        if (n.key.isEmpty() || (n.title.isEmpty() && n.text.isEmpty())) std::abort();
        if (n.title.size() > AndroidNotifications::maxFieldChars ||
            n.text.size() > AndroidNotifications::maxFieldChars)
            std::abort();
    }
    return 0;
}
