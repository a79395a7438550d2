// Opening Settings from the panel and switching its pages, on an X server of the program's own.
// Targets on a 2-core machine: the first page shown within 100 ms of opening, a page switch within
// 30 ms (each including the repaint).
#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "support/PrivateXServer.h"
#include "support/TestSupport.h"
#include "ui/InertActions.h"
#include "ui/MenuPanel.h"
#include "ui/SettingsView.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QToolButton>
#include <benchmark/benchmark.h>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// The App lock page lists the apps as unlocked.
struct UnlockedActions final : InertLauncherActions {
    std::optional<bool> isLocked(const QUuid&) const override { return false; }
};

// A panel with twenty apps, shown on the screen with its apps.
struct ShownPanel {
    ScopedSettings settings;
    AppLibraryStore store;
    UnlockedActions actions;
    InertSettingsActions settingsActions;
    AppIconStore icons{[](const QUuid&, const QString&, MobilePlatform) { return std::nullopt; }};
    std::unique_ptr<MenuPanel> panel;

    ShownPanel() {
        QList<MobileApp> apps;
        for (int i = 0; i < 20; ++i) {
            MobileApp app;
            app.id = QUuid::createUuid();
            app.name = u"App %1"_s.arg(i);
            app.sourcePath = u"/apks/app%1.apk"_s.arg(i);
            apps.append(app);
        }
        store.setApps(apps);
        MenuPanel::Environment environment;
        environment.runtimeComplete = [] { return true; };
        environment.icons = &icons;
        environment.settings = &settingsActions;
        panel = std::make_unique<MenuPanel>(store, actions, environment);
        panel->resize(390, 760);
        panel->show();
        waitUntil([this] { return panel->isVisible(); });
        QCoreApplication::processEvents();
    }
};

// "Settings" chosen in a panel that has not shown them yet: the pages are made, the first one
// laid out and painted.
void BM_OpenSettingsFirstTime(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        ShownPanel shown;
        state.ResumeTiming();
        shown.panel->showSettings();
        shown.panel->repaint();
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (!shown.panel->isShowingSettings() || shown.panel->settingsView()->currentPage() != 0)
            state.SkipWithError("the first page is not shown");
        shown.panel.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenSettingsFirstTime)->Unit(benchmark::kMillisecond)->Iterations(20);

// Settings opened again after "Done": the pages exist and are read again from the settings.
void BM_OpenSettingsAgain(benchmark::State& state) {
    ShownPanel shown;
    shown.panel->showSettings();
    for (auto _ : state) {
        shown.panel->showLauncher();
        shown.panel->showSettings();
        shown.panel->repaint();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_OpenSettingsAgain)->Unit(benchmark::kMillisecond)->Iterations(20);

// A click on the next tab: the page is shown, remembered and painted.
void BM_SwitchPage(benchmark::State& state) {
    ShownPanel shown;
    shown.panel->showSettings();
    SettingsView* view = shown.panel->settingsView();
    int page = 0;
    for (auto _ : state) {
        page = (page + 1) % int(SettingsView::pageTitles().size());
        view->pageButton(page)->click();
        shown.panel->repaint();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_SwitchPage)->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace

int main(int argc, char** argv) {
    const PrivateXServer display;
    if (!display.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    // The wallpaper, login entry and Android versions of a home of its own.
    const QTemporaryDir home;
    qputenv("VANTLE_HOME", home.path().toUtf8());
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
