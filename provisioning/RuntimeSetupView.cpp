#include "provisioning/RuntimeSetupView.h"

#include "provisioning/AndroidRuntimeProvisioner.h"
#include "provisioning/AndroidVersions.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
using Kind = ProvisionPhase::Kind;

QLabel* wrappedLabel(const QString& objectName, QWidget* parent = nullptr) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

QProgressBar* busyBar() {
    auto* bar = new QProgressBar;
    bar->setRange(0, 0); // a spinner: no known end
    bar->setTextVisible(false);
    return bar;
}

QPushButton* button(const QString& text, const QString& objectName) {
    auto* result = new QPushButton(text);
    result->setObjectName(objectName);
    return result;
}
} // namespace

RuntimeSetupView::RuntimeSetupView(AndroidRuntimeProvisioner& provisioner, QWidget* parent)
    : QWidget(parent)
    , m_provisioner(provisioner) {
    // Header: the package symbol, title and subtitle.
    auto* symbol = new QLabel;
    const QIcon icon = QIcon::fromTheme(u"package-x-generic"_s, style()->standardIcon(QStyle::SP_ArrowDown));
    symbol->setPixmap(icon.pixmap(48, 48));
    symbol->setAlignment(Qt::AlignHCenter);
    auto* title = wrappedLabel(u"title"_s);
    title->setText(u"Set up Android"_s);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* subtitle = wrappedLabel(u"subtitle"_s);
    subtitle->setText(u"One-time download from Google"_s);

    auto* checkingLabel = wrappedLabel(u"checkingLabel"_s);
    checkingLabel->setText(u"Checking Google's Android packages…"_s);
    m_acceptanceLabel = wrappedLabel(u"acceptanceLabel"_s);
    auto* readButton = button(u"Read licence…"_s, u"readLicenceButton"_s);
    // "&&": a single "&" would mark a keyboard shortcut and vanish from the label.
    auto* acceptButton = button(u"Accept && Download"_s, u"acceptButton"_s);
    acceptButton->setDefault(true);
    auto* buttons = new QWidget;
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->addStretch();
    buttonRow->addWidget(readButton);
    buttonRow->addWidget(acceptButton);
    buttonRow->addStretch();
    m_downloadLabel = wrappedLabel(u"downloadLabel"_s);
    m_downloadBar = new QProgressBar;
    m_downloadBar->setObjectName(u"downloadBar"_s);
    m_downloadBar->setRange(0, 1000);
    m_downloadBar->setTextVisible(false);
    m_percentLabel = wrappedLabel(u"percentLabel"_s);
    m_statusLabel = wrappedLabel(u"statusLabel"_s);
    m_failureLabel = wrappedLabel(u"failureLabel"_s);
    auto* retryButton = button(u"Try again"_s, u"retryButton"_s);

    // A warning above every phase: set-up may go on, but Android will not start until it is fixed.
    m_virtualisation = new QWidget;
    auto* warningSymbol = new QLabel;
    warningSymbol->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(24, 24));
    warningSymbol->setAlignment(Qt::AlignTop);
    m_virtualisationLabel = new QLabel;
    m_virtualisationLabel->setObjectName(u"virtualisationLabel"_s);
    m_virtualisationLabel->setWordWrap(true);
    m_virtualisationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse); // the command can be copied
    auto* warningRow = new QHBoxLayout(m_virtualisation);
    warningRow->addWidget(warningSymbol);
    warningRow->addWidget(m_virtualisationLabel, 1);

    m_pages = new QStackedWidget;
    m_empty = page(new QWidget);
    m_checking = page(busyBar(), checkingLabel);
    m_acceptance = page(m_acceptanceLabel, buttons);
    m_downloading = page(m_downloadLabel, m_downloadBar, m_percentLabel);
    m_installing = page(busyBar(), m_statusLabel);
    m_failed = page(m_failureLabel, retryButton);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(symbol);
    layout->addWidget(title);
    layout->addWidget(subtitle);
    layout->addSpacing(16);
    layout->addWidget(m_virtualisation);
    layout->addWidget(m_pages);
    layout->addStretch();

    connect(readButton, &QPushButton::clicked, this, &RuntimeSetupView::openLicenceSheet);
    connect(acceptButton, &QPushButton::clicked, this, &RuntimeSetupView::openLicenceSheet);
    connect(retryButton, &QPushButton::clicked, &m_provisioner, &AndroidRuntimeProvisioner::prepare);
    connect(&m_provisioner, &AndroidRuntimeProvisioner::phaseChanged, this, &RuntimeSetupView::follow);
    connect(&m_provisioner, &AndroidRuntimeProvisioner::planChanged, this, &RuntimeSetupView::follow);
    connect(&m_provisioner, &AndroidRuntimeProvisioner::virtualisationProblemChanged, this,
            &RuntimeSetupView::showVirtualisationProblem);
    follow();
    showVirtualisationProblem();
}

