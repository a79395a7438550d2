// Adding apps to the library as the panel and the command channel do, with the real APK reader:
//   adds in a row   distinct APK files (hard links to one fixture), one addFiles call each while
//                   the event loop runs; the time until all are in the library, and until they are
//                   on disk (the store closed, which writes whatever is still pending)
//   one big APK     an APK with 200,000 entries added to the panel's store: the longest time the
//                   main thread's event loop did not turn (the panel's stall), and the time until
//                   the entry was in the library
// Usage: library_add_bench [adds (default 1000; 0 for the big APK alone)]
// On a loaded machine the stall includes the time the main thread waited for a core.
#include "apk/ApkFile.h"
#include "core/AppLibraryStore.h"
#include "core/VantleSettings.h"
#include "platform/linux/SettingsFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString fixture = QStringLiteral(VANTLE_APK_FIXTURES "/densities.apk");

AppLibraryStore::Seams apkReaderSeams() {
    AppLibraryStore::Seams seams;
    seams.readApk = &ApkFile::read;
    return seams;
}

// Runs the event loop until `done` holds (or a minute passed); the longest gap between two turns
// of the loop, in milliseconds, goes to `longestStallMs`.
bool runUntil(const std::function<bool()>& done, double* longestStallMs = nullptr) {
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    double longest = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const double gap = sinceTurn.nsecsElapsed() / 1e6;
        if (getenv("STALLS") && gap > 50)
            std::printf("  stall %.0f ms ending at %.0f ms\n", gap, clock.nsecsElapsed() / 1e6);
        longest = std::max(longest, gap);
        sinceTurn.restart();
    });
    ticker.start();
    const QDeadlineTimer deadline(60'000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    longest = std::max(longest, sinceTurn.nsecsElapsed() / 1e6);
    if (longestStallMs) *longestStallMs = longest;
    return done();
}

// The fixture's own entries behind `fillers` one-byte entries, stored uncompressed.
bool writeBigApk(const QString& path, int fillers) {
    archive* in = archive_read_new();
    archive_read_support_format_zip(in);
    if (archive_read_open_filename(in, QFile::encodeName(fixture).constData(), 1 << 16) != ARCHIVE_OK)
        return false;
    QList<std::pair<QByteArray, QByteArray>> own;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(in, &entry) == ARCHIVE_OK) {
        QByteArray bytes(qsizetype(archive_entry_size(entry)), '\0');
        archive_read_data(in, bytes.data(), size_t(bytes.size()));
        own.append({QByteArray(archive_entry_pathname(entry)), bytes});
    }
    archive_read_free(in);

    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_set_format_option(zip, "zip", "compression", "store");
    bool ok = archive_write_open_filename(zip, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    const auto put = [&](const QByteArray& name, const QByteArray& bytes) {
        archive_entry* out = archive_entry_new();
        archive_entry_set_pathname(out, name.constData());
        archive_entry_set_size(out, bytes.size());
        archive_entry_set_filetype(out, AE_IFREG);
        archive_entry_set_perm(out, 0644);
        ok = ok && archive_write_header(zip, out) == ARCHIVE_OK &&
             archive_write_data(zip, bytes.constData(), size_t(bytes.size())) == bytes.size();
        archive_entry_free(out);
    };
    for (int i = 0; i < fillers && ok; ++i)
        put("assets/filler/" + QByteArray::number(i), "x");
    for (const auto& [name, bytes] : own)
        put(name, bytes);
    ok = archive_write_close(zip) == ARCHIVE_OK && ok;
    archive_write_free(zip);
    return ok;
}

void addsInARow(int count) {
    QTemporaryDir folder;
    QStringList apks;
    for (int i = 0; i < count; ++i) {
        const QString apk = folder.filePath(u"app-%1.apk"_s.arg(i));
        if (::link(QFile::encodeName(fixture).constData(), QFile::encodeName(apk).constData()) != 0) {
            std::printf("adds in a row: cannot link %s\n", qPrintable(apk));
            return;
        }
        apks.append(apk);
    }
    VantleSettings::install(std::make_shared<SettingsFile>(folder.filePath(u"settings.json"_s)));
    QElapsedTimer timer;
    timer.start();
    double addedMs = 0;
    {
        AppLibraryStore store(apkReaderSeams());
        // One call per file, each from the event loop, as commands arrive one by one.
        for (const QString& apk : apks)
            QTimer::singleShot(0, &store, [&store, apk] { store.addFiles({QUrl::fromLocalFile(apk)}); });
        if (!runUntil([&] { return store.apps().size() == count; })) {
            std::printf("adds in a row: only %lld of %d added\n", qlonglong(store.apps().size()), count);
            return;
        }
        addedMs = timer.nsecsElapsed() / 1e6;
    }
    const double savedMs = timer.nsecsElapsed() / 1e6;
    VantleSettings::install(std::make_shared<SettingsFile>(folder.filePath(u"settings.json"_s)));
    const qsizetype stored = AppLibraryStore(apkReaderSeams()).apps().size();
    VantleSettings::install(nullptr);
    std::printf(
        "%d adds in a row: all in the library after %.0f ms (%.2f ms per add), on disk after %.0f ms; "
        "%lld entries read back\n",
        count, addedMs, addedMs / count, savedMs, qlonglong(stored));
}

void bigApk(int entries) {
    QTemporaryDir folder;
    const QString apk = folder.filePath(u"big.apk"_s);
    if (!writeBigApk(apk, entries)) {
        std::printf("big APK: cannot write %s\n", qPrintable(apk));
        return;
    }
    VantleSettings::install(std::make_shared<SettingsFile>(folder.filePath(u"settings.json"_s)));
    {
        AppLibraryStore store(apkReaderSeams());
        QElapsedTimer timer;
        timer.start();
        QTimer::singleShot(0, &store, [&] { store.addFiles({QUrl::fromLocalFile(apk)}); });
        double stallMs = 0;
        const bool added = runUntil([&] { return !store.apps().isEmpty(); }, &stallMs);
        std::printf(
            "APK with %d entries: %s after %.0f ms; longest main-thread stall %.0f ms; status \"%s\"\n",
            entries, added ? "added" : "NOT added", timer.nsecsElapsed() / 1e6, stallMs,
            qPrintable(store.statusMessage()));
    }
    VantleSettings::install(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    const int adds = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (adds > 0) addsInARow(adds);
    bigApk(200'000);
    return 0;
}
