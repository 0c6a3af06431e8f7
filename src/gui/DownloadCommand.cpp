#include "DownloadCommand.h"

#include "AppMessages.h"
#include "DisplayAddress.h"
#include "DownloadBatch.h"
#include "DownloadProgressDialog.h"
#include "DownloadQueueKeeper.h"
#include "FolderNotice.h"
#include "TWebBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>

#include <QTimer>

#include <algorithm>
#include <memory>

namespace DownloadCommand {
namespace {

// Failed addresses and numbered names listed one by one in the notice; the rest are counted.
constexpr qsizetype ListedFailures = 20;

QString noticeText(const DownloadResults& results, bool cancelled = false) {
    QStringList failures;
    QStringList numbered;
    qsizetype succeeded = 0;
    for (const DownloadResult& result : results) {
        if (result.succeeded()) {
            ++succeeded;
            // A name that was taken: the file is not where the person would look for it.
            const QString saved = QFileInfo(result.path).fileName();
            if (!result.wantedName.isEmpty() && saved != result.wantedName)
                numbered.append(saved);
        } else {
            // Read as the lists show it; the saved failure list keeps the exact address.
            failures.append(
                QStringLiteral("%1 — %2").arg(DisplayAddress::forDisplay(result.url), result.message));
        }
    }
    // "Completed" would not be true of a batch the user stopped.
    QString text = (cancelled ? QStringLiteral("ダウンロードを中止しました")
                              : QStringLiteral("ダウンロードが完了しました")) +
                   QStringLiteral("\n成功 %1 件、失敗 %2 件").arg(succeeded).arg(failures.size());
    if (!numbered.isEmpty())
        text += QStringLiteral("\n\n同じ名前のファイルがあったため、番号を付けて保存しました（%1 件）:\n")
                    .arg(numbered.size()) +
                AppMessages::shortList(numbered, ListedFailures);
    if (failures.isEmpty())
        return text;
    return text + QStringLiteral("\n\n") + AppMessages::shortList(failures, ListedFailures);
}

// After a batch with failures, the notice offers to try those again and to keep their list.
void offerFollowUps(QMessageBox* box, const QList<DownloadRequestItem>& items, const DownloadResults& results,
                    const QString& folder, const QPointer<TWebBrowser>& browser, int jobs) {
    QList<DownloadRequestItem> failed;
    DownloadResults failures;
    for (qsizetype i = 0; i < results.size() && i < items.size(); ++i) {
        if (!results[i].succeeded()) {
            failed.append(items[i]);
            failures.append(results[i]);
        }
    }
    if (failed.isEmpty() || !box)
        return;
    QPushButton* retry = box->addButton(QStringLiteral("失敗したものを再試行"), QMessageBox::ActionRole);
    QPushButton* save = box->addButton(QStringLiteral("失敗の一覧を保存…"), QMessageBox::ActionRole);
    box->adjustSize();
    QPointer<QWidget> owner(box->parentWidget());
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton* clicked) {
        if (clicked == retry) {
            // From the event loop, once this notice has gone.
            QTimer::singleShot(0, owner, [=] { start(owner, failed, folder, browser, jobs); });
        } else if (clicked == save) {
            auto* dialog = new QFileDialog(owner, QStringLiteral("失敗の一覧を保存"),
                                           QDir(folder).filePath(QStringLiteral("failed.txt")),
                                           QStringLiteral("テキスト (*.txt)"));
            dialog->setAcceptMode(QFileDialog::AcceptSave);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(dialog, &QFileDialog::fileSelected, owner,
                             [owner, failures](const QString& path) {
                                 QString error;
                                 if (!writeFailureList(path, failures, &error))
                                     AppMessages::showError(owner, error);
                             });
            dialog->open();
        }
    });
}

} // namespace

Running running(const QWidget* owner) {
    Running now;
    if (!owner)
        return now;
    const auto dialogs = owner->findChildren<DownloadProgressDialog*>(Qt::FindDirectChildrenOnly);
    for (const DownloadProgressDialog* dialog : dialogs) {
        const auto* batch = dialog->findChild<DownloadBatch*>();
        if (!batch || batch->isFinished())
            continue;
        ++now.downloads;
        now.done += batch->done();
        now.total += batch->total();
    }
    return now;
}

void stopAll(QWidget* owner) {
    if (!owner)
        return;
    const auto dialogs = owner->findChildren<DownloadProgressDialog*>(Qt::FindDirectChildrenOnly);
    for (DownloadProgressDialog* dialog : dialogs) {
        if (auto* batch = dialog->findChild<DownloadBatch*>()) {
            // No notice: nobody is left to read it.
            batch->disconnect(dialog);
            batch->cancel();
        }
        dialog->finish();
        // The batch goes with its window; whatever it had not finished goes with it.
        delete dialog;
    }
}

