#pragma once

#include <QByteArray>
#include <QDateTime>

// Readers of the response header values that a download acts on. A value that the HTTP rules refuse
// reads as absent: a server that writes nonsense is not followed.
namespace HttpHeaderValues {

// "bytes FIRST-LAST/TOTAL" of a 206 response.
struct ContentRange {
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1; // -1 for "*": the whole length is not known
};

// The range of a Content-Range value; false when it is not "bytes FIRST-LAST/TOTAL" in digits with
// FIRST <= LAST and LAST < TOTAL (or TOTAL "*").
bool parseContentRange(const QByteArray& value, ContentRange* range);

// Retry-After in seconds from now: a number of seconds, or an HTTP date in any of its three forms (a
// date past counts as 0). -1 when absent or unreadable.
qint64 retryAfterSeconds(const QByteArray& value, const QDateTime& now);

} // namespace HttpHeaderValues
