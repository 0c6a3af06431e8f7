#pragma once

#include "DownloadTypes.h"
#include "WorkLimits.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

class ContentDecoder;
class CurlSession;
class HttpFetch;
class QNetworkCookieJar;
class QTimer;
class ReservedFile;
class UniqueFileReservation;

// One address of a batch, from the request to the published file. Asks for the body as it is
// (Accept-Encoding: identity), follows up to MaxRedirects redirects itself with the batch's cookies
// (never from https to http), sends Referer as browsers do (strict-origin-when-cross-origin), and
// writes the body into a file that has no name yet. Only a response that carries the file counts
// (200, 203, and 206 for a range that was asked for); its length, or the end of its compressed
// stream, is checked before the file is published. A body compressed anyway is decoded, unless it is
// a gzip file (by name or type) labelled gzip: that is saved as sent, as browsers save it. A
// transient failure is retried with growing
// waits, resuming with Range/If-Range where the server allows it. A 429 or 503 with Retry-After
// pauses the host for the whole process (HostPauses); no request goes to a paused host.
//
// The name: once the first response that carries the file has arrived, nameWanted() says which name
// the item wants (Content-Disposition, else the address, with the extension its content type
// implies); the owner then claims a name in the batch's order and hands it over with assignName().
// When both the name and the whole body are there, readyToPublish() asks the owner to flush the
// data to the disk (with others at once, see DownloadBatch), and publishFlushed() then gives the file
// its name. Ends with exactly one finished().
class DownloadTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxRedirects = WorkLimits::MostRedirects;

    // Requests go through session, with the cookies of cookies (may be null).
    DownloadTransfer(const DownloadItem& item, const DownloadOptions& options, CurlSession* session,
                     QNetworkCookieJar* cookies, UniqueFileReservation* folder, QObject* parent = nullptr);
    ~DownloadTransfer() override;

    // Starts the transfer; everything is reported later, from the event loop.
    void start();
    // Stops the transfer, removes what was written, and reports it as cancelled (unless it has
    // already ended).
    void cancel();
    // The name claimed for this item (see nameWanted), or why none could be.
    void assignName(const QString& claimed);
    void failNaming(const QString& reason);
    // The file's data, for the owner to flush before publishFlushed (-1 when there is none).
    int dataDescriptor() const;
    // The data is on the disk (flushError empty) or could not be put there: publishes or fails.
    void publishFlushed(const QString& flushError);

Q_SIGNALS:
    void received(qint64 bytes);
    void nameWanted(const QString& name);
    // The whole body is in the file: no connection is used any more, only the name is awaited.
    void bodyComplete();
    // The response carries the file: what identifies its version for a later Range request
    // (empty when the server cannot send parts), and its whole length (-1 when not known).
    void resumable(const QByteArray& validator, qint64 totalBytes);
    // The body and the name are there; the data waits to be flushed (see publishFlushed).
    void readyToPublish();
    void finished(const DownloadResult& result);

private:
    void begin();
    void saveDataAddress();
    void sendRequest(const QUrl& url);
    void onHeaders();
    void onBody(const char* data, qint64 size);
    void onFetchFinished();
    bool checkResponse();
    // The name the item wants: Content-Disposition, else the address, with the extension that the
    // content type implies.
    QString nameFromResponse(const HttpFetch* reply) const;
    // name (the name it gets without a mask) as DownloadOptions::nameMask makes it, with the
    // extension that type implies when the masked name has none; name itself without a mask.
    QString masked(const QString& name, const QString& type) const;
    void followRedirect(int status, const QUrl& location);
    bool writeBody(const char* data, qint64 size);
    void completeBody();
    void retryOrFail(const QString& message, bool transient, qint64 retryAfterSeconds = -1);
    // Sends the request for m_current after waitMs.
    void sendLater(qint64 waitMs);
    void requestPublish();
    void publish();
    void startOver();
    void fail(const QString& message, DownloadResult::Status status = DownloadResult::Status::Failed);
    void dropReply();

    DownloadItem m_item;
    DownloadOptions m_options;
    QPointer<CurlSession> m_session;
    QPointer<QNetworkCookieJar> m_cookies;
    UniqueFileReservation* m_folder;
    std::unique_ptr<ReservedFile> m_file;
    std::unique_ptr<ContentDecoder> m_decoder;
    QPointer<HttpFetch> m_fetch;
    QTimer* m_retryTimer = nullptr;
    QUrl m_current;
    QString m_wantedName;
    QString m_claimedName;
    // What the last response that carried the file said about resuming it.
    QByteArray m_validator;
    bool m_acceptsRanges = false;
    // Where the body of the next request starts (Range), and the whole length when known.
    qint64 m_resumeFrom = 0;
    qint64 m_expectedTotal = -1;
    // Bytes of this response's body as sent (before decoding).
    qint64 m_responseBytes = 0;
    int m_redirects = 0;
    int m_retriesDone = 0;
    bool m_statusChecked = false;
    bool m_skipBody = false;
    bool m_bodyComplete = false;
    bool m_publishing = false;
    bool m_publishRequested = false;
    bool m_finished = false;
};
