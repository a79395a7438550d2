#pragma once

#include "datacare/DeviceOwnerAuthenticator.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

// The device owner's authentication on Linux: a small Vantle dialog that shows the reason and asks
// for the user's own password, checked through PAM (platform/OwnerAuthentication) on a worker
// thread. A wrong password may be typed again, up to `attempts` times in all; cancelling or closing
// the dialog is a refusal without error. The typed text is taken out of the field and its bytes are
// overwritten as soon as the check has run.
class PasswordPrompt final : public DeviceOwnerAuthenticator {
public:
    static constexpr int attempts = 3;

    // `pamService` names the PAM stack that checks the password (tests name a missing one).
    explicit PasswordPrompt(QByteArray pamService = "vantle")
        : m_service(std::move(pamService)) {}

    std::optional<QString> unavailableReason() override;
    void evaluate(const QString& reason, std::function<void(bool success, QString error)> reply) override;

    // The dialog while one is open (tests drive it; screenshots show it).
    QDialog* dialog() const { return m_dialog; }

private:
    QByteArray m_service;
    QPointer<QDialog> m_dialog; // while a question is open
};

// The dialog itself. Object names: "reason", "password", "problem", "unlock", "cancel".
class PasswordDialog final : public QDialog {
    Q_OBJECT
public:
    PasswordDialog(const QString& reason, QByteArray pamService, QWidget* parent = nullptr);

    // Runs once: true, or false with the system's words (empty when cancelled).
    std::function<void(bool success, QString error)> onFinished;

private:
    void submit();
    void checked(bool accepted, bool unavailable, const QString& description);
    void finish(bool success, const QString& error);

    QByteArray m_service;
    QLineEdit* m_password = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_unlock = nullptr;
    QPushButton* m_cancel = nullptr;
    int m_failures = 0;
    bool m_checking = false;
    bool m_finished = false;
};
