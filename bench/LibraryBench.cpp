// The app library at 10,000 entries: loading, saving, searching and ordering.
// Targets on a 2-core machine: load + decode under 20 ms, one filter pass under 5 ms.
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "platform/linux/SettingsFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int entryCount = 10'000;

QList<MobileApp> library() {
    static const QStringList words{u"Notes"_s, u"Maps"_s, u"Chat"_s, u"Calendar"_s, u"Photo"_s, u"Music"_s,
                                   u"Weather"_s, u"Radio"_s, u"Books"_s, u"Clock"_s};
    QList<MobileApp> apps;
    for (int i = 0; i < entryCount; ++i) {
        MobileApp app;
        app.id = QUuid::createUuid();
        app.name = words[i % words.size()] + u' ' + words[(i / 10) % words.size()] + u"-v"_s + QString::number(i % 97) +
                   u".1"_s;
        app.sourcePath = u"/home/user/Downloads/apks/"_s + app.name + u".apk"_s;
        if (i % 3 == 0) app.bundleIdentifier = u"org.example.app"_s + QString::number(i);
        app.addedAt = QDateTime::currentDateTimeUtc().addSecs(-i);
        app.isFavorite = i % 17 == 0;
        apps.append(app);
    }
    return apps;
}

// A settings file holding the library, as Vantle finds it at start-up.
struct StoredLibrary {
    QTemporaryDir folder;
    QString path = folder.filePath(u"settings.json"_s);
    StoredLibrary() {
        auto file = std::make_shared<SettingsFile>(path);
        file->setValue(SettingsKeys::apps.key(), LibraryCoding::encode(library()));
    }
};

void OpenSettingsFile(benchmark::State& state) {
    StoredLibrary stored;
    for (auto _ : state) benchmark::DoNotOptimize(SettingsFile(stored.path).value(SettingsKeys::apps.key()));
}

void DecodeLibrary(benchmark::State& state) {
    const QByteArray json = LibraryCoding::encode(library());
    state.counters["bytes"] = double(json.size());
    for (auto _ : state) benchmark::DoNotOptimize(LibraryCoding::decode(json));
}

void LoadAndDecodeLibrary(benchmark::State& state) {
    StoredLibrary stored;
    for (auto _ : state) {
        SettingsFile file(stored.path);
        benchmark::DoNotOptimize(LibraryCoding::decode(file.value(SettingsKeys::apps.key()).toByteArray()));
    }
}

void SaveLibrary(benchmark::State& state) {
    StoredLibrary stored;
    auto file = std::make_shared<SettingsFile>(stored.path);
    VantleSettings::install(file);
    AppLibraryStore store;
    // Each pass changes one entry, so each save really encodes and rewrites the file (with fsync).
    for (auto _ : state) store.toggleFavorite(store.apps().first());
    VantleSettings::install(nullptr);
}

void StartStoreWithLibrary(benchmark::State& state) {
    StoredLibrary stored;
    for (auto _ : state) {
        VantleSettings::install(std::make_shared<SettingsFile>(stored.path));
        AppLibraryStore store; // loads, decodes and saves back, as at start-up
        benchmark::DoNotOptimize(store.apps().size());
    }
    VantleSettings::install(nullptr);
}

void FilterLibrary(benchmark::State& state) {
    StoredLibrary stored;
    VantleSettings::install(std::make_shared<SettingsFile>(stored.path));
    AppLibraryStore store;
    store.setHiddenForShots({u"beta"_s});
    store.setSearch(u"cal"_s);
    for (auto _ : state) benchmark::DoNotOptimize(store.filteredApps());
    VantleSettings::install(nullptr);
}

void OrderLibrary(benchmark::State& state) {
    StoredLibrary stored;
    VantleSettings::install(std::make_shared<SettingsFile>(stored.path));
    AppLibraryStore store;
    for (auto _ : state) benchmark::DoNotOptimize(store.orderedApps());
    VantleSettings::install(nullptr);
}

BENCHMARK(OpenSettingsFile)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadAndDecodeLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(StartStoreWithLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(FilterLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(OrderLibrary)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
