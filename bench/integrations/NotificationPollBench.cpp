// The main-thread-independent cost of one notification poll: reading a dump of 200 notifications
// (as the simulated device prints them, 20 of them ongoing and 10 media) and keeping one package's,
// then the watch's diff of that list. The target is well under 1 ms for both together.
#include "integrations/AndroidNotifications.h"
#include "integrations/NotificationWatch.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

QString dump(int count) {
    QString text = u"Current Notification Manager state:\n  Notification List:\n"_s;
    for (int i = 0; i < count; ++i) {
        const QString package = i % 4 == 0 ? u"org.example.chat"_s : u"org.example.other%1"_s.arg(i % 7);
        const QString key = u"0|%1|%2|null|10123"_s.arg(package).arg(i);
        const int flags = i % 10 == 0 ? 0x62 : 0x10;
        const bool media = i % 20 == 1;
        text +=
            u"    NotificationRecord(0x0a1b%1: pkg=%2 user=UserHandle{0} id=%1 tag=null importance=3 key=%3: "
            u"Notification(channel=default shortcut=null contentView=null vibrate=null sound=null "
            u"defaults=0x0 flags=0x%4 color=0x00000000%5 vis=PRIVATE))\n"_s.arg(i)
                .arg(package, key, QString::number(flags, 16), media ? u" category=transport"_s : QString());
        text +=
            u"      uid=10123 userId=0\n      opPkg=%1\n      flags=0x%2\n      pri=0\n      key=%3\n"_s.arg(
                package, QString::number(flags, 16), key);
        text += u"      seen=false\n      extras={\n"_s;
        text += u"        android.title=String (Message %1 from Anna)\n"_s.arg(i);
        text += u"        android.text=String (See you at 8 (or 9), bring the notes for item %1)\n"_s.arg(i);
        if (media) text += u"        android.template=String (android.app.Notification$MediaStyle)\n"_s;
        text += u"        android.showWhen=Boolean (true)\n      }\n"_s;
    }
    return text + u"\n  mNotificationsEnabled=true\n"_s;
}

void parse200(benchmark::State& state) {
    const QString text = dump(200);
    NotificationWatch watch;
    for (auto _ : state) {
        const QList<AndroidNotification> list = AndroidNotifications::forPackage(
            AndroidNotifications::parse(text), u"org.example.chat"_s, state.range(0) != 0);
        benchmark::DoNotOptimize(watch.handle(list));
    }
    state.counters["dump_KiB"] = double(text.size() * 2) / 1024;
}
BENCHMARK(parse200)->Arg(0)->Arg(1)->ArgNames({"allPackages"})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
