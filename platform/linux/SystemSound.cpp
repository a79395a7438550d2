#include "platform/SystemSound.h"

#include "platform/DetachedProcess.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace SystemSound {

// Linux: the freedesktop sound theme's event id, played by libcanberra's player when it is
// installed, else the theme's own file through PulseAudio's player.
void play(Sound sound) {
    QString id;
    switch (sound) {
    case Sound::screenCapture:
        id = u"screen-capture"_s;
        break;
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (const QString canberra = QStandardPaths::findExecutable(u"canberra-gtk-play"_s);
        !canberra.isEmpty()) {
        (void)DetachedProcess::start(canberra, {u"-i"_s, id}, environment);
        return;
    }
    const QString file = u"/usr/share/sounds/freedesktop/stereo/"_s + id + u".oga"_s;
    const QString paplay = QStandardPaths::findExecutable(u"paplay"_s);
    if (!paplay.isEmpty() && QFileInfo::exists(file))
        (void)DetachedProcess::start(paplay, {file}, environment);
}

} // namespace SystemSound
