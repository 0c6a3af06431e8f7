#include "DownloadCommand.h"

#include "AppMessages.h"
#include "DownloadBatch.h"
#include "DownloadProgressDialog.h"
#include "FolderNotice.h"
#include "TWebBrowser.h"

#include <QDir>
#include <QPointer>

#include <memory>

namespace DownloadCommand {
namespace {

// Failed addresses listed by name in the notice; the rest are counted.
constexpr qsizetype ListedFailures = 20;

QString noticeText(const DownloadResults& results, bool cancelled = false) {
    QStringList failures;
    qsizetype succeeded = 0;
    for (const DownloadResult& result : results) {
        if (result.succeeded())
            ++succeeded;
        else
            failures.append(QStringLiteral("%1 — %2").arg(result.url, result.message));
    }
    // "Completed" would not be true of a batch the user stopped.
    QString text = (cancelled ? QStringLiteral("ダウンロードを中止しました")
                              : QStringLiteral("ダウンロードが完了しました")) +
                   QStringLiteral("\n成功 %1 件、失敗 %2 件").arg(succeeded).arg(failures.size());
    if (failures.isEmpty())
        return text;
    return text + QStringLiteral("\n\n") + AppMessages::shortList(failures, ListedFailures);
}

} // namespace

void start(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
           TWebBrowser* browser) {
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        // The path in brackets, not at the end, where the final "." would read as part of it.
        AppMessages::showError(parent, QStringLiteral("ダウンロード先のフォルダ「%1」を作成できません")
                                           .arg(QDir::toNativeSeparators(folder)));
        return;
    }
    if (items.isEmpty()) {
        FolderNotice::addFolder(AppMessages::showNotice(parent, noticeText({})), folder);
        return;
    }

    QList<DownloadItem> downloads;
    downloads.reserve(items.size());
    for (const DownloadRequestItem& entry : items) {
        DownloadItem item;
        item.url = entry.url;
        item.referer = entry.referer;
        downloads.append(item);
    }
    DownloadOptions options;
    if (browser) {
        options.userAgent = browser->userAgent();
        options.cookieJar = browser->cookieJar();
    }

    // The window owns the batch: if the main window goes away mid-way, both go, and the batch
    // removes what it had not finished.
    auto* dialog = new DownloadProgressDialog(parent);
    auto* batch = new DownloadBatch(folder, downloads, options, dialog);
    QObject::connect(batch, &DownloadBatch::progress, dialog, &DownloadProgressDialog::setProgress);
    // Marked before the batch hears of it: it may report its end from inside cancel().
    auto cancelled = std::make_shared<bool>(false);
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, dialog,
                     [cancelled] { *cancelled = true; });
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, batch, &DownloadBatch::cancel);
    QPointer<QWidget> owner(parent);
    QObject::connect(batch, &DownloadBatch::finished, dialog,
                     [dialog, owner, cancelled, folder](const DownloadResults& results) {
                         dialog->finish();
                         dialog->hide();
                         // Not from inside the batch's own signal.
                         dialog->deleteLater();
                         FolderNotice::addFolder(
                             AppMessages::showNotice(owner, noticeText(results, *cancelled)), folder);
                     });
    dialog->setProgress(0, batch->total(), {}, 0);
    dialog->open();
    batch->start();
}

} // namespace DownloadCommand
