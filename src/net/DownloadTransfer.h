#pragma once

#include "DownloadTypes.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class ReservedFile;
class UniqueFileReservation;

// One address of a batch, from the request to the renamed file: follows redirects itself (http and
// https only), streams the body into the reserved file, and checks status and length before the file
// gets its name. Ends with exactly one finished().
class DownloadTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxRedirects = 20;

    DownloadTransfer(const DownloadItem& item, const DownloadOptions& options, QNetworkAccessManager* network,
                     UniqueFileReservation* folder, QObject* parent = nullptr);
    ~DownloadTransfer() override;

    // Starts the transfer; finished() always comes later, from the event loop.
    void start();
    // Stops the transfer, removes what was written, and reports it as cancelled (unless it has
    // already ended).
    void cancel();

Q_SIGNALS:
    void received(qint64 bytes);
    void finished(const DownloadResult& result);

private:
    void begin();
    void sendRequest(const QUrl& url);
    void onReadyRead();
    void onReplyFinished();
    void saveDataAddress();
    bool writeAvailable();
    bool reserveFile();
    void succeed();
    void fail(const QString& message, DownloadResult::Status status = DownloadResult::Status::Failed);
    void dropReply();

    DownloadItem m_item;
    DownloadOptions m_options;
    QPointer<QNetworkAccessManager> m_network;
    UniqueFileReservation* m_folder;
    std::unique_ptr<ReservedFile> m_file;
    QPointer<QNetworkReply> m_reply;
    QUrl m_current;
    QSet<QUrl> m_visited;
    int m_redirects = 0;
    bool m_statusChecked = false;
    bool m_skipBody = false;
    bool m_finished = false;
};
