// vantlectl setup: the set-up screen's flow in a terminal.
#include "app/ctl/CtlCommand.h"
#include "core/SettingsKeys.h"
#include "core/VantleSettings.h"
#include "platform/SettingsStore.h"
#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/AndroidVersions.h"

#include <QEventLoop>
#include <QLocale>
#include <QTextStream>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

using Kind = ProvisionPhase::Kind;

void print(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Runs the event loop until the provisioner reaches one of `kinds`, showing progress on the way.
ProvisionPhase waitForPhase(std::initializer_list<Kind> kinds) {
    AndroidRuntimeProvisioner& provisioner = AndroidRuntimeProvisioner::shared();
    QEventLoop loop;
    QString lastStatus;
    const auto show = [&] {
        const ProvisionPhase phase = provisioner.phase();
        if (phase.kind == Kind::downloading) {
            constexpr int width = 30;
            const int filled = int(phase.fraction * width);
            print(u"\r%1 [%2%3] %4%"_s.arg(phase.text, QString(filled, u'#'), QString(width - filled, u' '))
                      .arg(int(phase.fraction * 100)));
        } else if (phase.kind == Kind::installing && phase.text != lastStatus) {
            lastStatus = phase.text;
            print(u"\n"_s + phase.text);
        }
        if (std::find(kinds.begin(), kinds.end(), phase.kind) != kinds.end()) loop.quit();
    };
    QObject::connect(&provisioner, &AndroidRuntimeProvisioner::phaseChanged, &loop, show);
    show();
    if (std::find(kinds.begin(), kinds.end(), provisioner.phase().kind) == kinds.end()) loop.exec();
    return provisioner.phase();
}

void printPlan(const RuntimePlan& plan) {
    qint64 total = 0;
    print(u"Vantle will download from Google:\n"_s);
    for (const RuntimeArchive& archive : plan.archives) {
        total += archive.size;
        print(u"  %1 %2 (%3)\n    %4\n"_s.arg(archive.componentName(), archive.revision,
                                              QLocale().formattedDataSize(archive.size),
                                              archive.url.toString()));
    }
    print(u"Total: %1\n\n"_s.arg(QLocale().formattedDataSize(total)));
    for (const RuntimeLicense& license : plan.licenses)
        print(u"----- Licence %1 -----\n%2\n\n"_s.arg(license.id, license.text.trimmed()));
}

bool askAcceptance() {
    print(u"You are accepting these licences with Google. Vantle only downloads the packages for you.\n"
          "Accept & Download? [y/N] "_s);
    QTextStream input(stdin);
    const QString answer = input.readLine().trimmed().toLower();
    return answer == "y"_L1 || answer == "yes"_L1;
}

int run(const QStringList& arguments) {
    std::optional<int> api;
    bool accepted = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--accept-licences"_L1) {
            accepted = true;
        } else if (arguments[i] == "--api"_L1 && i + 1 < arguments.size()) {
            bool ok = false;
            api = arguments[++i].toInt(&ok);
            const auto& all = AndroidVersions::all();
            if (!ok || std::none_of(all.begin(), all.end(), [&](const auto& v) { return v.api == *api; })) {
                std::fprintf(stderr, "vantlectl setup: Android API %s is not offered (30 to 36)\n",
                             qPrintable(arguments[i]));
                return exitUsage;
            }
        } else {
            return exitUsage;
        }
    }
    VantleSettings::install(openUserSettings());
    if (api) VantleSettings::set(SettingsKeys::androidAPI, qint64(*api));

    AndroidRuntimeProvisioner& provisioner = AndroidRuntimeProvisioner::shared();
    print(u"Set up Android: %1\n"_s.arg(AndroidVersions::name(AndroidVersions::selected())));
    provisioner.prepare();
    if (!provisioner.virtualisationProblem().isEmpty()) // set-up goes on: the download is of use once fixed
        std::fprintf(stderr, "vantlectl setup: warning: %s\n",
                     qPrintable(provisioner.virtualisationProblem()));
    ProvisionPhase phase = waitForPhase({Kind::needsAcceptance, Kind::ready, Kind::failed});
    if (phase.kind == Kind::needsAcceptance) {
        printPlan(*provisioner.plan());
        if (!accepted && !askAcceptance()) {
            print(u"Licences declined; nothing was downloaded.\n"_s);
            return exitFailure;
        }
        provisioner.acceptAndInstall();
        phase = waitForPhase({Kind::ready, Kind::failed});
        print(u"\n"_s);
    }
    if (phase.kind == Kind::failed) {
        std::fprintf(stderr, "vantlectl setup: %s\n", qPrintable(phase.text));
        return exitFailure;
    }
    print(u"Android is ready at "_s + AndroidRuntimePaths::managedRoot() + u"\n"_s);
    return exitSuccess;
}

} // namespace

const CtlCommand setupCtlCommand{
    "setup",
    "setup [--api N] [--accept-licences]\n"
    "                          download Google's Android for Vantle (asks to accept Google's licences)",
    run};
