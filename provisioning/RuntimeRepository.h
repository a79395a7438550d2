#pragma once

#include "provisioning/RepositoryParser.h"
#include "provisioning/RuntimePlan.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QMap>
#include <QUrl>
#include <chrono>

// Google's SDK repository: which packages Vantle is missing, where their lists are, and the plan
// of archives to fetch for this computer.
namespace RuntimeRepository {

struct WantedPackage {
    QString packagePath;
    QUrl indexURL; // the list that names it
    QUrl baseURL;  // relative archive URLs resolve against this
    bool operator==(const WantedPackage&) const = default;
};

// Google's repository, or the folder VANTLE_SDK_REPOSITORY names (tests and mirrors). Ends in "/".
QUrl base();
QUrl sysImgBase();
// The packages missing from the managed runtime of the selected version; the system image always.
QList<WantedPackage> wanted();

// Builds the plan from lists already read, one parser per index URL (as text). Throws RuntimeProvisionError.
RuntimePlan planFrom(const QList<WantedPackage>& wanted, const QMap<QString, RepositoryParser>& parsers);

// Fetches each list once (plain GET, following redirects that stay as safe) and builds the plan.
// A list that sends nothing for `stallLimit` is given up. Throws RuntimeProvisionError, or
// download errors of the transport.
QCoro::Task<RuntimePlan> plan(std::chrono::milliseconds stallLimit);

} // namespace RuntimeRepository
