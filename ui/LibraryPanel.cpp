#include "ui/LibraryPanel.h"

#include "core/AppLibraryStore.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int idRole = Qt::UserRole;

QString stateText(AndroidState state) {
    switch (state) {
    case AndroidState::ready:
        return u"Android is running"_s;
    case AndroidState::starting:
        return u"Android is starting…"_s;
    case AndroidState::sleeping:
        return u"Android is sleeping"_s;
    case AndroidState::notSetUp:
        return u"Android is not installed yet"_s;
    }
    return {};
}
} // namespace

LibraryPanel::LibraryPanel(AppLibraryStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store) {
    setWindowTitle(u"Vantle"_s);
    setAcceptDrops(true);
    resize(390, 760);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(u"Search"_s);
    m_search->setClearButtonEnabled(true);
    m_list = new QListWidget(this);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_androidState = new QLabel(this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_androidState);
    layout->addWidget(m_status);

    connect(m_search, &QLineEdit::textChanged, &m_store, &AppLibraryStore::setSearch);
    connect(m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Q_EMIT openRequested(item->data(idRole).toUuid()); });
    connect(m_list, &QListWidget::customContextMenuRequested, this, &LibraryPanel::showEntryMenu);
    for (auto changed : {&AppLibraryStore::appsChanged, &AppLibraryStore::searchChanged,
                         &AppLibraryStore::hiddenForShotsChanged})
        connect(&m_store, changed, this, &LibraryPanel::rebuildList);
    connect(&m_store, &AppLibraryStore::statusMessageChanged, this,
            [this] { m_status->setText(m_store.statusMessage()); });
    connect(&m_store, &AppLibraryStore::androidStateChanged, this,
            [this] { m_androidState->setText(stateText(m_store.androidState())); });

    m_status->setText(m_store.statusMessage());
    m_androidState->setText(stateText(m_store.androidState()));
    rebuildList();
}

void LibraryPanel::rebuildList() {
    m_list->clear();
    for (const MobileApp& app : m_store.filteredApps()) {
        auto* item = new QListWidgetItem((app.isFavorite ? u"★ "_s : QString()) + app.displayName(), m_list);
        item->setData(idRole, app.id);
        item->setToolTip(app.sourcePath);
    }
    if (m_store.apps().isEmpty()) {
        auto* hint = new QListWidgetItem(u"Drop APK files here to add them"_s, m_list);
        hint->setFlags(Qt::NoItemFlags);
    }
}

void LibraryPanel::showEntryMenu(const QPoint& position) {
    QListWidgetItem* item = m_list->itemAt(position);
    if (!item) return;
    const auto app = m_store.app(item->data(idRole).toUuid());
    if (!app) return;
    QMenu menu(this);
    menu.addAction(u"Open"_s, this, [this, id = app->id] { Q_EMIT openRequested(id); });
    menu.addAction(app->isFavorite ? u"Remove from Favourites"_s : u"Add to Favourites"_s, this,
                   [this, app = *app] { m_store.toggleFavorite(app); });
    menu.addAction(u"Remove from Library"_s, this, [this, app = *app] { m_store.remove(app); });
    menu.exec(m_list->viewport()->mapToGlobal(position));
}

void LibraryPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void LibraryPanel::dropEvent(QDropEvent* event) {
    QList<QUrl> files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files.append(url);
    m_store.addFiles(files);
    event->acceptProposedAction();
}
