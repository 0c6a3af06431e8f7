#include "DownloadQueueOffer.h"

#include "AppMessages.h"
#include "DownloadCommand.h"
#include "DownloadQueue.h"
#include "TWebBrowser.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace DownloadQueueOffer {
namespace {

const QString ContinueCaption = QStringLiteral("前回のダウンロードを再開");
const QString DiscardCaption = QStringLiteral("破棄");
const QString LaterCaption = QStringLiteral("あとで");

// Offers the kept files from the one at index on, one notice after the other.
void offerFrom(const QPointer<QWidget>& window, const QPointer<TWebBrowser>& browser,
               const QStringList& files, qsizetype index) {
    for (; index < files.size(); ++index) {
        const QString file = files.at(index);
        // A batch that runs in another process (a window, nepirika download) is its own.
        if (!DownloadQueue::Lock(file).held())
            continue;
        DownloadQueue queue;
        QString error;
        const DownloadQueue::ReadStatus status = DownloadQueue::read(file, &queue, &error);
        if (status == DownloadQueue::ReadStatus::Missing)
            continue;
        if (status == DownloadQueue::ReadStatus::Damaged) {
            // Put aside under another name, so that it is told once and can still be looked at.
            QFile::remove(file + QStringLiteral(".damaged"));
            QFile::rename(file, file + QStringLiteral(".damaged"));
            QMessageBox* box = AppMessages::showError(window, error);
            QObject::connect(box, &QMessageBox::finished, box, [=] {
                QTimer::singleShot(0, window, [=] { offerFrom(window, browser, files, index + 1); });
            });
            return;
        }
        queue.settleClaims();
        const qsizetype left = queue.unfinished().size();
        if (left == 0) {
            DownloadQueue::remove(file);
            continue;
        }
        const QDateTime created = queue.created.isValid() ? queue.created : QFileInfo(file).lastModified();
        QMessageBox* box = AppMessages::showNotice(
            window, QStringLiteral("前回のダウンロードが終わっていません（%1 / %2）。\nフォルダ: %3\n"
                                   "残り %4 件（保存済み %5 件）\n開始: %6")
                        .arg(index + 1)
                        .arg(files.size())
                        .arg(QDir::toNativeSeparators(queue.folder))
                        .arg(left)
                        .arg(queue.entries.size() - left)
                        .arg(QLocale::system().toString(created.toLocalTime(), QLocale::ShortFormat)));
        // The notice's OK becomes "あとで"; the two choices come before it.
        const auto existing = box->buttons();
        for (QAbstractButton* button : existing)
            button->setText(LaterCaption);
        QPushButton* resume = box->addButton(ContinueCaption, QMessageBox::ActionRole);
        QPushButton* discard = box->addButton(DiscardCaption, QMessageBox::DestructiveRole);
        box->setDefaultButton(resume);
        box->adjustSize();
        QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton* clicked) {
            const bool continuing = clicked == resume;
            if (clicked == discard) {
                queue.removePartials();
                DownloadQueue::remove(file);
            }
            // From the event loop, once this notice has gone. The next record is offered in any
            // case: continuing one batch does not hide the others.
            QTimer::singleShot(0, window, [=] {
                if (continuing)
                    DownloadCommand::continueKept(window, queue, file, browser);
                offerFrom(window, browser, files, index + 1);
            });
        });
        return;
    }
}

} // namespace

void offer(QWidget* window, TWebBrowser* browser) {
    offerFrom(window, browser, DownloadQueue::keptFiles(), 0);
}

} // namespace DownloadQueueOffer
