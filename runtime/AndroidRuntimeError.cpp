#include "runtime/AndroidRuntimeError.h"

using namespace Qt::Literals::StringLiterals;

namespace {
// A name from a hostile file may carry line breaks or be very long; the user sees a tame copy.
QString shown(const QString& name) {
    constexpr qsizetype longest = 100;
    QString tame;
    for (const QChar c : name.left(longest))
        tame += c.isPrint() ? c : u'?';
    return name.size() > longest ? tame + u'…' : tame;
}
} // namespace

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
    case Kind::emulatorQuit:
        return m_payload.isEmpty() ? u"Android Emulator quit while starting"_s
                                   : u"Android Emulator quit while starting: "_s + shown(m_payload);
    case Kind::virtualisationUnavailable:
        return m_payload;
    case Kind::packageNameMissing:
        return u"Could not read the APK package name"_s;
    case Kind::invalidPackageName:
        return u"The APK's package name \""_s + shown(m_payload) +
               u"\" is not a valid Android package name"_s;
    }
    return {};
}
