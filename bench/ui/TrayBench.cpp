// Ten tray items rebuilt after a library change, on an X server of the program's own with a real
// XEmbed tray (trayer). Target on a 2-core machine: under 20 ms per rebuild.
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "support/PrivateXServer.h"
#include "support/TestSupport.h"
#include "ui/AppWindows.h"
#include "ui/InertActions.h"
#include "ui/MenuBarExtras.h"

#include <QApplication>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int itemCount = 10;

struct NoWindows final : AppWindows {
    bool hasWindow(const QUuid&) const override { return false; }
    bool isVisible(const QUuid&) const override { return false; }
    void hide(const QUuid&) override {}
    void show(const QUuid&) override {}
    void close(const QUuid&) override {}
    std::optional<QUuid> first() const override { return std::nullopt; }
    void move(const QUuid&, QPoint) override {}
    void setPendingAnchor(const QRectF&) override {}
    void showHomePopup() override {}
};

// Ten pinned apps of twenty, shown in the tray.
struct PinnedLibrary {
    ScopedSettings settings;
    AppLibraryStore store;
    InertLauncherActions actions;
    NoWindows windows;
    AppIconStore icons;
    MenuBarExtras extras{store, actions, windows, icons};

    PinnedLibrary() {
        QList<MobileApp> apps;
        QList<QUuid> pinned;
        for (int i = 0; i < 2 * itemCount; ++i) {
            MobileApp app;
            app.id = QUuid::createUuid();
            app.name = u"App %1"_s.arg(i);
            app.sourcePath = u"/apks/app%1.apk"_s.arg(i);
            app.addedAt = QDateTime::currentDateTimeUtc();
            apps.append(app);
            if (i % 2 == 0) pinned.append(app.id);
        }
        store.setApps(apps);
        MenuBarExtras::setPinnedIDs(pinned);
        extras.attach();
        waitUntil([this] {
            for (const QUuid& id : extras.itemIDs())
                if (!extras.item(id)->geometry().isValid()) return false;
            return extras.itemIDs().size() == itemCount;
        });
    }
};

// A library change (one entry renamed; the store saves and signals) with the rebuild it causes and
// the items' repaint in the tray (the event loop's next turn).
void BM_LibraryChangeRebuildsTenItems(benchmark::State& state) {
    PinnedLibrary library;
    int round = 0;
    for (auto _ : state) {
        QList<MobileApp> apps = library.store.apps();
        apps[0].name = u"Renamed %1"_s.arg(++round);
        library.store.setApps(apps);
        QCoreApplication::processEvents();
    }
    state.counters["items"] = double(library.extras.itemIDs().size());
    QCoreApplication::processEvents();
}
BENCHMARK(BM_LibraryChangeRebuildsTenItems)->Unit(benchmark::kMillisecond)->Iterations(50);

// The rebuild alone: ten icons drawn and handed to their tray items.
void BM_RebuildTenItems(benchmark::State& state) {
    PinnedLibrary library;
    for (auto _ : state)
        library.extras.rebuild();
    QCoreApplication::processEvents();
}
BENCHMARK(BM_RebuildTenItems)->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace

int main(int argc, char** argv) {
    const PrivateXServer display;
    if (!display.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    QApplication application(argc, argv);
    QProcess tray;
    tray.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s, u"request"_s,
                             u"--height"_s, u"24"_s, u"--SetDockType"_s, u"false"_s});
    if (!waitUntil(&QSystemTrayIcon::isSystemTrayAvailable, 10000)) {
        std::fprintf(stderr, "trayer did not take the tray\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    tray.terminate();
    tray.waitForFinished(5000);
    return 0;
}
