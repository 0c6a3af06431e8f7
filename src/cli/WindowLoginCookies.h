#pragma once

#include "CookieFile.h"

// The cookies of the window's browser profile (HarvestProfile::windowFolder()), read for a command
// without touching the profile: the engine's cookie database is copied and the copy read, so that a
// window that runs at the same time is neither blocked nor changed.
namespace WindowLoginCookies {

// The cookies kept in folder, oldest first, expired ones left out. error is set when there is no
// log-in to read (the window never ran) or the database cannot be read.
CookieFile::Reading read(const QString& folder, const QDateTime& now = QDateTime::currentDateTimeUtc());

} // namespace WindowLoginCookies
