#pragma once

#include <QNetworkReply>
#include <QString>
#include <QUrl>

// The download layer's rules for one HTTP exchange, shared by everything that fetches (downloads
// and image probes): which answers are redirects and where they may lead, which failures are worth
// a second try, and how long to wait before it.
namespace TransferRules {

bool isRedirectStatus(int status);
// Failures that a second try may well not meet: the server or the way to it was busy or broke.
bool isTransient(QNetworkReply::NetworkError error, int status);
// Why a redirect from current to target is not followed (no http(s) address, or from https down
// to http); empty when it is.
QString refusedRedirect(const QUrl& current, const QUrl& target);
// The wait before the next try: what Retry-After asked for (seconds, -1 for nothing), else a first
// delay that doubles with each try already made.
qint64 retryWaitMs(qint64 retryAfterSeconds, int firstDelayMs, int triesMade);
// Whether an answer asks the whole host to wait (429 or 503 with Retry-After, see HostPauses), and
// if so pauses the host of url for every client of the process.
bool pauseHostIfAsked(const QUrl& url, int status, qint64 retryAfterSeconds);

} // namespace TransferRules
