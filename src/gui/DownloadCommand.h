#pragma once

#include <QList>
#include <QString>

class QWidget;
class TWebBrowser;

// One entry to download: its address and the page where it was found (sent as Referer).
struct DownloadRequestItem {
    QString url;
    QString referer;
};

// The download command behind the "ダウンロード" buttons: creates the folder with its parents (an error
// box and nothing downloaded when that fails), downloads the entries with a modal progress window
// that can cancel, and ends with the notice "ダウンロードが完了しました" (or "ダウンロードを中止しました"
// when the user stopped it) and the counts.
// Returns at once; the command owns itself and goes away when its notice has been shown.
namespace DownloadCommand {

void start(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
           TWebBrowser* browser);

} // namespace DownloadCommand