bool writeFailureList(const QString& path, const DownloadResults& results, QString* error) {
    QByteArray text;
    for (const DownloadResult& result : results) {
        if (!result.succeeded())
            text +=
                (result.url + u'\t' + QString(result.message).replace(u'\t', u' ') + QStringLiteral("\r\n"))
                    .toUtf8();
    }
    // Written whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("失敗の一覧を保存できません (%1): %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

namespace {

// Runs the batch of items in folder, kept on disk as queue (the items being its entries at
// positions) until it ends; an empty queue is made of the items.
void run(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
         TWebBrowser* browser, int jobs, const DownloadQueue& queue, const QList<int>& positions);

} // namespace

void start(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
           TWebBrowser* browser, int jobs) {
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

    run(parent, items, folder, browser, jobs, {}, {});
}

void continueKept(QWidget* parent, const DownloadQueue& queue, TWebBrowser* browser) {
    if (!QDir().mkpath(queue.folder)) {
        AppMessages::showError(parent, QStringLiteral("ダウンロード先のフォルダ「%1」を作成できません")
                                           .arg(QDir::toNativeSeparators(queue.folder)));
        return;
    }
    QList<int> positions;
    QList<DownloadRequestItem> items;
    for (const DownloadItem& item : DownloadQueueKeeper::itemsToContinue(queue, &positions))
        items.append({item.url, item.referer, item.charset});
    run(parent, items, queue.folder, browser, 0, queue, positions);
}

namespace {

void run(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
         TWebBrowser* browser, int jobs, const DownloadQueue& queue, const QList<int>& positions) {
    QList<DownloadItem> downloads;
    downloads.reserve(items.size());
    for (const DownloadRequestItem& entry : items) {
        DownloadItem item;
        item.url = entry.url;
        item.referer = entry.referer;
        item.charset = entry.charset;
        item.address = entry.address;
        downloads.append(item);
    }
    DownloadOptions options;
    if (jobs > 0)
        options.parallel = jobs;
    // The harvest's identity (its HarvestProfile): its user agent and its cookies.
    if (browser) {
        options.userAgent = browser->userAgent();
        options.cookieJar = browser->cookieJar();
    }

    // The window owns the batch: if the main window goes away mid-way, both go, and the batch
    // removes what it had not finished.
    auto* dialog = new DownloadProgressDialog(parent);
    auto* batch = new DownloadBatch(folder, downloads, options, dialog);
    // Kept on disk while it runs: a window closed or a program killed mid-way can continue it at
    // the next start.
    QList<int> allPositions;
    for (qsizetype i = 0; i < downloads.size(); ++i)
        allPositions.append(static_cast<int>(i));
    auto* keeper = queue.entries.isEmpty()
                       ? new DownloadQueueKeeper(batch, DownloadQueueKeeper::queueFor(folder, downloads),
                                                 allPositions, batch)
                       : new DownloadQueueKeeper(batch, queue, positions, batch);
    QObject::connect(batch, &DownloadBatch::progress, dialog, &DownloadProgressDialog::setProgress);
    // Marked before the batch hears of it: it may report its end from inside cancel().
    auto cancelled = std::make_shared<bool>(false);
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, dialog,
                     [cancelled] { *cancelled = true; });
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, batch, &DownloadBatch::cancel);
    QPointer<QWidget> owner(parent);
    QPointer<TWebBrowser> source(browser);
    QObject::connect(
        batch, &DownloadBatch::finished, dialog,
        [dialog, keeper, owner, cancelled, items, folder, source, jobs](const DownloadResults& results) {
            // Done with: the batch ran to its end, or the user stopped it. Stopped
            // otherwise (the window closing), what is left is kept for the next start.
            const bool stoppedByOthers =
                !*cancelled && std::any_of(results.cbegin(), results.cend(), [](const DownloadResult& r) {
                    return r.status == DownloadResult::Status::Cancelled;
                });
            keeper->finish(stoppedByOthers);
            dialog->finish();
            dialog->hide();
            // Not from inside the batch's own signal.
            dialog->deleteLater();
            QMessageBox* box = AppMessages::showNotice(owner, noticeText(results, *cancelled));
            FolderNotice::addFolder(box, folder);
            offerFollowUps(box, items, results, folder, source, jobs);
        });
    dialog->setProgress(0, batch->total(), {}, 0);
    dialog->setFolder(folder);
    // show(), not open(): open() would make it modal to the main window.
    dialog->showBesideOthers();
    batch->start();
}

} // namespace

} // namespace DownloadCommand
