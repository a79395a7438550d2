#include "platform/Locations.h"
#include "platform/LoginRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace {

// One argument of an Exec line: always quoted, with the four characters the desktop entry format
// reserves inside quotes escaped; then the string escape of the value (backslashes doubled) and the
// field-code escape ("%" doubled).
QString execArgument(const QString& argument) {
    QString quoted = u"\""_s;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted.replace(u"\\"_s, u"\\\\"_s).replace(u"%"_s, u"%%"_s);
}

// The value of `key` in the entry's "[Desktop Entry]" group, or nothing.
std::optional<QString> entryValue(const QByteArray& entry, const QString& key) {
    bool inGroup = false;
    for (const QByteArray& raw : entry.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == u"[Desktop Entry]"_s;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inGroup && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace

namespace LoginRegistration {

Status status() {
    QFile file(Locations::autostartEntry());
    if (!file.open(QIODevice::ReadOnly)) return Status::notRegistered;
    const QByteArray entry = file.readAll();
    if (entryValue(entry, u"Hidden"_s) == u"true"_s) return Status::disabled;
    if (entryValue(entry, u"X-GNOME-Autostart-enabled"_s) == u"false"_s) return Status::disabled;
    return Status::enabled;
}

QString statusName(Status status) {
    switch (status) {
    case Status::enabled:
        return u"enabled"_s;
    case Status::notRegistered:
        return u"notRegistered"_s;
    case Status::disabled:
        return u"disabled"_s;
    }
    return {};
}

std::optional<QString> enable(const QString& program) {
    if (program.contains(u'\n') || program.contains(u'\r') || !QDir::isAbsolutePath(program))
        return u"the program path cannot be started from an autostart entry: "_s + program;
    const QString path = Locations::autostartEntry();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) return u"cannot create the folder "_s + folder;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    const QString entry = u"[Desktop Entry]\n"
                          u"Type=Application\n"
                          u"Name=Vantle\n"
                          u"Comment=Run Android apps on the desktop\n"
                          u"Exec="_s +
                          execArgument(program) +
                          u"\n"
                          u"Icon=app.vantle.Vantle\n"
                          u"Terminal=false\n"
                          u"X-GNOME-Autostart-enabled=true\n"_s;
    file.write(entry.toUtf8());
    if (!file.commit()) return file.errorString();
    return std::nullopt;
}

std::optional<QString> disable() {
    QFile file(Locations::autostartEntry());
    if (!file.exists() || file.remove()) return std::nullopt;
    return file.errorString();
}

} // namespace LoginRegistration
