#pragma once

#include "platform/CurrentUser.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
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

inline void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> ownArguments() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        arguments.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return arguments;
}

// Removes the service folder when the preloaded run ends.
struct FolderRemoval {
    ~FolderRemoval() {
        if (const char* folder = std::getenv("VANTLE_PAM_TEST_FOLDER"))
            QDir(QFile::decodeName(folder)).removeRecursively();
    }
};

inline bool preload() {
    const char* preloaded = std::getenv("LD_PRELOAD");
    if (preloaded && std::strstr(preloaded, "pam_wrapper")) {
        static FolderRemoval removal;
        return true;
    }
    char folderTemplate[] = "/tmp/vantle-pam-XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (!folder) return false;
    const std::string base = folder;
    ::mkdir((base + "/services").c_str(), 0700);
    const std::string user = CurrentUser::loginName().value_or(QString()).toStdString();
    write(base + "/passdb", user + ':' + pamTestPassword + ":vantle\n");
    const std::string module = std::string(VANTLE_PAM_MATRIX) + " passdb=" + base + "/passdb";
    write(base + "/services/vantle", "auth required " + module + "\naccount required " + module + '\n');

    std::string wanted = VANTLE_PAM_WRAPPER;
    if (preloaded && *preloaded) wanted += std::string(":") + preloaded;
    ::setenv("LD_PRELOAD", wanted.c_str(), 1);
    ::setenv("PAM_WRAPPER", "1", 1);
    ::setenv("PAM_WRAPPER_SERVICE_DIR", (base + "/services").c_str(), 1);
    ::setenv("PAM_WRAPPER_DISABLE_DEEPBIND", "1", 1);
    ::setenv("UID_WRAPPER_DISABLE_DEEPBIND", "1", 1); // the name pam_wrapper 1.1.4 actually reads
    ::setenv("VANTLE_PAM_TEST_FOLDER", folder, 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    std::vector<std::string> arguments = ownArguments();
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    return false; // exec failed: the tests say so
}

} // namespace PamTestStack

inline const bool pamWrapperPreloaded = PamTestStack::preload();
