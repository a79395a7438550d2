#pragma once

#include "core/VantleError.h"

#include <QString>
#include <optional>

// The display-bridge files Vantle needs to show an Android app: the server pushed to the device
// and, for the external-window mode, the client program.
struct AndroidBridgeComponents {
    enum class Source { bundled, development };

    std::optional<QString> scrcpy; // the client program, when present
    QString server;                // the server jar to push to the device
    std::optional<QString> iconDirectory;
    Source source = Source::bundled;
    std::optional<QString> version;

    static QString sourceName(Source source);
    bool operator==(const AndroidBridgeComponents&) const = default;
};

// The display-bridge files are missing, damaged or undescribed.
class AndroidBridgeError final : public VantleError {
public:
    enum class Kind { missing, corrupted, manifestUnreadable };

    static AndroidBridgeError missing(const QString& what) { return {Kind::missing, what}; }
    static AndroidBridgeError corrupted(const QString& path) { return {Kind::corrupted, path}; }
    static AndroidBridgeError manifestUnreadable(const QString& detail) {
        return {Kind::manifestUnreadable, detail};
    }

    Kind kind() const { return m_kind; }
    QString description() const override;

    const char* what() const noexcept override { return m_what.constData(); }
    void raise() const override { throw *this; }
    AndroidBridgeError* clone() const override { return new AndroidBridgeError(*this); }

private:
    AndroidBridgeError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};
