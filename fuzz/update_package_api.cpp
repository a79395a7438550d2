// The update check's readers of untrusted input: the repositories' package API answer (the input
// as the HTTP body) and the device's package list with version codes (the input as UTF-8). An answer that is
// read must name a version: a non-empty name and a code a double holds.
#include "updates/UpdateRules.h"

#include <QCoreApplication>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("VANTLE_HOME", "/tmp/vantle-fuzz-home", 0);
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto update =
        UpdateRules::readPackageApi(bytes, QStringLiteral("org.example.app"), UpdateSource::izzy);
    if (update && (update->versionName.isEmpty() || update->versionCode > (qint64(1) << 53) ||
                   update->versionCode < -(qint64(1) << 53)))
        std::abort();
    (void)UpdateRules::readPackageList(QString::fromUtf8(bytes));
    return 0;
}
