#pragma once

#include "datacare/AppLock.h"
#include "datacare/PasswordPrompt.h"
#include "support/TestSupport.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

// The password prompt as a person uses it.
namespace PromptDriver {

inline QDialog* shown(const PasswordPrompt& prompt, int timeoutMs = 3000) {
    return waitUntil([&] { return prompt.dialog() && prompt.dialog()->isVisible(); }, timeoutMs)
               ? prompt.dialog()
               : nullptr;
}

inline bool staysAway(const PasswordPrompt& prompt) {
    return !waitUntil([&] { return prompt.dialog() != nullptr; }, AppLock::promptDelayMs + 300);
}

// Types `typed` as key presses carrying text (any keyboard layout) and presses OK; returns the
// prompt's reason text.
inline QString answer(const PasswordPrompt& prompt, const QString& typed) {
    QDialog* dialog = shown(prompt);
    if (!dialog) return QStringLiteral("<no prompt>");
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("password"));
    waitUntil([&] { return field->isEnabled(); });
    for (const QChar character : typed) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(field, &press);
    }
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("unlock")), Qt::LeftButton);
    EXPECT_EQ(field->text(), QString()); // taken out of the field at once, before the check
    return dialog->findChild<QLabel*>(QStringLiteral("reason"))->text();
}

} // namespace PromptDriver
