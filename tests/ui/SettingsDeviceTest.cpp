// The Android page's controls against the simulated Android, read back from the device and its
// configuration; the version picker follows what is installed and "Delete" removes a version.
#include "RecordingLauncherActions.h"
#include "RecordingSettingsActions.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "openapp/OpenAppFlow.h"
#include "provisioning/AndroidVersions.h"
#include "support/SimulatedAndroid.h"
#include "ui/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

QString onDevice(const QString& command) {
    return offThread([command] {
               return AndroidRuntimeCLI::runADB({u"shell"_s, command});
           })
        .value_or(u"(adb failed)"_s)
        .trimmed();
}

QString avdConfig() {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    return QString::fromUtf8(readFile(*paths.avdHome + u'/' + paths.avdName + u".avd/config.ini"_s));
}

TEST(SettingsDeviceTest, AndroidControlsReachTheDeviceAndTheVersionPickerFollowsWhatIsInstalled) {
    ScopedSettings settings;
    SimulatedAndroidHome android(35, 100);
    Coroutines::waitFor(AndroidRuntimeCLI::ensureRuntime());
    AppLibraryStore store;
    RecordingLauncherActions launcher;
    RecordingSettingsActions actions;
    SettingsView view(store, launcher, actions);

    struct Row {
        QLatin1StringView key;
        QVariant value;                    // a switch is clicked once, a choice is picked
        std::function<QString()> readBack; // from the device or its configuration
        QString expected;
    };
    const auto config = [](const QString& line) {
        return [line] { return avdConfig().split(u'\n').contains(line) ? line : avdConfig(); };
    };
    const auto device = [](const QString& command) { return [command] { return onDevice(command); }; };
    // Each control's change reaches Android at once (what each value does there: RuntimeDeviceTest).
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark); // the desktop as the command sets it
    const Row rows[] = {
        {SettingsKeys::adBlock.name, false, device(u"settings get global private_dns_mode"_s),
         u"opportunistic"_s},
        {SettingsKeys::adBlock.name, true, device(u"settings get global private_dns_mode"_s), u"hostname"_s},
        {SettingsKeys::adBlockHost.name, AndroidAdBlock::providers()[2].host,
         device(u"settings get global private_dns_specifier"_s), AndroidAdBlock::providers()[2].host},
        // Off leaves Android as it is; on carries the desktop's dark mode over.
        {SettingsKeys::syncDarkMode.name, false, device(u"cmd uimode night"_s), u"Night mode: no"_s},
        {SettingsKeys::syncDarkMode.name, true, device(u"cmd uimode night"_s), u"Night mode: yes"_s},
        {SettingsKeys::micCamera.name, true, config(u"hw.audioInput=yes"_s), u"hw.audioInput=yes"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QString(row.key).toStdString() + " " + row.value.toString().toStdString());
        const QString key(row.key);
        if (auto* box = view.findChild<QCheckBox*>(key)) {
            if (box->isChecked() != row.value.toBool()) box->click();
        } else {
            auto* combo = view.findChild<QComboBox*>(key);
            ASSERT_NE(combo, nullptr);
            combo->setCurrentIndex(combo->findData(row.value));
            Q_EMIT combo->activated(combo->currentIndex());
        }
        EXPECT_EQ(VantleSettings::store().value(key), row.value);
        EXPECT_TRUE(waitUntil([&] { return row.readBack() == row.expected; }, 5000))
            << row.readBack().toStdString();
    }
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::none);

    // Only Android 15 is here: the others need a download, and the current one cannot be deleted.
    auto* picker = view.findChild<QComboBox*>(SettingsKeys::androidAPI.key());
    const auto itemText = [picker](int api) { return picker->itemText(picker->findData(api)); };
    EXPECT_EQ(picker->currentText(), u"Android 15"_s);
    EXPECT_EQ(itemText(34), u"Android 14 (needs a download)"_s);
    EXPECT_EQ(view.findChildren<QPushButton*>(u"deleteVersion"_s).size(), 0);

    ASSERT_EQ(SimulatedAndroidHome::install(34), QString());
    view.show(); // shown again: the page reads what is installed
    EXPECT_EQ(itemText(34), u"Android 14"_s);
    const auto deletes = view.findChildren<QPushButton*>(u"deleteVersion"_s);
    ASSERT_EQ(deletes.size(), 1);
    EXPECT_EQ(deletes[0]->parentWidget()->objectName(), u"installedVersion34"_s);
    auto* confirm = view.findChild<QWidget*>(u"confirmDelete"_s);
    deletes[0]->click();
    EXPECT_FALSE(confirm->isHidden());
    view.findChild<QPushButton*>(u"cancelDeleteVersion"_s)->click();
    EXPECT_TRUE(confirm->isHidden());
    EXPECT_TRUE(AndroidVersions::installed().contains(34));

    OpenAppFlow flow(store);
    actions.onDelete = [&flow](int api) { flow.deleteAndroidVersion(api); };
    deletes[0]->click();
    view.findChild<QPushButton*>(u"confirmDeleteVersion"_s)->click();
    EXPECT_EQ(actions.calls, QStringList{u"deleteAndroidVersion 34"_s});
    EXPECT_EQ(AndroidVersions::installed(), QList<int>{35});
    EXPECT_TRUE(AndroidRuntimePaths::current().isComplete()); // the current one is untouched
    EXPECT_TRUE(view.findChildren<QPushButton*>(u"deleteVersion"_s).isEmpty());
    EXPECT_EQ(itemText(34), u"Android 14 (needs a download)"_s);

    // Picking another version asks the application to switch; picking the current one does nothing.
    actions.calls.clear();
    for (const int api : {35, 33}) {
        picker->setCurrentIndex(picker->findData(api));
        Q_EMIT picker->activated(picker->currentIndex());
    }
    EXPECT_EQ(actions.calls, QStringList{u"switchAndroidVersion 33"_s});
}

} // namespace
