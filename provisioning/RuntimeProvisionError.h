#pragma once

#include "core/VantleError.h"

// The error of fetching, planning and installing Vantle's own Android runtime.
class RuntimeProvisionError final : public VantleError {
public:
    enum class Kind { manifest, missingPackage, checksum, extract, download };

    static RuntimeProvisionError manifest(const QString& detail) { return {Kind::manifest, detail}; }
    static RuntimeProvisionError missingPackage(const QString& path) { return {Kind::missingPackage, path}; }
    static RuntimeProvisionError checksum(const QString& component) { return {Kind::checksum, component}; }
    static RuntimeProvisionError extract(const QString& component) { return {Kind::extract, component}; }
    static RuntimeProvisionError download(const QString& detail) { return {Kind::download, detail}; }

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
