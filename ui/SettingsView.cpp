#include "ui/SettingsView.h"

#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "datacare/AppVersion.h"
#include "integrations/DeviceSettings.h"
#include "provisioning/AndroidVersions.h"
#include "ui/LauncherActions.h"
#include "ui/LoginItem.h"
#include "ui/PanelStyle.h"
#include "ui/SettingEffects.h"
#include "ui/SettingsActions.h"
#include "ui/Wallpaper.h"
#include "updates/AppUpdates.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

QString choosePhotoFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, u"Choose a photo"_s,
                                        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                        u"Photos (*.png *.jpg *.jpeg *.webp *.bmp *.gif)"_s);
}

QLabel* note(const QString& text, const QString& objectName = u"settingsNote"_s) {
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    return label;
}

QLabel* heading(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(u"settingsHeading"_s);
    return label;
}

// A page: a scrolling column of controls.
struct Page {
    QScrollArea* scroll = new QScrollArea;
    QWidget* content = new QWidget;
    QVBoxLayout* column = new QVBoxLayout(content);

    Page() {
        content->setObjectName(u"settingsContent"_s);
        column->setContentsMargins(4, 8, 4, 8);
        column->setSpacing(8);
        scroll->setObjectName(u"settingsScroll"_s);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    void add(QWidget* widget) { column->addWidget(widget); }
    void gap() { column->addSpacing(8); }
    QWidget* done() {
        column->addStretch();
        scroll->setWidget(content);
        return scroll;
    }
};

// Takes the rows out of `rows` at once; they are deleted later, since a row's own button may be what
// asked for the change.
void clearRows(QVBoxLayout* rows) {
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace

const QStringList& SettingsView::pageTitles() {
    static const QStringList titles{u"General"_s, u"Android"_s, u"App lock"_s, u"Updates"_s, u"About"_s};
    return titles;
}

SettingsView::SettingsView(AppLibraryStore& store, LauncherActions& launcher, SettingsActions& actions,
                           Environment environment, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_launcher(launcher)
    , m_actions(actions)
    , m_environment(std::move(environment)) {
    if (!m_environment.choosePhoto) m_environment.choosePhoto = choosePhotoFile;
    setObjectName(u"settingsView"_s);

    auto* title = new QLabel(u"Settings"_s);
    title->setObjectName(u"settingsTitle"_s);
    auto* done = new QPushButton(u"Done"_s);
    done->setObjectName(u"settingsDone"_s);
    connect(done, &QPushButton::clicked, this, &SettingsView::doneRequested);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(4, 0, 0, 0);
    top->addWidget(title, 1);
    top->addWidget(done);

    // One button per page, its symbol over its title; exactly one is down.
    m_tabs = new QButtonGroup(this);
    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(0, 0, 0, 0);
    tabRow->setSpacing(2);
    for (const QString& pageTitle : pageTitles()) {
        auto* button = new QToolButton;
        button->setObjectName(u"settingsTab"_s);
        button->setText(pageTitle);
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(18, 18));
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        m_tabs->addButton(button, int(m_tabs->buttons().size()));
        tabRow->addWidget(button, 1);
    }
    m_pages = new QStackedWidget;
    for (QWidget* page : {makeGeneral(), makeAndroid(), makeAppLock(), makeUpdates(), makeAbout()})
        m_pages->addWidget(page);
    connect(m_tabs, &QButtonGroup::idClicked, this, &SettingsView::showPage);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addLayout(top);
    column->addLayout(tabRow);
    column->addWidget(m_pages, 1);

    // The lock changes after the owner's authentication, and announces it as a change of sessions.
    EventCenter::shared().observe(VantleEvent::sessionsChanged, this, [this](const QVariantMap&) {
        if (isVisible()) fillLockedApps();
    });
    connect(&m_store, &AppLibraryStore::appsChanged, this, [this] {
        if (isVisible()) fillLockedApps();
    });
    applyStyle();
    reload();
    showPage(int(VantleSettings::get(SettingsKeys::settingsPage)));
}

void SettingsView::applyStyle() {
    using PanelStyle::Glyph;
    const QColor colour = PanelStyle::colours().secondaryText;
    const Glyph symbols[] = {Glyph::gear, Glyph::phone, Glyph::padlock, Glyph::downloadCircle,
                             Glyph::infoCircle};
    for (int page = 0; page < int(std::size(symbols)); ++page)
        pageButton(page)->setIcon(PanelStyle::glyph(symbols[page], colour));
}

void SettingsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) applyStyle();
}

