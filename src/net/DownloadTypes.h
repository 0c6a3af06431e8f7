#pragma once

#include "NameMask.h"
#include "WorkLimits.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

class QNetworkCookieJar;

// One address to download.
struct DownloadItem {
    // The address as the user sees it: the file name comes from it, and results report it.
    QString url;
    // The page where the address was found, sent as Referer. May be empty.
    QString referer;
    // That page's encoding, as document.characterSet names it: a name in the address or in a plain
    // Content-Disposition filename that is no UTF-8 is read in it (see LocalFileName). May be empty.
    QString charset;
    // The file name to use as it is; empty takes the name from the response (Content-Disposition)
    // or LocalFileName(url), with the extension that the content type implies.
    QString fileName;
    // The address to fetch when it differs from url as written (an address typed without scheme);
    // empty parses url.
    QUrl address;
    // What DownloadOptions::nameMask names the file after (all but the name it gets without one).
    NameMask::Values mask;
    // A hidden file in the folder that keeps the data while it arrives, so that a killed transfer
    // can be continued from its bytes; empty writes into a file without a name. What it holds is
    // continued with Range and If-Range when validator (a strong ETag, else Last-Modified) is
    // known, and replaced otherwise.
    QString partialName;
    QByteArray validator;
    // The whole length the server announced for that version; -1 when not known.
    qint64 expectedSize = -1;
};

struct DownloadOptions {
    // Transfers running at once (at most WorkLimits::MostTransfersAtOnce), and at most this many to
    // one host.
    int parallel = WorkLimits::DefaultTransfersAtOnce;
    int maxPerHost = WorkLimits::TransfersPerHost;
    // Retries of an item after a transient failure (a refused or dropped connection, a time-out,
    // 408, 429, 500, 502, 503, 504); 0 turns them off.
    int retries = WorkLimits::DefaultRetries;
    // The wait before the first retry; it doubles for each one after (1 s, 2 s, 4 s).
    int retryDelayMs = 1000;
    // A Retry-After up to this long is waited for; a longer one ends the item. A 429 or 503 with
    // Retry-After pauses its host for every item in any case (see HostPauses, at most 10 minutes).
    int maxRetryAfterSeconds = 10 * 60;
    // Sent as User-Agent; empty leaves Qt's default.
    QByteArray userAgent;
    // Cookies sent with each request (not owned; may be null or go away during the batch).
    QNetworkCookieJar* cookieJar = nullptr;
    // Names the files (folders included) when not empty; an item's fileName goes before it.
    NameMask nameMask;
    // A name that is taken gets a number; when false, a taken name is a failure.
    bool numberTakenNames = true;
    // A transfer that receives nothing for this long fails (0: never).
    int inactivityTimeoutMs = 60000;
};

struct DownloadResult {
    enum class Status { Succeeded, Failed, Cancelled };

    QString url;
    Status status = Status::Failed;
    // The file written (folder and name) on success.
    QString path;
    // The name the file would have had; the name in path differs when that one was taken and the
    // file got a number ("大 (2).jpg" for "大.jpg"). Empty when no name was reached.
    QString wantedName;
    // Why it failed or was cancelled; empty on success.
    QString message;
    qint64 bytes = 0;
    // On success: the address the file finally came from, after redirects.
    QString finalUrl;

    bool succeeded() const { return status == Status::Succeeded; }
};

using DownloadResults = QList<DownloadResult>;
