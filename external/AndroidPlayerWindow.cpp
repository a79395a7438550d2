#include "external/AndroidPlayerWindow.h"

#include "core/AppLibraryStore.h"

AndroidPlayerWindow::AndroidPlayerWindow(AppLibraryStore& store, std::function<void()> showLibrary,
                                         QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_showLibrary(std::move(showLibrary)) {
    connect(&m_store, &AppLibraryStore::showAndroidPlayerChanged, this, &AndroidPlayerWindow::follow);
    follow();
}

AndroidPlayerWindow::~AndroidPlayerWindow() {
    if (m_view) m_view->onClosed = nullptr; // the store may be gone before the window
    m_view.reset();
    m_model.stop();
}

void AndroidPlayerWindow::follow() {
    if (!m_store.showAndroidPlayer()) {
        if (m_view && m_view->isVisible()) m_view->close(); // stops the model
        return;
    }
    if (!m_view) {
        m_view = std::make_unique<AndroidPlayerView>(m_model);
        m_view->resize(portraitSize);
        m_view->onBackToLibrary = [this] {
            if (m_showLibrary) m_showLibrary();
        };
        m_view->onClosed = [this] { m_store.setShowAndroidPlayer(false); };
    }
    m_view->show();
    m_view->raise();
    m_model.start();
}
