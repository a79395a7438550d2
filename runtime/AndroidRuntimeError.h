#pragma once

#include "core/VantleError.h"

// The error of everything that drives Android's tools.
class AndroidRuntimeError final : public VantleError {
public:
    enum class Kind {
        toolMissing,
        commandFailed,
        bootTimeout,
        packageNameMissing,
        invalidPackageName,
        emulatorQuit,
        virtualisationUnavailable
    };

    static AndroidRuntimeError toolMissing(const QString& name) { return {Kind::toolMissing, name}; }
    static AndroidRuntimeError commandFailed(const QString& message) {
        return {Kind::commandFailed, message};
    }
    static AndroidRuntimeError bootTimeout() { return {Kind::bootTimeout, {}}; }
    // The emulator ended before Android finished starting; `lastErrorLine` is what it said last.
    static AndroidRuntimeError emulatorQuit(const QString& lastErrorLine) {
        return {Kind::emulatorQuit, lastErrorLine};
    }
    // It ended, and the host cannot give it hardware virtualisation: `problem` says what to do.
    static AndroidRuntimeError virtualisationUnavailable(const QString& problem) {
        return {Kind::virtualisationUnavailable, problem};
    }
    static AndroidRuntimeError packageNameMissing() { return {Kind::packageNameMissing, {}}; }
    // The APK names a package that Android would refuse (and that must never reach a device shell).
    static AndroidRuntimeError invalidPackageName(const QString& name) {
        return {Kind::invalidPackageName, name};
    }

    Kind kind() const { return m_kind; }
    QString description() const override;

    const char* what() const noexcept override { return m_what.constData(); }
    void raise() const override { throw *this; }
    AndroidRuntimeError* clone() const override { return new AndroidRuntimeError(*this); }

private:
    AndroidRuntimeError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};
