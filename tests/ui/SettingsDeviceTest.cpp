// The Android page's controls read back from the simulated Android; the version picker and "Delete".
#include "RecordingLauncherActions.h"
#include "RecordingSettingsActions.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/WaitFor.h"
#include "integrations/DeviceSettings.h"
#include "openapp/OpenAppFlow.h"
#include "provisioning/AndroidVersions.h"
#include "sim/AvdConfig.h"
#include "support/SimulatedAndroid.h"
#include "ui/SettingsView.h"

#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the device answers to a shell `command`; "config:<key>" reads the key from its configuration.
QString readBack(const QString& command) {
    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    if (command.startsWith(u"config:"_s))
        return AvdConfig::load(*paths.avdHome, paths.avdName).value_or(AvdConfig{}).value(command.mid(7));
    return offThread([command] {
               return AndroidRuntimeCLI::runADB({u"shell"_s, command});
           })
        .value_or(u"(adb failed)"_s)
        .trimmed();
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
        QVariant value;            // a switch is clicked once, a choice is picked
        QString command, expected; // read back from the device or its configuration
    };
    // Each control's change reaches Android at once (what each value does there: RuntimeDeviceTest).
    AndroidDarkMode::setOverride(AndroidDarkMode::Override::dark); // the desktop as the command sets it
    const QString dns = u"settings get global private_dns_"_s;
    const Row rows[] = {
        {SettingsKeys::adBlock.name, false, dns + u"mode"_s, u"opportunistic"_s},
        {SettingsKeys::adBlock.name, true, dns + u"mode"_s, u"hostname"_s},
        {SettingsKeys::adBlockHost.name, AndroidAdBlock::providers()[2].host, dns + u"specifier"_s,
         AndroidAdBlock::providers()[2].host},
        // Off leaves Android as it is; on carries the desktop's dark mode over.
        {SettingsKeys::syncDarkMode.name, false, u"cmd uimode night"_s, u"Night mode: no"_s},
        {SettingsKeys::syncDarkMode.name, true, u"cmd uimode night"_s, u"Night mode: yes"_s},
        {SettingsKeys::micCamera.name, true, u"config:hw.audioInput"_s, u"yes"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QString(row.key).toStdString() + " " + row.value.toString().toStdString());
        const QString key(row.key);
        ASSERT_TRUE(setControl(view, key, row.value));
        EXPECT_EQ(VantleSettings::store().value(key), row.value);
        EXPECT_TRUE(waitUntil([&] { return readBack(row.command) == row.expected; }, 5000))
            << readBack(row.command).toStdString();
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
    for (const int api : {35, 33})
        ASSERT_TRUE(setControl(view, SettingsKeys::androidAPI.key(), api));
    EXPECT_EQ(actions.calls, QStringList{u"switchAndroidVersion 33"_s});
}

} // namespace
