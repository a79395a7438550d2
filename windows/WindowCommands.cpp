#include "windows/WindowCommands.h"

#include "core/CommandRouter.h"
#include "stream/AndroidVideoView.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"
#include "windows/WindowCapture.h"

#include <QHash>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

AndroidWindowSession* firstWindow() {
    const QList<AndroidWindowSession*> sessions = AndroidWindowRegistry::shared().sessions();
    return sessions.isEmpty() ? nullptr : sessions.first();
}

CommandRouter::Action onFirstWindow(void (*action)(AndroidWindowSession&)) {
    return [action] {
        if (AndroidWindowSession* session = firstWindow()) action(*session);
    };
}

} // namespace

void registerWindowCommands(CommandRouter& commands) {
    commands.on(u"back"_s, onFirstWindow([](AndroidWindowSession& window) { window.handleBack(); }));
    commands.on(u"hide"_s, onFirstWindow([](AndroidWindowSession& window) { window.hide(); }));
    commands.on(u"paste"_s,
                onFirstWindow([](AndroidWindowSession& window) { window.videoView()->pasteFromDesktop(); }));
    commands.on(u"copy"_s,
                onFirstWindow([](AndroidWindowSession& window) { window.videoView()->copyToDesktop(); }));
    // "media" is play/pause; "media:previous", "media:play-pause" and "media:next" name the key.
    commands.on(u"media"_s, onFirstWindow([](AndroidWindowSession& window) {
                    window.sendMediaKey(MediaAction::playPause);
                }));
    commands.onPrefix(u"media:"_s, [](const QString& name) {
        static const QHash<QString, MediaAction> actions{{u"previous"_s, MediaAction::previous},
                                                         {u"play-pause"_s, MediaAction::playPause},
                                                         {u"next"_s, MediaAction::next}};
        AndroidWindowSession* session = firstWindow();
        if (session && actions.contains(name)) session->sendMediaKey(actions.value(name));
    });
    commands.on(u"screenshot"_s,
                onFirstWindow([](AndroidWindowSession& window) { window.takeScreenshot(); }));
    commands.on(u"record"_s, onFirstWindow([](AndroidWindowSession& window) { window.toggleRecording(); }));
    // Images of Vantle's own windows; needs no app window.
    commands.onPrefix(u"capture:"_s, [](const QString& prefix) {
        if (!prefix.isEmpty()) WindowCapture::saveVisibleWindows(prefix);
    });
    commands.onPrefix(u"drop:"_s, [](const QString& path) {
        if (AndroidWindowSession* session = firstWindow()) session->receiveFiles({QUrl::fromLocalFile(path)});
    });
}
