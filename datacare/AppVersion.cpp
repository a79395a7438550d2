#include "datacare/AppVersion.h"

namespace AppVersion {
QString shortVersion() {
    return QStringLiteral(VANTLE_VERSION);
}
QString buildNumber() {
    return QStringLiteral(VANTLE_BUILD_NUMBER);
}
} // namespace AppVersion
