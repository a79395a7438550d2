#include "sim/screen/DeviceScreen.h"

#include <QDateTime>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* launcherPackage = "com.android.launcher3";
constexpr int backKey = 4, homeKey = 3, deleteKey = 67;

QString resumedPackage(const QJsonObject& state) {
    const QString package = state.value(u"resumed"_s).toString().section(u'/', 0, 0);
    return package == QLatin1StringView(launcherPackage) ? QString() : package;
}

} // namespace

namespace DeviceScreen {

QString labelFor(const QString& package) {
    static const QStringList generic{u"android"_s, u"app"_s, u"apps"_s, u"client"_s, u"mobile"_s};
    const QStringList parts = package.split(u'.', Qt::SkipEmptyParts);
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        if (!generic.contains(it->toLower()) && it->size() > 1) return it->left(1).toUpper() + it->mid(1);
    return package;
}

ScreenState fromState(const QJsonObject& state) {
    ScreenState screen;
    screen.package = resumedPackage(state);
    screen.label = labelFor(screen.package);
    screen.clockMs = QDateTime::currentMSecsSinceEpoch();
    screen.night = state.value(u"nightMode"_s).toString() == u"yes"_s;
    const QJsonObject marks = state.value(u"screen"_s).toObject();
    if (marks.value(u"package"_s).toString() == screen.package) {
        for (const QJsonValue& touch : marks.value(u"touches"_s).toArray())
            screen.touches.append(QPoint(touch.toArray().at(0).toInt(), touch.toArray().at(1).toInt()));
        screen.typed = marks.value(u"typed"_s).toString();
    }
    const QString clipboard = state.value(u"clipboard"_s).toString();
    if (!clipboard.isEmpty()) screen.statusLine = u"clipboard: "_s + clipboard;
    return screen;
}

void applyInput(QJsonObject& state, std::optional<QPoint> touch, const QString& typed,
                const QJsonArray& keycodes) {
    const QString package = resumedPackage(state);
    QJsonObject marks = state.value(u"screen"_s).toObject();
    if (marks.value(u"package"_s).toString() != package) marks = QJsonObject{{u"package"_s, package}};
    QJsonArray touches = marks.value(u"touches"_s).toArray();
    if (touch) touches.append(QJsonArray{touch->x(), touch->y()});
    while (touches.size() > ScreenPainter::maxTouches)
        touches.removeFirst();
    QString text = marks.value(u"typed"_s).toString() + typed;
    for (const QJsonValue& code : keycodes) {
        if (code.toInt() == deleteKey) text.chop(1);
        // Back on an app's first (only) screen, and home, both bring the launcher to the front.
        if (code.toInt() == backKey || code.toInt() == homeKey)
            state.insert(u"resumed"_s, u"com.android.launcher3/.uioverrides.QuickstepLauncher"_s);
    }
    marks.insert(u"touches"_s, touches);
    marks.insert(u"typed"_s, text.right(200));
    state.insert(u"screen"_s, marks);
}

QImage capture(const QJsonObject& state, const QJsonObject& runtime) {
    const QJsonObject hardware = runtime.value(u"hardware"_s).toObject();
    const int width = std::clamp(hardware.value(u"hw.lcd.width"_s).toString().toInt(), 0, 8192);
    const int height = std::clamp(hardware.value(u"hw.lcd.height"_s).toString().toInt(), 0, 8192);
    ScreenImage image(width > 0 ? width : 1080, height > 0 ? height : 2400);
    ScreenPainter::paint(image, fromState(state));
    return QImage(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                  image.width * 4, QImage::Format_RGB32)
        .copy();
}

} // namespace DeviceScreen
