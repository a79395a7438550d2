// vantle-notification-shots <folder> [--dark]: an app window's notification shade (with cards,
// empty, and with a media card in its slot) and its banner, over a stand-in for the app's picture,
// saved as PNG files for a person to look at. Run it under Xvfb, as scripts/take-screenshots does.
#include "integrations/NotificationShadeModel.h"
#include "windows/HeaderView.h"
#include "windows/MediaCardView.h"
#include "windows/NotificationBannerView.h"
#include "windows/NotificationShadeView.h"
#include "windows/ScreenshotSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using ScreenshotSupport::darkPalette;
using ScreenshotSupport::settle;

// Something like an app's screen: a bar, a few list rows.
class FakeApp final : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0xf4, 0xf1, 0xea));
        painter.fillRect(QRect(0, 0, width(), 56), QColor(0x3b, 0x6e, 0x5a));
        painter.setPen(Qt::white);
        painter.drawText(QRect(16, 0, width(), 56), Qt::AlignVCenter, u"Notes"_s);
        for (int row = 0; row < 8; ++row) {
            painter.fillRect(QRect(16, 76 + row * 64, width() - 32, 12), QColor(0x2b, 0x2b, 0x2b, 160));
            painter.fillRect(QRect(16, 96 + row * 64, (width() - 32) * 2 / 3, 10),
                             QColor(0x2b, 0x2b, 0x2b, 80));
        }
    }
};

// What the media helper's card will look like in the slot, for the layout's sake.
QWidget* playingCard() {
    auto* card = new MediaCardView;
    card->setAppName(u"Music Player"_s);
    card->setMedia(AndroidMedia{u"Morning Song"_s, u"The Band"_s, true});
    return card;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantle-notification-shots <folder> [--dark]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool dark = argc > 2 && QByteArray(argv[2]) == "--dark";
    QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
    if (dark) QApplication::setPalette(darkPalette());
    QDir().mkpath(folder);
    const QString suffix = dark ? u"-dark.png"_s : u"-light.png"_s;

    QWidget window;
    window.resize(380, 720);
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new HeaderView(u"Notes"_s));
    auto* video = new FakeApp;
    column->addWidget(video, 1);
    NotificationShadeModel model;
    model.setAppName(u"Notes"_s);
    auto* shade = new NotificationShadeView(model, video);
    auto* banner = new NotificationBannerView(video);
    window.show();
    settle(300);

    int failures = 0;
    const auto save = [&](const QString& name) {
        settle(400);
        if (!window.grab().save(folder + u'/' + name + suffix)) ++failures;
    };
    banner->show({u"k"_s, u"org.notes"_s, u"Anna"_s,
                  u"Are we still on for lunch at 1? I booked the table by the window."_s, false, false});
    save(u"notification-banner"_s);
    banner->dismiss();
    shade->open();
    save(u"notification-shade-empty"_s);
    model.setShown(
        {{u"a"_s, u"org.notes"_s, u"Anna"_s, u"Are we still on for lunch at 1?"_s, false, false},
         {u"b"_s, u"org.notes"_s, u"Shopping list"_s, u"Milk, bread (the good one), apples"_s, false, false},
         {u"c"_s, u"org.notes"_s, QString(), u"Sync finished"_s, false, false}});
    save(u"notification-shade"_s);
    shade->setMediaCard(playingCard());
    save(u"notification-shade-media"_s);
    return failures;
}
