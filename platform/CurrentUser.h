#pragma once

#include <QString>
#include <optional>

namespace CurrentUser {

// The login name of the user this process runs as (its real user id), read from the user
// database; nothing when the database has no entry. Safe from any thread.
std::optional<QString> loginName();

} // namespace CurrentUser
