// One executable for all of Android's commands on the simulated device; /system/bin holds a link
// per command name, and the name it was called by picks the command.
#include "sim/device/DeviceCommands.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <cstdio>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Entry {
    const char* name;
    DeviceCommand run;
};

const Entry entries[] = {
    {"pm", pmCommand},
    {"cmd", cmdCommand},
    {"am", amCommand},
    {"settings", settingsCommand},
    {"dumpsys", dumpsysCommand},
    {"content", contentCommand},
    {"input", inputCommand},
    {"screencap", screencapCommand},
    {"getprop", getpropCommand},
    {"setprop", setpropCommand},
    {"service", serviceCommand},
    {"restorecon", restoreconCommand},
    {"su", suCommand},
    {"chown", chownCommand},
    {"app_process", appProcessCommand},
};

} // namespace

QJsonObject DeviceContext::runtime() const {
    return QJsonDocument::fromJson(state.readFile("runtime.json")).object();
}

void DeviceContext::out(const QString& text) const {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void DeviceContext::err(const QString& text) const {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void DeviceContext::record(const QString& type, QJsonObject event) {
    event.insert(u"type"_s, type);
    state.record(event);
}

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString name = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    if (name == u"android-commands"_s && !arguments.isEmpty()) name = arguments.takeFirst();
    for (const Entry& entry : entries) {
        if (name != QLatin1StringView(entry.name)) continue;
        DeviceContext context;
        if (!context.state.isOpen()) {
            std::fprintf(stderr, "%s: the device's /data is not available\n", entry.name);
            return 1;
        }
        const int status = entry.run(context, arguments);
        std::fflush(stdout);
        return status;
    }
    std::fprintf(stderr, "%s: inaccessible or not found\n", qPrintable(name));
    return 127;
}
