#include "provisioning/RuntimeProvisionError.h"

#include "runtime/HostDescription.h"

using namespace Qt::Literals::StringLiterals;

namespace {
// How Google's lists would name this computer to a person.
QString hostName() {
    const HostDescription& host = HostDescription::current();
    if (host.repositoryOS == "macosx"_L1) return u"Apple Silicon"_s;
    return u"Linux "_s + host.systemImageABI;
}
} // namespace

RuntimeProvisionError::RuntimeProvisionError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload)) {
    m_what = description().toUtf8();
}

QString RuntimeProvisionError::description() const {
    switch (m_kind) {
    case Kind::manifest:
        return u"Could not read Google's Android package list: "_s + m_payload;
    case Kind::missingPackage:
        return u"Google's package list has no download for "_s + m_payload + u" on "_s + hostName();
    case Kind::checksum:
        return u"Downloaded "_s + m_payload + u" failed its checksum. Please try again."_s;
    case Kind::extract:
        return u"Could not unpack "_s + m_payload;
    case Kind::download:
        return u"Download failed: "_s + m_payload;
    case Kind::diskSpace:
        return m_payload;
    }
    return {};
}
