#include "datacare/PasswordPrompt.h"

#include "platform/CurrentUser.h"
#include "platform/OwnerAuthentication.h"

#include <QDialogButtonBox>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

std::optional<QString> PasswordPrompt::unavailableReason() {
    return OwnerAuthentication::unavailableReason(m_service.constData());
}

void PasswordPrompt::evaluate(const QString& reason, std::function<void(bool success, QString error)> reply) {
    // One prompt at a time: a second question while one is open is refused rather than stacked.
    if (m_dialog) {
        reply(false, u"another request is being answered"_s);
        return;
    }
    auto* dialog = new PasswordDialog(reason, m_service);
    // The question is over when the answer is given, not when the dialog is deleted later.
    dialog->onFinished = [this, reply = std::move(reply)](bool success, const QString& error) {
        m_dialog.clear();
        reply(success, error);
    };
    m_dialog = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

PasswordDialog::PasswordDialog(const QString& reason, QByteArray pamService, QWidget* parent)
    : QDialog(parent)
    , m_service(std::move(pamService)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(true);
    setWindowTitle(u"Vantle"_s);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setMinimumWidth(360);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(40, 40));
    auto* headline = new QLabel(u"Vantle wants to "_s + reason + u'.', this);
    headline->setObjectName(u"reason"_s);
    headline->setWordWrap(true);
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    const QString user = CurrentUser::loginName().value_or(u"this computer's user"_s);
    auto* explanation = new QLabel(u"Enter the password of "_s + user + u" to allow this."_s, this);
    explanation->setWordWrap(true);

    m_password = new QLineEdit(this);
    m_password->setObjectName(u"password"_s);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(u"Password"_s);
    m_problem = new QLabel(this);
    m_problem->setObjectName(u"problem"_s);
    m_problem->setStyleSheet(u"color: #c62828;"_s);
    m_problem->hide();

    auto* buttons = new QDialogButtonBox(this);
    m_cancel = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    m_cancel->setObjectName(u"cancel"_s);
    m_unlock = buttons->addButton(u"OK"_s, QDialogButtonBox::AcceptRole);
    m_unlock->setObjectName(u"unlock"_s);
    m_unlock->setDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(headline);
    text->addWidget(explanation);
    text->addSpacing(6);
    text->addWidget(m_password);
    text->addWidget(m_problem);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &PasswordDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Closing the window, Esc and Cancel all end here.
    connect(this, &QDialog::rejected, this, [this] { finish(false, QString()); });
    m_password->setFocus();
}

void PasswordDialog::submit() {
    if (m_checking) return;
    // The typed text leaves the field at once; its UTF-8 copy is the only one the check sees, and
    // the check overwrites it.
    QByteArray password = m_password->text().toUtf8();
    // setText, not clear(): clearing keeps the removed characters in the field's undo history.
    m_password->setText(QString());
    m_checking = true;
    m_password->setEnabled(false);
    m_unlock->setEnabled(false);
    m_problem->hide();
    auto* watcher = new QFutureWatcher<OwnerAuthentication::Verdict>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        const OwnerAuthentication::Verdict verdict = watcher->result();
        using Outcome = OwnerAuthentication::Verdict::Outcome;
        checked(verdict.outcome == Outcome::accepted, verdict.outcome == Outcome::unavailable,
                verdict.description);
    });
    watcher->setFuture(QtConcurrent::run([password = std::move(password), service = m_service]() mutable {
        return OwnerAuthentication::check(password, service.constData());
    }));
}

void PasswordDialog::checked(bool accepted, bool unavailable, const QString& description) {
    m_checking = false;
    if (m_finished) return;
    if (accepted) {
        finish(true, QString());
        return;
    }
    ++m_failures;
    if (unavailable || m_failures >= PasswordPrompt::attempts) {
        finish(false, m_failures >= PasswordPrompt::attempts && !unavailable
                          ? description + u" ("_s + QString::number(m_failures) + u" attempts)"_s
                          : description);
        return;
    }
    m_problem->setText(description + u". Try again."_s);
    m_problem->show();
    m_password->setEnabled(true);
    m_unlock->setEnabled(true);
    m_password->setFocus();
}

void PasswordDialog::finish(bool success, const QString& error) {
    if (m_finished) return;
    m_finished = true;
    // The callback may open the next dialog: this one is out of the way first.
    hide();
    deleteLater();
    if (const auto reply = std::move(onFinished)) reply(success, error);
}
