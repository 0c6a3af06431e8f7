#pragma once

#include <QByteArray>

// How the program presents itself to web servers. The hidden pages (HarvestProfile sets it on the
// engine) and the downloads, from the window and the command line alike, send this one user agent,
// so that a harvest and the downloads that follow it look like one browser. It is the browser
// engine's own (Qt WebEngine's Chromium), known here without loading the engine.
namespace BrowserIdentity {

QByteArray userAgent();

} // namespace BrowserIdentity
