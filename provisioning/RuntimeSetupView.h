#pragma once

#include <QWidget>

class AndroidRuntimeProvisioner;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// The one-screen set-up of Vantle's own Android, shown by the panel while the runtime is not
// complete. It follows the provisioner's phase and plan; showing it asks for a plan, and the
// licence sheet's "Accept & Download" is the only way an install starts. Main thread.
class RuntimeSetupView final : public QWidget {
    Q_OBJECT

public:
    explicit RuntimeSetupView(AndroidRuntimeProvisioner& provisioner, QWidget* parent = nullptr);

    // The licence sheet while it is open, else null.
    QDialog* licenceSheet() const { return m_sheet; }
    // "Vantle runs Android apps on … after you accept Google's licence." for the stored plan.
    QString acceptanceText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void follow();
    void showVirtualisationProblem();
    void openLicenceSheet();
    QWidget* page(QWidget* first, QWidget* second = nullptr, QWidget* third = nullptr);

    AndroidRuntimeProvisioner& m_provisioner;
    QStackedWidget* m_pages;
    QWidget* m_empty;
    QWidget* m_checking;
    QWidget* m_acceptance;
    QWidget* m_downloading;
    QWidget* m_installing;
    QWidget* m_failed;
    QLabel* m_acceptanceLabel;
    QLabel* m_downloadLabel;
    QProgressBar* m_downloadBar;
    QLabel* m_percentLabel;
    QLabel* m_statusLabel;
    QLabel* m_failureLabel;
    QWidget* m_virtualisation; // the warning row, hidden while there is nothing to say
    QLabel* m_virtualisationLabel;
    QDialog* m_sheet = nullptr;
};
