#pragma once

#include <QByteArray>
#include <QUrl>

// What a browser sends as Referer under its default policy, strict-origin-when-cross-origin.
namespace RefererPolicy {

// The Referer for a request to target made from the page: the page's address (without fragment and
// user info) to the same origin, only its origin ("https://host/") to another one, and nothing
// from https to http or from a page that is no http(s) address.
QByteArray refererFor(const QUrl& page, const QUrl& target);

} // namespace RefererPolicy
