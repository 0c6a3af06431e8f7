#include "DownloadCommand.h"

#include "AppMessages.h"
#include "DisplayAddress.h"
#include "DownloadBatch.h"
#include "DownloadProgressDialog.h"
#include "DownloadQueueKeeper.h"
#include "FolderNotice.h"
#include "HistoryDownloadLink.h"
#include "HostPauses.h"
#include "TWebBrowser.h"
#include "WindowHistory.h"

#include <QDate>
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

// The history's part of the notice: entries skipped as saved, files not kept as copies.
QString historyText(const HistoryChoice& history, const QHash<int, HistoryEntry>& copies,
                    const DownloadResults& results) {
    QString text;
    if (history.savedSkipped > 0)
        text += QStringLiteral("\n\n保存済みの %1 件を飛ばしました。").arg(history.savedSkipped);
    if (copies.isEmpty())
        return text;
    QList<int> indexes = copies.keys();
    std::sort(indexes.begin(), indexes.end());
    QStringList named;
    for (int index : indexes)
        named.append(QStringLiteral("%1 — %2").arg(DisplayAddress::forDisplay(results.value(index).url),
                                                   QDir::toNativeSeparators(copies.value(index).path)));
    return text +
           QStringLiteral("\n\n同じ内容のファイルが保存済みのため保存しませんでした（%1 件）:\n")
               .arg(named.size()) +
           AppMessages::shortList(named, ListedFailures);
}

QString noticeText(const DownloadResults& results, bool cancelled = false, qsizetype copies = 0) {
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
    // A copy that was not kept is no file saved.
    succeeded -= copies;
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
                    const QString& folder, const QPointer<TWebBrowser>& browser, int jobs,
                    const NameMask& mask, const HistoryChoice& history) {
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
            QTimer::singleShot(0, owner, [=] {
                start(owner, failed, folder, browser, jobs, mask, {history.skipSameContent, 0});
            });
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
        const auto* keeper = batch->findChild<DownloadQueueKeeper*>();
        if (!keeper || !keeper->recorded())
            ++now.unrecorded;
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
            if (auto* link = batch->findChild<HistoryDownloadLink*>())
                link->disconnect(dialog);
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
         TWebBrowser* browser, int jobs, const DownloadQueue& queue, const QList<int>& positions,
         const QString& file, const NameMask& mask = {}, const HistoryChoice& history = {});

} // namespace

void start(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
           TWebBrowser* browser, int jobs, const NameMask& mask, const HistoryChoice& history) {
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        // The path in brackets, not at the end, where the final "." would read as part of it.
        AppMessages::showError(parent, QStringLiteral("ダウンロード先のフォルダ「%1」を作成できません")
                                           .arg(QDir::toNativeSeparators(folder)));
        return;
    }
    if (items.isEmpty()) {
        FolderNotice::addFolder(
            AppMessages::showNotice(parent, noticeText({}) + historyText(history, {}, {})), folder);
        return;
    }

    run(parent, items, folder, browser, jobs, {}, {}, {}, mask, history);
}

void continueKept(QWidget* parent, const DownloadQueue& queue, const QString& file, TWebBrowser* browser) {
    if (!QDir().mkpath(queue.folder)) {
        AppMessages::showError(parent, QStringLiteral("ダウンロード先のフォルダ「%1」を作成できません")
                                           .arg(QDir::toNativeSeparators(queue.folder)));
        return;
    }
    QList<int> positions;
    QList<DownloadRequestItem> items;
    for (const DownloadItem& item : DownloadQueueKeeper::itemsToContinue(queue, &positions))
        items.append({item.url, item.referer, item.charset});
    run(parent, items, queue.folder, browser, 0, queue, positions, file);
}

namespace {

void run(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
         TWebBrowser* browser, int jobs, const DownloadQueue& queue, const QList<int>& positions,
         const QString& file, const NameMask& mask, const HistoryChoice& history) {
    QList<DownloadItem> downloads;
    downloads.reserve(items.size());
    const QString today = NameMask::dateText(QDate::currentDate());
    for (const DownloadRequestItem& entry : items) {
        DownloadItem item;
        item.url = entry.url;
        item.referer = entry.referer;
        item.charset = entry.charset;
        item.mask = entry.mask;
        item.mask.n = static_cast<int>(downloads.size()) + 1;
        item.mask.date = today;
        item.address = entry.address;
        downloads.append(item);
    }
    DownloadOptions options;
    options.nameMask = mask;
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
                       : new DownloadQueueKeeper(batch, queue, positions, batch, nullptr, file);
    // Said at once, so that the person knows that an interruption now would lose the rest.
    const auto recordFailed = [dialog](const QString& message) {
        AppMessages::showError(dialog, message);
    };
    if (!keeper->recorded())
        QTimer::singleShot(0, dialog, [recordFailed, keeper] { recordFailed(keeper->lastError()); });
    QObject::connect(keeper, &DownloadQueueKeeper::recordFailed, dialog, recordFailed);
    QObject::connect(batch, &DownloadBatch::progress, dialog, &DownloadProgressDialog::setProgress);
    QObject::connect(batch, &DownloadBatch::progress, dialog, [batch, dialog] {
        QStringList waiting;
        for (const HostPauses::Pause& pause : batch->pausedHosts())
            waiting.append(HostPauses::waitingText(pause));
        dialog->setWaiting(waiting.join(u'\n'));
    });
    // Marked before the batch hears of it: it may report its end from inside cancel().
    auto cancelled = std::make_shared<bool>(false);
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, dialog,
                     [cancelled] { *cancelled = true; });
    QObject::connect(dialog, &DownloadProgressDialog::cancelRequested, batch, &DownloadBatch::cancel);
    QPointer<QWidget> owner(parent);
    QPointer<TWebBrowser> source(browser);
    // Each file saved goes into the window's history; the notice waits until each is settled there.
    WindowHistory* windowHistory = WindowHistory::of(parent);
    HistoryDownloadLink::Options recording;
    recording.record = windowHistory && windowHistory->recording();
    recording.skipSameContent = history.skipSameContent;
    // Files the person picked together are all kept; only copies of files saved before are not.
    recording.skipCopiesWithinBatch = false;
    auto* link = new HistoryDownloadLink(
        batch, downloads, windowHistory ? windowHistory->recorder() : nullptr, recording, batch);
    QObject::connect(
        link, &HistoryDownloadLink::finished, dialog,
        [dialog, keeper, owner, cancelled, items, folder, source, jobs, link, mask,
         history](const DownloadResults& results) {
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
            const QHash<int, HistoryEntry> copies = link->sameContent();
            QMessageBox* box = AppMessages::showNotice(owner, noticeText(results, *cancelled, copies.size()) +
                                                                  historyText(history, copies, results));
            FolderNotice::addFolder(box, folder);
            offerFollowUps(box, items, results, folder, source, jobs, mask, history);
        });
    dialog->setProgress(0, batch->total(), {}, 0);
    dialog->setFolder(folder);
    // show(), not open(): open() would make it modal to the main window.
    dialog->showBesideOthers();
    batch->start();
}

} // namespace

} // namespace DownloadCommand
