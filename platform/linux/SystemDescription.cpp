#include "platform/SystemDescription.h"

#include <QFile>
#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

namespace SystemDescription {

namespace {
QString firmwareField(const QString& name) {
    QFile file(u"/sys/class/dmi/id/"_s + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.read(256)).simplified();
}
} // namespace

QString operatingSystem() {
    // PRETTY_NAME of os-release, with the kernel for the cases where that is what matters.
    return QSysInfo::prettyProductName() + u" (Linux "_s + QSysInfo::kernelVersion() + u", "_s +
           QSysInfo::currentCpuArchitecture() + u')';
}

QString hardwareModel() {
    const QString vendor = firmwareField(u"sys_vendor"_s);
    const QString product = firmwareField(u"product_name"_s);
    const QString model = (vendor + u' ' + product).simplified();
    return model.isEmpty() ? u"unknown"_s : model;
}

} // namespace SystemDescription
