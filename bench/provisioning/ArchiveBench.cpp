// Checking and unpacking a large SDK-sized archive: Vantle's SHA-1 (4 MiB reads) and its
// libarchive unpacker against `sha1sum` and `unzip` on the same file in the same run, with the
// peak memory of this process after each step. Size in MiB from VANTLE_BENCH_MB (default 1024).
// Run from a build folder: bench/provisioning/archive_bench.
#include "platform/ChildProcess.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/ArchiveUnpacker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <cstdint>
#include <cstdio>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 fileBytes = 64LL * 1024 * 1024;

long peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Files of 6-bit noise: deflate shrinks them by about a quarter, as it does real system images.
bool makeArchive(const QString& path, qint64 totalBytes) {
    archive* out = archive_write_new();
    archive_write_set_format_zip(out);
    archive_write_set_options(out, "zip:compression-level=1");
    if (archive_write_open_filename(out, QFile::encodeName(path).constData()) != ARCHIVE_OK) return false;
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (qint64 written = 0, index = 0; written < totalBytes; written += fileBytes, ++index) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(
            entry, QByteArray("x86_64/part-" + QByteArray::number(index) + ".img").constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, fileBytes);
        archive_write_header(out, entry);
        for (qint64 done = 0; done < fileBytes; done += chunk.size()) {
            for (char& byte : chunk) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = char(0x20 + (state & 0x3F));
            }
            archive_write_data(out, chunk.constData(), size_t(chunk.size()));
        }
        archive_entry_free(entry);
    }
    archive_write_close(out);
    archive_write_free(out);
    return true;
}

double seconds(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

void report(const char* name, double elapsed, qint64 bytes) {
    std::printf("%-28s %7.2f s  %8.1f MB/s  (peak RSS of this process %ld MiB)\n", name, elapsed,
                bytes / 1e6 / elapsed, peakRssMiB());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qint64 mebibytes =
        qEnvironmentVariableIsSet("VANTLE_BENCH_MB") ? qEnvironmentVariableIntValue("VANTLE_BENCH_MB") : 1024;
    QTemporaryDir folder;
    const QString zip = folder.filePath(u"x86_64-35_r07.zip"_s);
    std::printf("making a %lld MiB (uncompressed) archive…\n", mebibytes);
    std::fflush(stdout);
    if (!makeArchive(zip, mebibytes * 1024 * 1024)) return 1;
    const qint64 zipBytes = QFileInfo(zip).size();
    std::printf("archive: %.1f MB on disk; peak RSS after making it %ld MiB\n\n", zipBytes / 1e6,
                peakRssMiB());

    QString digest;
    report("Vantle sha1", seconds([&] { digest = AndroidRuntimeProvisioner::sha1(zip); }), zipBytes);
    ChildProcess::Result sha1sum;
    ChildProcess sha1Tool;
    sha1Tool.program = u"/usr/bin/sha1sum"_s;
    sha1Tool.arguments = {zip};
    report("sha1sum", seconds([&] { sha1sum = sha1Tool.run(); }), zipBytes);
    if (!sha1sum.standardOutput.startsWith(digest.toLatin1())) std::printf("  digests differ!\n");

    QString problem;
    report("Vantle unpack (libarchive)",
           seconds([&] { problem = ArchiveUnpacker::unpack(zip, folder.filePath(u"vantle"_s)); }), zipBytes);
    if (!problem.isEmpty()) std::printf("  unpack failed: %s\n", qPrintable(problem));
    ChildProcess unzip;
    unzip.program = u"/usr/bin/unzip"_s;
    unzip.arguments = {u"-q"_s, u"-o"_s, zip, u"-d"_s, folder.filePath(u"unzip"_s)};
    ChildProcess::Result unzipped;
    report("unzip", seconds([&] { unzipped = unzip.run(); }), zipBytes);
    if (unzipped.exitCode != 0) std::printf("  unzip exited %d\n", unzipped.exitCode);
    std::printf("\nMB/s are of the archive's size on disk. The uncompressed data is %lld MiB.\n", mebibytes);
    return 0;
}
