#pragma once

#include <QString>

// Where the window's browser profile (its log-ins, storage and cache) lives: "nepirika/browser" in
// the user's data folder. Known here, so that the commands find it without the browser engine.
namespace BrowserProfileFolder {

QString window();

} // namespace BrowserProfileFolder
