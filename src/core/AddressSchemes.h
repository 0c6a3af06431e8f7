#pragma once

#include <QStringView>
#include <QUrl>

// Which addresses each part of the program takes, by their scheme (compared without regard to
// case). Every rule about schemes lives here.
namespace AddressSchemes {

// http or https: what is fetched over the network, what a Referer is sent from and to, and what
// the quick reader reads itself.
bool isWeb(QStringView scheme);
bool isWeb(const QUrl& url);
// What a download takes: a web address or a data: address (decoded, never fetched).
bool isDownloadable(const QUrl& url);
// What the harvester loads as a page from its input: web addresses and local files. A script or
// mail address has no page of its own: it would act on the page shown before.
bool isHarvestPage(const QUrl& url);
// Where a hidden page may move by itself: web addresses and the documents the engine makes
// (about:, data:, blob:); never a local file, nor any scheme of the program's own.
bool isPageNavigation(const QUrl& url);
// From https to http: a redirect that a download refuses, a Referer that is not sent.
bool isDowngrade(const QUrl& from, const QUrl& to);

} // namespace AddressSchemes
