#include "core/VantleApp.h"

#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "core/VantleLog.h"
#include "platform/Locations.h"
#include "platform/ProcessLedger.h"

#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int openAppDelayMs = 500;

void run(const std::function<void()>& step) {
    if (step) step();
}
} // namespace

VantleApp::VantleApp(LaunchArguments arguments, AppLibraryStore::Seams seams, Steps steps, QObject* parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_steps(std::move(steps))
    , m_store(std::move(seams)) // loads the library and saves it back
{
    if (m_arguments.launchApk && m_steps.launchApk) m_steps.launchApk(*m_arguments.launchApk);
}

VantleApp::~VantleApp() = default;

bool VantleApp::start() {
    EventCenter& events = EventCenter::shared();
    events.observe(VantleEvent::runtimeChanged, this,
                   [this](const QVariantMap&) { m_store.setAndroidState(AndroidState::sleeping); });
    run(m_steps.refreshAndroidState);

    run(m_steps.endLeftoverDisplayServers);
    if (m_steps.prepareRunningAndroid) {
        // An Android left running by an earlier run stops after the idle time, like one whose last
        // window closed.
        (void)m_steps.prepareRunningAndroid().then(this, [this](bool wasRunning) {
            if (wasRunning) run(m_steps.scheduleIdleShutdown);
        });
    }

    registerCommands();
    auto listening = listenForCommands([this](const QString& command) { m_commands.dispatch(command); });
    m_listener = std::move(listening.listener);
    if (!m_listener) VantleLog::main().write(u"command channel unavailable: "_s + listening.error);

    if (VantleSettings::get(SettingsKeys::snapshots) && m_steps.writeSnapshots)
        QTimer::singleShot(1000, this, m_steps.writeSnapshots);

    m_store.refreshAndroidNames();
    run(m_steps.attachIntegrations);

    events.observe(VantleEvent::openAppRequest, this,
                   [this](const QVariantMap& info) { openRequested(info); });
    run(m_steps.registerHotKeyAndLoginItem);

    if (m_arguments.openApp) {
        QTimer::singleShot(openAppDelayMs, this, [this, text = *m_arguments.openApp] {
            if (auto app = entryMatching(text))
                launch(*app);
            else
                VantleLog::main().write(u"open-app: no library entry matches "_s + VantleLog::escaped(text));
        });
    }
    return m_listener != nullptr;
}

void VantleApp::quit() {
    m_listener.reset();
    m_store.writePendingSave(); // before anything slow: stopping Android may outlast the user's patience
    run(m_steps.closeAllWindows);
    if (VantleSettings::flag(SettingsKeys::stopAndroidOnQuit.key(), true) && m_steps.stopAndroid)
        m_steps.stopAndroid(u"Vantle quit"_s);
}

std::optional<MobileApp> VantleApp::entryMatching(const QString& text) const {
    for (const MobileApp& app : m_store.apps())
        if (app.name.contains(text, Qt::CaseInsensitive) ||
            app.sourcePath.contains(text, Qt::CaseInsensitive))
            return app;
    return std::nullopt;
}

void VantleApp::openRequested(const QVariantMap& userInfo) {
    const QVariant id = userInfo.value(u"id"_s);
    if (id.typeId() != QMetaType::QString) return;
    const QUuid uuid = QUuid::fromString(id.toString());
    if (uuid.isNull()) return;
    if (auto app = m_store.app(uuid)) launch(*app);
}

void VantleApp::launch(const MobileApp& app) {
    if (m_steps.launch)
        m_steps.launch(app);
    else
        VantleLog::main().write(u"open unavailable app="_s + VantleLog::escaped(app.name) +
                                u" reason=no Android support built in"_s);
}

void VantleApp::registerCommands() {
    m_commands.onPrefix(u"add:"_s,
                        [this](const QString& path) { m_store.addFiles({QUrl::fromLocalFile(path)}); });
    m_commands.onPrefix(u"hide-apps:"_s, [this](const QString& names) {
        m_store.setHiddenForShots(names.split(u',', Qt::SkipEmptyParts));
    });
    // A setting changed here is announced as the event named after its key, as the settings pages
    // do, so that what shows it (the panel) follows.
    const auto setAndAnnounce = [](const SettingKey<QLatin1StringView>& key, const QString& value) {
        VantleSettings::set(key, value);
        EventCenter::shared().post(key.name);
    };
    m_commands.onPrefix(
        u"theme:"_s, [setAndAnnounce](const QString& style) { setAndAnnounce(SettingsKeys::theme, style); });
    m_commands.onPrefix(u"wallpaper:"_s,
                        [setAndAnnounce](const QString& id) { setAndAnnounce(SettingsKeys::wallpaper, id); });
    m_commands.onPrefix(u"open:"_s, [this](const QString& name) {
        if (auto app = entryMatching(name)) launch(*app);
    });
    m_commands.on(u"close-all"_s, [this] { run(m_steps.closeAllWindows); });
    if (m_steps.writeSnapshots) m_commands.on(u"snapshot-menu"_s, m_steps.writeSnapshots);
    // The settings are a page of the panel: both open it there ("home" itself belongs to the panel).
    for (const QString& command : {u"settings"_s, u"home-settings"_s})
        m_commands.on(command, [] { EventCenter::shared().post(VantleEvent::showSettingsPage); });
}

void endLeftoverHostDisplayServers() {
    const int ended = ProcessLedger::endRecorded(Locations::serverLedger());
    if (ended > 0) VantleLog::main().write(u"ended %1 leftover display servers"_s.arg(ended));
}
