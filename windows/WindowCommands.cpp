#include "windows/WindowCommands.h"

#include "core/CommandRouter.h"
#include "stream/AndroidVideoView.h"
#include "windows/AndroidWindowRegistry.h"
#include "windows/AndroidWindowSession.h"

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
    commands.onPrefix(u"drop:"_s, [](const QString& path) {
        if (AndroidWindowSession* session = firstWindow()) session->receiveFiles({QUrl::fromLocalFile(path)});
    });
}
