#include "integrations/DeviceSettings.h"

#include "core/SettingsKeys.h"
#include "core/VantleLog.h"
#include "platform/DesktopAppearance.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QtConcurrent>

#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace {
void shell(const QString& command) { AndroidRuntimeCLI::runADB({u"shell"_s, command}); }
void log(const QString& line) { VantleLog::main().write(line); }
} // namespace

namespace AndroidAdBlock {

const QList<Provider>& providers() {
    static const QList<Provider> list{{u"AdGuard DNS"_s, u"dns.adguard-dns.com"_s},
                                      {u"Mullvad (ads + trackers)"_s, u"adblock.dns.mullvad.net"_s},
                                      {u"Cloudflare (malware only)"_s, u"security.cloudflare-dns.com"_s}};
    return list;
}

QString host() {
    const auto stored = VantleSettings::readString(SettingsKeys::adBlockHost.key());
    return stored && !stored->isEmpty() ? *stored : providers().first().host;
}

void apply() {
    if (VantleSettings::get(SettingsKeys::adBlock)) {
        const QString chosen = host();
        shell(u"settings put global private_dns_mode hostname"_s);
        shell(u"settings put global private_dns_specifier "_s + chosen);
        log(u"ad blocker: on ("_s + chosen + u')');
    } else {
        shell(u"settings put global private_dns_mode opportunistic"_s);
        shell(u"settings delete global private_dns_specifier"_s);
        log(u"ad blocker: off"_s);
    }
}

} // namespace AndroidAdBlock

namespace AndroidDarkMode {

namespace {
std::atomic<Override> override{Override::none};
constexpr int settleDelayMs = 400; // the preference is written a moment after the change signal
} // namespace

void setOverride(Override value) { override = value; }

bool desktopIsDark() {
    switch (override.load()) {
    case Override::dark:
        return true;
    case Override::light:
        return false;
    case Override::none:
        break;
    }
    return DesktopAppearance::prefersDark().value_or(false);
}

void apply() {
    if (!VantleSettings::get(SettingsKeys::syncDarkMode)) return;
    const QString night = desktopIsDark() ? u"yes"_s : u"no"_s;
    AndroidRuntimeCLI::runADB({u"shell"_s, u"cmd"_s, u"uimode"_s, u"night"_s, night});
    log(u"dark mode: android night="_s + night);
}

void startObserving(QObject* context) {
    DesktopAppearance::observe(context, [context] {
        QTimer::singleShot(settleDelayMs, context, [] { (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), apply); });
    });
}

} // namespace AndroidDarkMode

namespace AndroidVolume {

std::optional<int> maximumFromVolumeQuery(const QString& output) {
    static const QRegularExpression range(u"\\.\\.(\\d+)\\]"_s);
    const auto match = range.match(output);
    if (!match.hasMatch()) return std::nullopt;
    bool ok = false;
    const int maximum = match.captured(1).toInt(&ok);
    return ok ? std::optional(maximum) : std::nullopt;
}

void maximize() {
    for (int stream : {3, 5}) {
        const auto output = AndroidRuntimeCLI::runADB(
            {u"shell"_s, u"cmd media_session volume --stream %1 --get"_s.arg(stream)}, AndroidRuntimeCLI::probeTimeoutMs);
        const auto maximum = maximumFromVolumeQuery(output.value_or(QString()));
        if (!maximum) continue;
        shell(u"cmd audio set-volume %1 %2"_s.arg(stream).arg(*maximum));
        log(u"volume: stream %1 set to %2"_s.arg(stream).arg(*maximum));
    }
}

} // namespace AndroidVolume

namespace AndroidHardware {

QString withSettings(const QString& config, const QList<std::pair<QString, QString>>& settings) {
    QStringList lines = config.split(u'\n');
    for (const auto& [key, value] : settings) {
        const QString prefix = key + u'=';
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(prefix); });
        if (it != lines.end()) {
            *it = prefix + value;
        } else {
            // Keep a final newline final: the new line goes before the empty last piece.
            if (!lines.isEmpty() && lines.last().isEmpty()) lines.insert(lines.size() - 1, prefix + value);
            else lines.append(prefix + value);
        }
    }
    return lines.join(u'\n');
}

void apply(const AndroidRuntimePaths& paths) {
    const QString avdHome = paths.avdHome.value_or(QDir::homePath() + u"/.android/avd"_s);
    const QString path = avdHome + u'/' + paths.avdName + u".avd/config.ini"_s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QString config = QString::fromUtf8(file.readAll());
    file.close();

    const bool micCamera = VantleSettings::get(SettingsKeys::micCamera);
    const bool forwardAudio = VantleSettings::get(SettingsKeys::forwardAudio);
    const QString camera = micCamera ? u"webcam0"_s : u"none"_s;
    const QString updated = withSettings(config, {{u"hw.audioOutput"_s, forwardAudio ? u"no"_s : u"yes"_s},
                                                  {u"hw.audioInput"_s, micCamera ? u"yes"_s : u"no"_s},
                                                  {u"hw.camera.back"_s, camera},
                                                  {u"hw.camera.front"_s, camera}});
    if (updated == config) return;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return;
    out.write(updated.toUtf8());
    out.commit();
}

} // namespace AndroidHardware

void installDeviceSettingsBootHooks() {
    AndroidRuntimeCLI::setBootHooks({AndroidHardware::apply, AndroidDarkMode::apply, AndroidVolume::maximize,
                                     AndroidAdBlock::apply});
}
