#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

// The download layer's rules for one HTTP exchange, shared by everything that fetches: which
// addresses it fetches, which answers are redirects, which failures are worth a second try, and
// how a partial answer names its range.
namespace TransferRules {

bool isHttp(const QUrl& url);
bool isRedirectStatus(int status);
// Failures that a second try may well not meet: the server or the way to it was busy or broke.
bool isTransient(QNetworkReply::NetworkError error, int status);
// Retry-After in seconds (a number, or a date from now); -1 when absent or unreadable.
qint64 retryAfterSeconds(const QNetworkReply* reply);
// "bytes FIRST-LAST/TOTAL": FIRST, and TOTAL (-1 for "*"). False when it cannot be read.
bool parseContentRange(const QByteArray& value, qint64* first, qint64* total);
// Why a redirect from current to target is not followed (no http(s) address, or from https down
// to http); empty when it is.
QString refusedRedirect(const QUrl& current, const QUrl& target);

} // namespace TransferRules
