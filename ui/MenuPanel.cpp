#include "ui/MenuPanel.h"

#include "apk/AppIconStore.h"
#include "core/AppLibraryStore.h"
#include "core/SettingsKeys.h"
#include "core/VantleEvents.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/RuntimeSetupView.h"
#include "runtime/AndroidRuntimePaths.h"
#include "ui/AppSection.h"
#include "ui/AppTile.h"
#include "ui/LauncherActions.h"
#include "ui/PanelStyle.h"
#include "ui/SettingsView.h"
#include "ui/StatusPill.h"
#include "ui/VantleDock.h"
#include "ui/Wallpaper.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

using namespace Qt::Literals::StringLiterals;
using LauncherRules::Page;

namespace {

constexpr int sideMargin = 12;

QList<QUrl> chooseApkFiles(QWidget* parent) {
    return QFileDialog::getOpenFileUrls(parent, u"Add an APK"_s, QUrl::fromLocalFile(QDir::homePath()),
                                        u"Android apps (*.apk *.APK)"_s);
}

QList<QUrl> localFiles(const QMimeData* data) {
    QList<QUrl> files;
    if (!data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files.append(url);
    return files;
}

QLabel* label(const QString& objectName, const QString& text = {}) {
    auto* result = new QLabel(text);
    result->setObjectName(objectName);
    return result;
}

QToolButton* toolButton(const QString& objectName, const QString& help) {
    auto* button = new QToolButton;
    button->setObjectName(objectName);
    button->setToolTip(help);
    button->setAccessibleName(help);
    button->setIconSize(QSize(20, 20));
    button->setFixedSize(32, 32);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

MenuPanel::MenuPanel(AppLibraryStore& store, LauncherActions& actions, Environment environment,
                     QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_actions(actions)
    , m_environment(std::move(environment)) {
    if (!m_environment.runtimeComplete)
        m_environment.runtimeComplete = [] { return AndroidRuntimePaths::current().isComplete(); };
    if (!m_environment.chooseFiles) m_environment.chooseFiles = chooseApkFiles;
    if (!m_environment.localHour) m_environment.localHour = [] { return QTime::currentTime().hour(); };
    if (!m_environment.icons) m_environment.icons = &AppIconStore::shared();

    setObjectName(u"menuPanel"_s);
    setWindowTitle(u"Vantle"_s);
    setAcceptDrops(true);
    setAttribute(Qt::WA_StyledBackground);

    m_pages = new QStackedWidget;
    m_setupPage = new QWidget;
    (new QVBoxLayout(m_setupPage))->setContentsMargins(0, 0, 0, 0);
    m_emptyPage = makeEmptyPage();
    m_libraryPage = makeLibraryPage();
    for (QWidget* page : {m_setupPage, m_emptyPage, m_libraryPage})
        m_pages->addWidget(page);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(sideMargin, 16, sideMargin, sideMargin);
    column->setSpacing(12);
    column->addWidget(makeHeader());
    column->addWidget(m_pages, 1);
    column->addWidget(makeDock());

    m_dropOverlay = label(u"dropOverlay"_s, u"Drop to add"_s);
    m_dropOverlay->setParent(this);
    m_dropOverlay->setAlignment(Qt::AlignCenter);
    m_dropOverlay->hide();

    for (auto changed : {&AppLibraryStore::appsChanged, &AppLibraryStore::searchChanged,
                         &AppLibraryStore::hiddenForShotsChanged})
        connect(&m_store, changed, this, &MenuPanel::render);
    // Android's state changes often while an app opens; the tiles stay unless the page changes.
    connect(&m_store, &AppLibraryStore::androidStateChanged, this, [this] {
        if (pageNow() != m_page) render();
    });
    connect(&m_store, &AppLibraryStore::searchChanged, this, &MenuPanel::followSearch);
    connect(&m_store, &AppLibraryStore::statusMessageChanged, this,
            [this] { m_statusLine->setText(m_store.statusMessage()); });
    m_statusLine->setText(m_store.statusMessage());

    applyStyle();
    followSettings();
    render();
}

void MenuPanel::followSettings() {
    // Settings are announced as events named after their keys, by the settings pages and the
    // automation commands alike.
    EventCenter& events = EventCenter::shared();
    events.observe(VantleEvent::showSettingsPage, this, [this](const QVariantMap&) { showSettings(); });
    // The icons' corner radii follow the style: the tiles are drawn again.
    events.observe(SettingsKeys::theme.name, this, [this](const QVariantMap&) { render(); });
    for (const QLatin1StringView key : {SettingsKeys::wallpaper.name, SettingsKeys::wallpaperRevision.name})
        events.observe(key, this, [this](const QVariantMap&) {
            m_wallpaper = Wallpaper::current();
            update();
        });
    m_wallpaper = Wallpaper::current();
}

void MenuPanel::showSettings() {
    if (!m_environment.settings) return;
    if (!m_settingsView) {
        m_settingsView = new SettingsView(m_store, m_actions, *m_environment.settings,
                                          {m_environment.choosePhoto, m_environment.updates});
        m_pages->addWidget(m_settingsView);
        connect(m_settingsView, &SettingsView::doneRequested, this, &MenuPanel::showLauncher);
    }
    m_showingSettings = true;
    m_settingsView->showPage(int(VantleSettings::get(SettingsKeys::settingsPage)));
    m_pages->setCurrentWidget(m_settingsView);
}

void MenuPanel::showLauncher() {
    m_showingSettings = false;
    render();
}

QWidget* MenuPanel::makeHeader() {
    m_greeting = label(u"greeting"_s);
    m_pill = new StatusPill(m_store);
    m_statusLine = label(u"statusLine"_s);
    m_statusLine->setWordWrap(true);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_greeting, 1);
    top->addWidget(m_pill, 0, Qt::AlignVCenter);
    auto* header = new QWidget;
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(4, 0, 4, 0);
    column->setSpacing(2);
    column->addLayout(top);
    column->addWidget(m_statusLine);
    return header;
}

QWidget* MenuPanel::makeEmptyPage() {
    auto* page = new QWidget;
    m_emptyMark = new QLabel;
    m_emptyMark->setAlignment(Qt::AlignCenter);
    auto* title = label(u"emptyTitle"_s, u"Add your first app"_s);
    auto* text =
        label(u"emptyText"_s, u"Drop an APK file here, or choose one.\nIt opens in its own small window."_s);
    for (QLabel* centred : {title, text})
        centred->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    m_chooseButton = new QPushButton(u"Choose APK…"_s);
    m_chooseButton->setObjectName(u"chooseButton"_s);
    m_chooseButton->setCursor(Qt::PointingHandCursor);
    connect(m_chooseButton, &QPushButton::clicked, this, &MenuPanel::chooseAndAdd);
    auto* column = new QVBoxLayout(page);
    column->addStretch(2);
    column->addWidget(m_emptyMark);
    column->addSpacing(6);
    column->addWidget(title);
    column->addWidget(text);
    column->addSpacing(10);
    column->addWidget(m_chooseButton, 0, Qt::AlignHCenter);
    column->addStretch(3);
    return page;
}

QWidget* MenuPanel::makeLibraryPage() {
    auto* page = new QWidget;
    m_search = new QLineEdit;
    m_search->setObjectName(u"searchField"_s);
    m_search->setPlaceholderText(u"Search apps"_s);
    m_search->setAccessibleName(u"Search apps"_s);
    m_searchMark = m_search->addAction(QIcon(), QLineEdit::LeadingPosition);
    m_clearSearch = m_search->addAction(QIcon(), QLineEdit::TrailingPosition);
    m_clearSearch->setText(u"Clear search"_s);
    m_clearSearch->setToolTip(u"Clear search"_s);
    m_clearSearch->setVisible(false);
    connect(m_clearSearch, &QAction::triggered, this, [this] { m_store.setSearch(QString()); });
    connect(m_search, &QLineEdit::textEdited, &m_store, &AppLibraryStore::setSearch);
    connect(m_search, &QLineEdit::returnPressed, this, &MenuPanel::launchFirstResult);

    auto* content = new QWidget;
    content->setObjectName(u"launcherContent"_s);
    m_sectionsLayout = new QVBoxLayout(content);
    m_sectionsLayout->setContentsMargins(0, 4, 0, 4);
    m_sectionsLayout->setSpacing(16);
    m_nothingMatches = label(u"nothingMatches"_s);
    m_nothingMatches->setAlignment(Qt::AlignCenter);
    m_nothingMatches->setWordWrap(true);
    m_sectionsLayout->addWidget(m_nothingMatches);
    m_sectionsLayout->addStretch();
    m_scroll = new QScrollArea;
    m_scroll->setObjectName(u"appScroll"_s);
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->addWidget(m_search);
    column->addWidget(m_scroll, 1);
    return page;
}

QWidget* MenuPanel::makeDock() {
    m_dock = new VantleDock(m_store);
    m_dock->onMedia = [this](const QUuid& appID, MediaAction action) { m_actions.mediaKey(appID, action); };
    m_addButton = toolButton(u"addButton"_s, u"Add an APK"_s);
    connect(m_addButton, &QToolButton::clicked, this, &MenuPanel::chooseAndAdd);
    m_menuButton = toolButton(u"menuButton"_s, u"More"_s);
    m_menu = new QMenu(this);
    m_menu->setObjectName(u"panelMenu"_s);
    connect(m_menu, &QMenu::aboutToShow, this, &MenuPanel::fillPanelMenu);
    m_menuButton->setMenu(m_menu);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    fillPanelMenu();
    m_dock->addTrailingWidget(m_addButton);
    m_dock->addTrailingWidget(m_menuButton);
    return m_dock;
}

void MenuPanel::fillPanelMenu() {
    // Rebuilt each time it opens: the window sizes on offer may have changed.
    m_menu->clear();
    if (m_environment.settings) m_menu->addAction(u"Settings"_s, this, &MenuPanel::showSettings);
    if (m_actions.offersBackups())
        m_menu->addAction(u"Restore from backup…"_s, this, [this] { m_actions.chooseBackupToRestore(); });
    const QStringList presets = m_actions.windowSizePresets();
    if (!presets.isEmpty()) {
        QMenu* sizes = m_menu->addMenu(u"Window size"_s);
        for (int i = 0; i < presets.size(); ++i)
            sizes->addAction(presets[i], this, [this, i] { m_actions.applyWindowSize(i); });
    }
    m_menu->addAction(u"Close all apps"_s, this, [this] { m_actions.closeAllApps(); });
    m_menu->addSeparator();
    m_menu->addAction(u"Quit Vantle"_s, this, [this] { m_actions.quit(); });
}

void MenuPanel::chooseAndAdd() {
    const QList<QUrl> files = m_environment.chooseFiles(this);
    if (!files.isEmpty()) m_store.addFiles(files);
}

QString MenuPanel::greeting() const {
    return m_greeting->text();
}

QList<AppTile*> MenuPanel::tiles() const {
    QList<AppTile*> all;
    for (AppSection* section : m_sections)
        all += section->tiles();
    return all;
}

QString MenuPanel::nothingMatchesText() const {
    return m_nothingMatches->isHidden() ? QString() : m_nothingMatches->text();
}

bool MenuPanel::isDropOverlayShown() const {
    return !m_dropOverlay->isHidden();
}

void MenuPanel::render() {
    m_greeting->setText(LauncherRules::greeting(m_environment.localHour()));
    m_page = pageNow();
    if (m_showingSettings) {
        // The apps are drawn again when the settings are done.
        m_pages->setCurrentWidget(m_settingsView);
        return;
    }
    switch (m_page) {
    case Page::setup:
        showSetup();
        m_pages->setCurrentWidget(m_setupPage);
        break;
    case Page::empty:
        m_pages->setCurrentWidget(m_emptyPage);
        break;
    case Page::library:
        m_pages->setCurrentWidget(m_libraryPage);
        break;
    }
    rebuildSections();
}

LauncherRules::Page MenuPanel::pageNow() const {
    return LauncherRules::page(m_environment.runtimeComplete(),
                               VantleSettings::get(SettingsKeys::showRuntimeSetup), m_store.apps().isEmpty());
}

void MenuPanel::showSetup() {
    if (m_setupView) return;
    auto& provisioner = AndroidRuntimeProvisioner::shared();
    m_setupView = new RuntimeSetupView(provisioner, m_setupPage);
    m_setupPage->layout()->addWidget(m_setupView);
    // A finished set-up changes what Android can do; the launcher follows at once.
    connect(&provisioner, &AndroidRuntimeProvisioner::phaseChanged, this, [this, &provisioner] {
        if (provisioner.phase().kind != ProvisionPhase::Kind::ready) return;
        m_actions.refreshAndroidState();
        render();
    });
}

void MenuPanel::rebuildSections() {
    // Old tiles may be in the middle of their own event (a context menu that removed the entry),
    // so they go later, not now.
    for (AppSection* section : std::as_const(m_sections)) {
        section->hide();
        section->deleteLater();
    }
    m_sections.clear();
    m_nothingMatches->hide();
    if (m_page != Page::library) return;

    const int columns = LauncherRules::gridColumns(width());
    const auto makeSection = [&](const QString& title, const QList<MobileApp>& apps) {
        QList<AppTile*> tiles;
        for (const MobileApp& app : apps) {
            tiles.append(new AppTile(app, m_store, m_actions, *m_environment.icons));
            tiles.last()->followUpdates(m_environment.updates);
        }
        auto* section = new AppSection(title, tiles, columns);
        m_sectionsLayout->insertWidget(m_sectionsLayout->count() - 1, section);
        m_sections.append(section);
    };
    const QList<MobileApp> shown = m_store.filteredApps();
    if (!m_store.search().isEmpty()) {
        if (shown.isEmpty()) {
            m_nothingMatches->setText(LauncherRules::nothingMatches(m_store.search()));
            m_nothingMatches->show();
        } else {
            makeSection(u"Results"_s, shown);
        }
        return;
    }
    QList<MobileApp> favourites;
    for (const MobileApp& app : shown)
        if (app.isFavorite) favourites.append(app);
    if (!favourites.isEmpty()) makeSection(u"Favourites"_s, favourites);
    makeSection(u"All apps"_s, shown);
}

void MenuPanel::followSearch() {
    if (m_search->text() != m_store.search()) m_search->setText(m_store.search());
    m_clearSearch->setVisible(!m_store.search().isEmpty());
}

void MenuPanel::applyStyle() {
    const PanelStyle::Colours colours = PanelStyle::colours();
    setStyleSheet(PanelStyle::styleSheet(colours));
    using PanelStyle::Glyph, PanelStyle::glyph;
    m_emptyMark->setPixmap(glyph(Glyph::plus, colours.secondaryText).pixmap(48, 48));
    m_searchMark->setIcon(glyph(Glyph::search, colours.secondaryText));
    m_clearSearch->setIcon(glyph(Glyph::clear, colours.secondaryText));
    m_addButton->setIcon(glyph(Glyph::plus, colours.text));
    m_menuButton->setIcon(glyph(Glyph::ellipsis, colours.text));
}

void MenuPanel::launchFirstResult() {
    if (m_store.search().isEmpty()) return;
    const QList<MobileApp> results = m_store.filteredApps();
    if (!results.isEmpty()) m_actions.launch(results.first());
}

void MenuPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) return QWidget::keyPressEvent(event);
    // Escape leaves the settings or undoes a search first, and only then asks to put the panel away.
    if (m_showingSettings)
        showLauncher();
    else if (!m_store.search().isEmpty())
        m_store.setSearch(QString());
    else
        Q_EMIT dismissRequested();
}

void MenuPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The launcher appears: Android's state and the apps installed inside it may have changed.
    m_actions.refreshAndroidState();
    m_actions.syncInstalledApps();
    render();
}

void MenuPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Put away, the panel comes back with the apps ("home-settings" opens the settings again).
    if (m_showingSettings && !event->spontaneous()) showLauncher();
}

void MenuPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_dropOverlay->setGeometry(rect().adjusted(8, 8, -8, -8));
    const int columns = LauncherRules::gridColumns(width());
    for (AppSection* section : std::as_const(m_sections))
        section->setColumns(columns);
}

void MenuPanel::mousePressEvent(QMouseEvent* event) {
    // A frameless panel moves by its background.
    if (event->button() == Qt::LeftButton && (windowFlags() & Qt::FramelessWindowHint) && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MenuPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (localFiles(event->mimeData()).isEmpty()) return;
    event->acceptProposedAction();
    m_dropOverlay->raise();
    m_dropOverlay->show();
}

void MenuPanel::dragLeaveEvent(QDragLeaveEvent*) {
    m_dropOverlay->hide();
}

void MenuPanel::dropEvent(QDropEvent* event) {
    m_dropOverlay->hide();
    const QList<QUrl> files = localFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    m_store.addFiles(files);
}

void MenuPanel::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_wallpaper.isNull()) return;
    // The photo covers the panel, centred, under a veil of the background colour that keeps the
    // texts readable.
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize covering = m_wallpaper.size().scaled(size(), Qt::KeepAspectRatioByExpanding);
    const QRect target(QPoint((width() - covering.width()) / 2, (height() - covering.height()) / 2),
                       covering);
    painter.drawImage(target, m_wallpaper);
    QColor veil = PanelStyle::colours().background;
    veil.setAlpha(150);
    painter.fillRect(rect(), veil);
}

void MenuPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) applyStyle();
}