int SettingsView::currentPage() const {
    return m_pages->currentIndex();
}

QToolButton* SettingsView::pageButton(int index) const {
    return static_cast<QToolButton*>(m_tabs->button(index));
}

QWidget* SettingsView::page(int index) const {
    return m_pages->widget(index);
}

void SettingsView::showPage(int index) {
    index = std::clamp(index, 0, int(pageTitles().size()) - 1);
    m_pages->setCurrentIndex(index);
    pageButton(index)->setChecked(true);
    if (VantleSettings::get(SettingsKeys::settingsPage) != index)
        VantleSettings::set(SettingsKeys::settingsPage, qint64(index));
}

void SettingsView::reload() {
    for (const auto& read : std::as_const(m_readers))
        read();
    fillVersions();
    fillLockedApps();
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

namespace {

// The text of a switch, wrapped to the panel's width; a click on it is a click on the switch.
class SwitchLabel final : public QLabel {
public:
    SwitchLabel(const QString& text, QCheckBox* box)
        : QLabel(text)
        , m_box(box) {
        setWordWrap(true);
        setBuddy(box);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) m_box->click();
    }

private:
    QCheckBox* m_box;
};

// A switch with its text beside it.
QWidget* switchRow(QCheckBox* box, const QString& text) {
    box->setAccessibleName(text);
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(box, 0, Qt::AlignTop);
    line->addWidget(new SwitchLabel(text, box), 1);
    return row;
}

// A label beside a control, wrapped when the row is narrow.
QLabel* rowLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// A column the page fills later (rows that follow the device or the library), named for tests.
QWidget* filledLater(const QString& objectName, int top, QVBoxLayout*& layout) {
    auto* widget = new QWidget;
    widget->setObjectName(objectName);
    layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, top, 0, 0);
    return widget;
}

// A label and, at the row's end, the control it names.
QWidget* choiceRow(const QString& text, QWidget* control) {
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(rowLabel(text), 1);
    line->addWidget(control);
    return row;
}

// A switch bound to a boolean setting.
QWidget* boundSwitch(const QString& text, const SettingKey<bool>& key,
                     QList<std::function<void()>>& readers) {
    auto* box = new QCheckBox;
    box->setObjectName(key.key());
    readers.append([box, key] {
        const QSignalBlocker quiet(box);
        box->setChecked(VantleSettings::get(key));
    });
    QObject::connect(box, &QCheckBox::toggled, box,
                     [key](bool on) { SettingEffects::change(key.key(), on); });
    return switchRow(box, text);
}

// A labelled choice among stored values; a stored value that is none of them selects nothing.
template <typename T>
QWidget* boundChoice(const QString& text, const SettingKey<T>& key,
                     const QList<std::pair<QString, QVariant>>& choices,
                     QList<std::function<void()>>& readers) {
    auto* combo = new QComboBox;
    combo->setObjectName(key.key());
    combo->setAccessibleName(text);
    for (const auto& [label, value] : choices)
        combo->addItem(label, value);
    readers.append([combo, key] {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(combo->findData(QVariant::fromValue(VantleSettings::get(key))));
    });
    QObject::connect(combo, &QComboBox::activated, combo,
                     [combo, key](int index) { SettingEffects::change(key.key(), combo->itemData(index)); });
    return choiceRow(text, combo);
}

} // namespace

