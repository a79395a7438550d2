#pragma once

#include <QString>

// Creates `folder` (with its parents) and makes it reachable by this user only. False when it
// cannot be made so, or belongs to someone else: nothing private may then go into it.
bool ensurePrivateFolder(const QString& folder);
