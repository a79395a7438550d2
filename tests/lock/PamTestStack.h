#pragma once

#include "platform/CurrentUser.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

// The PAM stack of the lock tests: pam_wrapper's pam_matrix, with one entry in its password file
// (the current user and `pamTestPassword`), for the service "vantle"; no other service exists.
//
// pam_wrapper takes over libpam only when it is preloaded as the program starts, and it reads its
// service folder once: a test program started without it makes the folder and starts itself again
// with both, before main(). The folder goes when that second run ends. For the sanitizers the
// wrapper comes first in the preload list, and its deep binding is off, which would hide their
// interceptors from libpam.
inline constexpr const char* pamTestPassword = "correct horse äß€";

namespace PamTestStack {

// Removes the service folder when the preloaded run ends.
struct FolderRemoval {
    ~FolderRemoval() { QDir(qEnvironmentVariable("VANTLE_PAM_TEST_FOLDER")).removeRecursively(); }
};

inline bool preload() {
    const QByteArray preloaded = qgetenv("LD_PRELOAD");
    if (preloaded.contains("pam_wrapper")) {
        static FolderRemoval removal;
        return true;
    }
    char folderTemplate[] = "/tmp/vantle-pam-XXXXXX";
    if (!::mkdtemp(folderTemplate)) return false;
    const QByteArray base = folderTemplate;
    const QByteArray user = CurrentUser::loginName().value_or(QString()).toUtf8();
    writeFile(QString::fromUtf8(base + "/passdb"), user + ':' + pamTestPassword + ":vantle\n");
    const QByteArray module = VANTLE_PAM_MATRIX " passdb=" + base + "/passdb";
    writeFile(QString::fromUtf8(base + "/services/vantle"),
               "auth required " + module + "\naccount required " + module + '\n');

    qputenv("LD_PRELOAD", VANTLE_PAM_WRAPPER + (preloaded.isEmpty() ? QByteArray() : ':' + preloaded));
    qputenv("PAM_WRAPPER", "1");
    qputenv("PAM_WRAPPER_SERVICE_DIR", base + "/services");
    qputenv("PAM_WRAPPER_DISABLE_DEEPBIND", "1");
    qputenv("UID_WRAPPER_DISABLE_DEEPBIND", "1"); // the name pam_wrapper 1.1.4 actually reads
    qputenv("VANTLE_PAM_TEST_FOLDER", base);
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    QList<QByteArray> arguments = readFile(QStringLiteral("/proc/self/cmdline")).split('\0');
    arguments.removeLast(); // after the last argument's terminator
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    return false; // exec failed: the tests say so
}

} // namespace PamTestStack

inline const bool pamWrapperPreloaded = PamTestStack::preload();
