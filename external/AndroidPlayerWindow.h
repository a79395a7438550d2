#pragma once

#include "external/AndroidMirrorModel.h"
#include "external/AndroidPlayerView.h"

#include <QObject>
#include <functional>
#include <memory>

class AppLibraryStore;

// The mirror mode's window as the library's `showAndroidPlayer` says: set, the window shows and
// the model captures; cleared (or the window closed, which clears it), both stop. Main thread.
class AndroidPlayerWindow final : public QObject {
    Q_OBJECT
public:
    static constexpr QSize portraitSize{430, 760};

    AndroidPlayerWindow(AppLibraryStore& store, std::function<void()> showLibrary, QObject* parent = nullptr);
    ~AndroidPlayerWindow() override;

    AndroidPlayerView* view() const { return m_view.get(); }
    AndroidMirrorModel& model() { return m_model; }

private:
    void follow();

    AppLibraryStore& m_store;
    std::function<void()> m_showLibrary;
    AndroidMirrorModel m_model;
    std::unique_ptr<AndroidPlayerView> m_view; // made when first shown
};