QWidget* SettingsView::makeGeneral() {
    using namespace SettingsKeys;
    Page page;
    auto* login = new QCheckBox;
    login->setObjectName(u"loginItem"_s);
    m_loginFailure = note(QString(), u"settingsProblem"_s);
    m_loginFailure->hide();
    m_readers.append([login] {
        const QSignalBlocker quiet(login);
        login->setChecked(LoginItem::isEnabled());
    });
    connect(login, &QCheckBox::toggled, this, [this, login](bool on) {
        const std::optional<QString> failure = LoginItem::set(on);
        m_loginFailure->setText(failure.value_or(QString()));
        m_loginFailure->setVisible(failure.has_value());
        const QSignalBlocker quiet(login);
        login->setChecked(LoginItem::isEnabled());
    });
    page.add(switchRow(login, u"Open Vantle when the desktop starts"_s));
    page.add(m_loginFailure);
    page.gap();

    page.add(boundSwitch(u"Shortcut Alt+Space shows Vantle"_s, hotKey, m_readers));
    page.add(
        boundSwitch(u"Shortcuts Alt+1 – Alt+9 open your apps (favourites first)"_s, appShortcuts, m_readers));
    if (const QString reason = m_actions.shortcutsUnavailableReason(); !reason.isEmpty())
        page.add(
            note(u"Shortcuts are not available on this desktop: "_s + reason, u"shortcutsUnavailable"_s));
    page.gap();

    page.add(boundChoice(u"Home-screen style"_s, theme,
                         {{u"Classic"_s, u"classic"_s},
                          {u"One UI style"_s, u"oneui"_s},
                          {u"iOS style"_s, u"ios"_s},
                          {u"Pixel style"_s, u"pixel"_s}},
                         m_readers));
    auto* wallpaperChoice = new QComboBox;
    wallpaperChoice->setObjectName(wallpaper.key());
    wallpaperChoice->setAccessibleName(u"Wallpaper"_s);
    m_readers.append([wallpaperChoice] {
        const QSignalBlocker quiet(wallpaperChoice);
        wallpaperChoice->clear();
        wallpaperChoice->addItem(QString(Wallpaper::none), QString(Wallpaper::none));
        if (Wallpaper::hasPhoto()) wallpaperChoice->addItem(u"My photo"_s, QString(Wallpaper::photo));
        wallpaperChoice->addItem(u"Choose a photo…"_s);
        wallpaperChoice->setCurrentIndex(
            std::max(0, wallpaperChoice->findData(VantleSettings::get(SettingsKeys::wallpaper))));
    });
    connect(wallpaperChoice, &QComboBox::activated, this, [this, wallpaperChoice](int index) {
        m_wallpaperProblem->hide();
        const QVariant value = wallpaperChoice->itemData(index);
        if (value.isValid())
            SettingEffects::change(SettingsKeys::wallpaper.key(), value);
        else
            chooseWallpaper();
        reload();
    });
    page.add(choiceRow(u"Wallpaper"_s, wallpaperChoice));
    m_wallpaperProblem = note(QString(), u"settingsProblem"_s);
    m_wallpaperProblem->hide();
    page.add(m_wallpaperProblem);
    page.gap();

    page.add(boundSwitch(u"Mini player in the tray while music plays"_s, miniPlayer, m_readers));
    page.add(boundChoice(u"App windows"_s, singleApp,
                         {{u"One app at a time"_s, true}, {u"Several apps at once"_s, false}}, m_readers));
    page.add(boundSwitch(u"Show notifications inside the app window"_s, notifications, m_readers));
    page.add(
        boundSwitch(u"Start Android when the Vantle popup opens (apps open faster)"_s, prewarm, m_readers));
    page.add(boundChoice(u"Stop Android when no app is open"_s, idleShutdownMinutes,
                         {{u"After 5 minutes"_s, 5.0},
                          {u"After 15 minutes"_s, 15.0},
                          {u"After 30 minutes"_s, 30.0},
                          {u"Never"_s, 0.0}},
                         m_readers));
    return page.done();
}

void SettingsView::chooseWallpaper() {
    const QString file = m_environment.choosePhoto(this);
    if (file.isEmpty()) return; // cancelled: the wallpaper stays
    if (const std::optional<QString> problem = Wallpaper::adopt(file)) {
        m_wallpaperProblem->setText(*problem);
        m_wallpaperProblem->show();
    }
}

