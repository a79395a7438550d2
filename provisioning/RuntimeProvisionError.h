#pragma once

#include "core/VantleError.h"

// The error of fetching, planning and installing Vantle's own Android runtime.
class RuntimeProvisionError final : public VantleError {
public:
    enum class Kind { manifest, missingPackage, checksum, extract, download, diskSpace };

    static RuntimeProvisionError manifest(const QString& detail) { return {Kind::manifest, detail}; }
    static RuntimeProvisionError missingPackage(const QString& path) { return {Kind::missingPackage, path}; }
    static RuntimeProvisionError checksum(const QString& component) { return {Kind::checksum, component}; }
    // "Could not unpack <component>", followed by ": <reason>" when there is one.
    static RuntimeProvisionError extract(const QString& component, const QString& reason = {}) {
        return {Kind::extract, reason.isEmpty() ? component : component + QStringLiteral(": ") + reason};
    }
    static RuntimeProvisionError download(const QString& detail) { return {Kind::download, detail}; }
    // "Android needs about <N> GB free in <folder>; <M> GB are free." (DiskSpace::shortfall)
    static RuntimeProvisionError diskSpace(const QString& message) { return {Kind::diskSpace, message}; }

    Kind kind() const { return m_kind; }
    QString description() const override;

    const char* what() const noexcept override { return m_what.constData(); }
    void raise() const override { throw *this; }
    RuntimeProvisionError* clone() const override { return new RuntimeProvisionError(*this); }

private:
    RuntimeProvisionError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};
