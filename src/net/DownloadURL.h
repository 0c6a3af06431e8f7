#pragma once

#include <QString>

// Downloads one address into the file dest, for callers that want the answer at once: true when
// the whole body arrived and dest now holds it. Never throws. An existing dest is never replaced
// (that is a failure), nor is anything written through a symbolic link. The transfer runs on a
// thread of its own while the calling thread waits; no event loop runs in the caller.
bool DownloadURL(const QString& url, const QString& dest) noexcept;
