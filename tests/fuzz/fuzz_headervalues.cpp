// The response header values a download acts on: a Content-Range taken is one that HTTP allows, and
// every such range is taken; Retry-After in seconds or as a date; and the Referer never carries a
// fragment or user info, nor more than the origin to another site, nor anything from https to http.

#include "FuzzInput.h"
#include "HttpHeaderValues.h"
#include "RefererPolicy.h"

#include <QLocale>

// Input: a header value, optionally followed by a NUL and a second address (the page is the first).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString shown = QString::fromLatin1(input);
    FuzzInput::Choices choices(data, size);

    HttpHeaderValues::ContentRange range;
    if (HttpHeaderValues::parseContentRange(input, &range))
        FuzzInput::require(range.first >= 0 && range.first <= range.last &&
                               (range.total == -1 || range.total > range.last),
                           "a range taken is one HTTP allows", shown);
    const qint64 first = choices.below(1u << 30), last = first + choices.below(1000),
                 total = last + 1 + choices.below(3);
    const QByteArray written = "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/' +
                               (choices.below(2) ? QByteArray::number(total) : QByteArray("*"));
    FuzzInput::require(HttpHeaderValues::parseContentRange(written, &range) && range.first == first &&
                           range.last == last,
                       "a range that HTTP allows is taken", QString::fromLatin1(written));

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000 + choices.below(1u << 28), Qt::UTC);
    const qint64 seconds = HttpHeaderValues::retryAfterSeconds(input, now);
    FuzzInput::require(seconds >= -1, "Retry-After is a wait or nothing", shown);
    const qint64 wait = choices.below(1u << 24);
    const QByteArray date =
        QLocale::c().toString(now.addSecs(wait), u"ddd, dd MMM yyyy hh:mm:ss 'GMT'").toLatin1();
    FuzzInput::require(HttpHeaderValues::retryAfterSeconds(QByteArray::number(wait), now) == wait &&
                           HttpHeaderValues::retryAfterSeconds(date, now) == wait,
                       "Retry-After in seconds and as a date", QString::fromLatin1(date));

    const qsizetype nul = input.indexOf('\0');
    const QUrl page(nul < 0 ? shown : shown.left(nul));
    const QUrl target(nul < 0 ? shown : shown.mid(nul + 1));
    const QByteArray referer = RefererPolicy::refererFor(page, target);
    if (referer.isEmpty())
        return 0;
    const QUrl sent = QUrl::fromEncoded(referer, QUrl::StrictMode);
    FuzzInput::require(sent.isValid() && !sent.hasFragment() && sent.userInfo().isEmpty() &&
                           !referer.contains('#'),
                       "the Referer has no fragment and no user info", shown, QString::fromLatin1(referer));
    FuzzInput::require(!(page.scheme() == u"https" && target.scheme() == u"http"),
                       "nothing from https to http", shown, QString::fromLatin1(referer));
    if (sent.host() != target.host() || sent.scheme() != target.scheme())
        FuzzInput::require(sent.path() == u"/" && !sent.hasQuery(), "only the origin to another site", shown,
                           QString::fromLatin1(referer));
    return 0;
}
