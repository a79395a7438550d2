#pragma once

#include "core/VantleError.h"
#include "provisioning/RuntimePlan.h"
#include "runtime/AndroidRuntimePaths.h"

#include <QDateTime>
#include <QStringList>

// A file of the install that could not be written (a full disk, a read-only folder).
class InstallWriteError final : public VantleError {
public:
    explicit InstallWriteError(QString path)
        : m_description(QStringLiteral("Could not write ") + path)
        , m_what(m_description.toUtf8()) {}
    QString description() const override { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }
    void raise() const override { throw *this; }
    InstallWriteError* clone() const override { return new InstallWriteError(*this); }

private:
    QString m_description;
    QByteArray m_what;
};

// The files the provisioner writes once every archive is installed: the virtual device, the
// install record and the accepted licences. Every write is atomic and throws InstallWriteError.
namespace RuntimeInstallRecord {

// <AVD home>/<name>.ini and <name>.avd/config.ini, for this computer's system-image ABI. Nothing is
// written when the paths name no AVD home.
void writeAVD(const AndroidRuntimePaths& paths);

// The text of runtime-manifest.json: sorted keys, pretty-printed.
QByteArray manifest(const QList<RuntimeArchive>& archives, const QStringList& acceptedLicenses,
                    const QDateTime& installedAt);

// Writes data to path through a temporary file renamed into place.
void writeAtomically(const QString& path, const QByteArray& data);

} // namespace RuntimeInstallRecord
