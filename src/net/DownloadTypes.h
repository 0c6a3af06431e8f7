#pragma once

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
    // The file name to use; empty takes LocalFileName(url).
    QString fileName;
    // The address to fetch when it differs from url as written (an address typed without scheme);
    // empty parses url.
    QUrl address;
};

struct DownloadOptions {
    // Transfers running at once, and at most this many to one host.
    int parallel = 4;
    int maxPerHost = 6;
    // Sent as User-Agent; empty leaves Qt's default.
    QByteArray userAgent;
    // Cookies sent with each request (not owned; may be null or go away during the batch).
    QNetworkCookieJar* cookieJar = nullptr;
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
    // Why it failed or was cancelled; empty on success.
    QString message;
    qint64 bytes = 0;

    bool succeeded() const { return status == Status::Succeeded; }
};

using DownloadResults = QList<DownloadResult>;