QWidget* SettingsView::makeAndroid() {
    using namespace SettingsKeys;
    Page page;
    auto* version = new QComboBox;
    version->setObjectName(androidAPI.key());
    version->setAccessibleName(u"Android version"_s);
    m_readers.append([version] {
        const QSignalBlocker quiet(version);
        version->clear();
        const QList<int> installed = AndroidVersions::installed();
        for (const AndroidVersions::Version& offered : AndroidVersions::all())
            version->addItem(AndroidVersions::name(offered.api) +
                                 (installed.contains(offered.api) ? QString() : u" (needs a download)"_s),
                             offered.api);
        version->setCurrentIndex(version->findData(AndroidVersions::selected()));
    });
    connect(version, &QComboBox::activated, this, [this, version](int index) {
        const int api = version->itemData(index).toInt();
        if (api != AndroidVersions::selected()) m_actions.switchAndroidVersion(api);
        reload();
    });
    page.add(choiceRow(u"Android version"_s, version));
    page.add(
        note(u"Each version has its own apps and data. Changing it restarts Android; your apps install again "
             u"on the new version when you open them."_s));
    page.add(filledLater(u"installedVersions"_s, 0, m_versions));
    page.gap();

    page.add(boundSwitch(u"Desktop notifications when the app window is hidden"_s, desktopNotifications,
                         m_readers));
    page.add(boundSwitch(u"Copy Android downloads to Downloads › Vantle"_s, syncDownloads, m_readers));
    page.add(boundSwitch(u"Android dark mode follows the desktop"_s, syncDarkMode, m_readers));
    page.add(boundSwitch(u"Allow microphone and camera in apps"_s, micCamera, m_readers));
    page.add(note(
        u"Drag a file from the desktop onto an app window to send it into Android. Microphone and camera "
        u"changes apply the next time Android starts."_s));
    page.gap();

    page.add(boundSwitch(u"Block ads and trackers in all Android apps"_s, adBlock, m_readers));
    QList<std::pair<QString, QVariant>> lists;
    for (const AndroidAdBlock::Provider& provider : AndroidAdBlock::providers())
        lists.append({provider.label, provider.host});
    page.add(boundChoice(u"Blocking list"_s, adBlockHost, lists, m_readers));
    page.add(
        note(u"Works through Android's Private DNS. Ads that come from the app's own servers (e.g. YouTube) "
             u"can still show."_s));
    page.gap();
    page.add(
        note(u"Android runs on Google's Android Emulator, downloaded after you accepted Google's licence. "
             u"Apps that need Google Play services may not work."_s));
    return page.done();
}

void SettingsView::fillVersions() {
    clearRows(m_versions);
    const int current = AndroidVersions::selected();
    for (const int api : AndroidVersions::installed()) {
        if (api == current) continue;
        auto* row = new QWidget;
        row->setObjectName(u"installedVersion"_s + QString::number(api));
        auto* column = new QVBoxLayout(row);
        column->setContentsMargins(0, 0, 0, 0);
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(AndroidVersions::name(api) + u" is downloaded"_s), 1);
        auto* remove = new QPushButton(u"Delete"_s);
        remove->setObjectName(u"deleteVersion"_s);
        line->addWidget(remove);
        column->addLayout(line);
        // The question stays in the page, under the version it is about.
        auto* confirm = new QWidget;
        confirm->setObjectName(u"confirmDelete"_s);
        auto* confirmLine = new QHBoxLayout(confirm);
        confirmLine->setContentsMargins(0, 0, 0, 0);
        confirmLine->addWidget(note(u"Its apps and their data are removed from the desktop."_s), 1);
        auto* yes = new QPushButton(u"Delete"_s);
        yes->setObjectName(u"confirmDeleteVersion"_s);
        auto* no = new QPushButton(u"Cancel"_s);
        no->setObjectName(u"cancelDeleteVersion"_s);
        confirmLine->addWidget(no);
        confirmLine->addWidget(yes);
        confirm->hide();
        column->addWidget(confirm);
        connect(remove, &QPushButton::clicked, confirm, &QWidget::show);
        connect(no, &QPushButton::clicked, confirm, &QWidget::hide);
        connect(yes, &QPushButton::clicked, this, [this, api] {
            m_actions.deleteAndroidVersion(api);
            reload();
        });
        m_versions->addWidget(row);
    }
}

