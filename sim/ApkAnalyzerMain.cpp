// The simulated apkanalyzer: "manifest application-id <apk>" prints the package name, as
// Google's command-line tool does; the name comes from Vantle's own manifest reader.
#include "apk/APKManifestReader.h"

#include <QFileInfo>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4 || std::string_view(argv[1]) != "manifest" ||
        std::string_view(argv[2]) != "application-id") {
        std::fputs("Usage: apkanalyzer manifest application-id <apk-file>\n", stderr);
        return 1;
    }
    const QString path = QString::fromLocal8Bit(argv[3]);
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr, "ERROR: File %s does not exist\n", argv[3]);
        return 1;
    }
    const std::optional<QString> package = APKManifestReader::packageName(path);
    if (!package || package->isEmpty()) {
        std::fprintf(stderr, "ERROR: Could not read the manifest of %s\n", argv[3]);
        return 1;
    }
    std::printf("%s\n", qPrintable(*package));
    return 0;
}