void RuntimeSetupView::showVirtualisationProblem() {
    m_virtualisationLabel->setText(m_provisioner.virtualisationProblem());
    m_virtualisation->setVisible(!m_provisioner.virtualisationProblem().isEmpty());
}

QWidget* RuntimeSetupView::page(QWidget* first, QWidget* second, QWidget* third) {
    auto* result = new QWidget;
    auto* layout = new QVBoxLayout(result);
    for (QWidget* widget : {first, second, third})
        if (widget)
            layout->addWidget(widget, 0,
                              qobject_cast<QPushButton*>(widget) ? Qt::AlignHCenter : Qt::Alignment());
    layout->addStretch();
    m_pages->addWidget(result);
    return result;
}

void RuntimeSetupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_provisioner.prepare();
}

QString RuntimeSetupView::acceptanceText() const {
    const auto& plan = m_provisioner.plan();
    qint64 total = 0;
    if (plan)
        for (const RuntimeArchive& archive : plan->archives)
            total += archive.size;
    const bool several = plan && plan->archives.size() > 1;
    return u"Vantle runs Android apps on Google's Android Emulator. It downloads "_s +
           (several ? u"the emulator, platform-tools and "_s : QString()) + u"the "_s +
           AndroidVersions::name(AndroidVersions::selected()) + u" system image ("_s +
           QLocale().formattedDataSize(total) +
           u") directly from Google after you accept Google's licence."_s;
}

void RuntimeSetupView::follow() {
    const ProvisionPhase phase = m_provisioner.phase();
    switch (phase.kind) {
    case Kind::idle:
    case Kind::ready:
        m_pages->setCurrentWidget(m_empty);
        break;
    case Kind::checking:
        m_pages->setCurrentWidget(m_checking);
        break;
    case Kind::needsAcceptance:
        m_acceptanceLabel->setText(acceptanceText());
        m_pages->setCurrentWidget(m_acceptance);
        break;
    case Kind::downloading:
        m_downloadLabel->setText(u"Downloading "_s + phase.text + u"…"_s);
        m_downloadBar->setValue(int(phase.fraction * 1000));
        m_percentLabel->setText(QString::number(int(phase.fraction * 100)) + u'%');
        m_pages->setCurrentWidget(m_downloading);
        break;
    case Kind::installing:
        m_statusLabel->setText(phase.text);
        m_pages->setCurrentWidget(m_installing);
        break;
    case Kind::failed:
        m_failureLabel->setText(phase.text);
        m_pages->setCurrentWidget(m_failed);
        break;
    }
}

void RuntimeSetupView::openLicenceSheet() {
    if (m_sheet || !m_provisioner.plan()) return;
    m_sheet = new QDialog(this);
    m_sheet->setObjectName(u"licenceSheet"_s);
    m_sheet->setWindowTitle(u"Google Android SDK licence"_s);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    auto* title = new QLabel(u"Google Android SDK licence"_s);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* texts = new QPlainTextEdit;
    texts->setObjectName(u"licenceTexts"_s);
    texts->setReadOnly(true);
    QStringList licences;
    for (const RuntimeLicense& license : m_provisioner.plan()->licenses)
        licences.append(license.text);
    texts->setPlainText(licences.join(u"\n\n"_s));
    auto* note = new QLabel(
        u"You are accepting this licence with Google. Vantle only downloads the packages for you."_s);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox;
    QPushButton* decline = buttons->addButton(u"Decline"_s, QDialogButtonBox::RejectRole);
    decline->setObjectName(u"declineButton"_s);
    QPushButton* accept = buttons->addButton(u"Accept && Download"_s, QDialogButtonBox::AcceptRole);
    accept->setObjectName(u"sheetAcceptButton"_s);
    auto* layout = new QVBoxLayout(m_sheet);
    layout->addWidget(title);
    layout->addWidget(texts);
    layout->addWidget(note);
    layout->addWidget(buttons);
    m_sheet->resize(560, 460);

    connect(buttons, &QDialogButtonBox::rejected, m_sheet, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, m_sheet, &QDialog::accept);
    connect(m_sheet, &QDialog::accepted, &m_provisioner, &AndroidRuntimeProvisioner::acceptAndInstall);
    connect(m_sheet, &QObject::destroyed, this, [this] { m_sheet = nullptr; });
    m_sheet->open();
}