QWidget* SettingsView::makeAppLock() {
    Page page;
    page.add(heading(u"App lock (password)"_s));
    page.add(
        note(u"Locked apps ask for your password before they open, and their notifications don't show the "
             u"message."_s));
    page.add(filledLater(u"lockedApps"_s, 4, m_lockedApps));
    return page.done();
}

void SettingsView::fillLockedApps() {
    clearRows(m_lockedApps);
    const QList<MobileApp> apps = m_store.apps();
    if (apps.isEmpty()) m_lockedApps->addWidget(note(u"Add an app to lock it."_s));
    for (const MobileApp& app : apps) {
        const std::optional<bool> locked = m_launcher.isLocked(app.id);
        if (!locked) continue;
        auto* box = new QCheckBox(app.displayName());
        box->setObjectName(u"lock:"_s + app.id.toString(QUuid::WithoutBraces));
        box->setChecked(*locked);
        // The lock changes only after the owner's authentication; until then the switch shows the truth.
        connect(box, &QCheckBox::toggled, this, [this, box, id = app.id] {
            if (const auto entry = m_store.app(id)) m_launcher.toggleLock(*entry);
            const QSignalBlocker quiet(box);
            box->setChecked(m_launcher.isLocked(id).value_or(false));
        });
        m_lockedApps->addWidget(box);
    }
}

QWidget* SettingsView::makeUpdates() {
    using namespace SettingsKeys;
    Page page;
    page.add(boundSwitch(u"Check for app updates"_s, checkUpdates, m_readers));
    page.add(boundSwitch(u"F-Droid"_s, updatesFDroid, m_readers));
    page.add(boundSwitch(u"IzzyOnDroid (apps from developers' GitHub releases)"_s, updatesIzzy, m_readers));
    page.add(note(u"Apps from Aurora Store (Google Play) update inside Aurora Store itself."_s));
    auto* checkNow = new QPushButton(u"Check now"_s);
    checkNow->setObjectName(u"checkNow"_s);
    connect(checkNow, &QPushButton::clicked, this, [this] { m_actions.checkUpdatesNow(); });
    page.add(checkNow);
    if (AppUpdates* updates = m_environment.updates) {
        // What the last check found, and no second check while one runs.
        auto* status = note(updates->lastMessage(), u"updatesStatus"_s);
        page.add(status);
        const auto follow = [updates, status, checkNow] {
            status->setText(updates->lastMessage());
            checkNow->setEnabled(!updates->isChecking());
        };
        connect(updates, &AppUpdates::lastMessageChanged, status, follow);
        connect(updates, &AppUpdates::checkingChanged, status, follow);
        follow();
    }
    return page.done();
}

QWidget* SettingsView::makeAbout() {
    Page page;
    auto* version = heading(u"Version "_s + AppVersion::shortVersion());
    version->setObjectName(u"version"_s);
    page.add(version);
    page.gap();
    page.add(heading(u"Report a bug"_s));
    page.add(
        note(u"Opens your mail program with your Vantle version; a short log waits in the temporary folder "
             u"for you to attach. Nothing is sent until you press Send."_s));
    auto* report = new QPushButton(u"Report a bug…"_s);
    report->setObjectName(u"bugReport"_s);
    connect(report, &QPushButton::clicked, this, [this] { m_actions.composeBugReport(); });
    page.add(report);
    page.gap();
    page.add(heading(u"Remove Vantle"_s));
    page.add(note(u"Removes Vantle, its Android and every app inside it. You can keep your screenshots, "
                  u"recordings, downloads and backups."_s));
    auto* uninstall = new QPushButton(u"Uninstall Vantle…"_s);
    uninstall->setObjectName(u"uninstallVantle"_s);
    connect(uninstall, &QPushButton::clicked, this, [this] { m_actions.uninstallVantle(); });
    page.add(uninstall);
    return page.done();
}
