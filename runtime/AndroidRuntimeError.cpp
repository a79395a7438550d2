#include "runtime/AndroidRuntimeError.h"

using namespace Qt::Literals::StringLiterals;

AndroidRuntimeError::AndroidRuntimeError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload)) {
    m_what = description().toUtf8();
}

QString AndroidRuntimeError::description() const {
    switch (m_kind) {
    case Kind::toolMissing:
        return u"Android tool missing: "_s + m_payload;
    case Kind::commandFailed:
        return m_payload.isEmpty() ? u"Android command failed"_s : m_payload;
    case Kind::bootTimeout:
        return u"Vantle Android did not finish starting"_s;
    case Kind::packageNameMissing:
        return u"Could not read the APK package name"_s;
    }
    return {};
}
