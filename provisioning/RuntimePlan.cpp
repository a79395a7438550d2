#include "provisioning/RuntimePlan.h"

using namespace Qt::Literals::StringLiterals;

QJsonObject RuntimeArchive::toJson() const {
    return {{u"packagePath"_s, packagePath}, {u"displayName"_s, displayName}, {u"revision"_s, revision},
            {u"url"_s, url.toString()},      {u"size"_s, double(size)},       {u"sha1"_s, sha1},
            {u"licenseID"_s, licenseID}};
}
