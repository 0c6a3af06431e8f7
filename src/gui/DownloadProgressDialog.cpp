#include "DownloadProgressDialog.h"

#include "DisplayAddress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

DownloadProgressDialog::DownloadProgressDialog(QWidget* parent)
    : QDialog(parent)
    , m_folder(new QLabel(this))
    , m_count(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_current(new QPlainTextEdit(this))
    , m_bytes(new QLabel(this))
    , m_waiting(new QLabel(this))
    , m_cancel(new QPushButton(QStringLiteral("中止"), this)) {
    setWindowTitle(QApplication::applicationDisplayName());
    // Not modal: a modal window would keep the main window from being closed (its close button and
    // Ctrl+Q would do nothing) for as long as the download runs.
    setWindowModality(Qt::NonModal);
    m_current->setReadOnly(true);
    m_current->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_current->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_current->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_current->setMaximumBlockCount(64);
    // Room for the six addresses that run at once by default.
    const int margins =
        2 * (m_current->frameWidth() + static_cast<int>(m_current->document()->documentMargin()));
    m_current->setFixedHeight(m_current->fontMetrics().lineSpacing() * 6 + margins + 6);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    m_folder->setTextFormat(Qt::PlainText);
    m_folder->setVisible(false);
    layout->addWidget(m_folder);
    layout->addWidget(m_count);
    layout->addWidget(m_bar);
    layout->addWidget(new QLabel(QStringLiteral("ダウンロード中のアドレス:"), this));
    layout->addWidget(m_current);
    layout->addWidget(m_bytes);
    m_waiting->setTextFormat(Qt::PlainText);
    m_waiting->setVisible(false);
    layout->addWidget(m_waiting);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    connect(m_cancel, &QPushButton::clicked, this, &DownloadProgressDialog::requestCancel);
    setProgress(0, 0, {}, 0);
}

void DownloadProgressDialog::setFolder(const QString& folder) {
    const QString shown = QDir::toNativeSeparators(folder);
    const QString name = QFileInfo(QDir::cleanPath(folder)).fileName();
    setWindowTitle(QStringLiteral("「%1」へダウンロード - %2")
                       .arg(name.isEmpty() ? shown : name, QApplication::applicationDisplayName()));
    m_folder->setText(QStringLiteral("保存先: %1").arg(shown));
    m_folder->setToolTip(shown);
    m_folder->setVisible(true);
}

QString DownloadProgressDialog::folderText() const {
    return m_folder->text();
}

void DownloadProgressDialog::showBesideOthers() {
    QRect last;
    if (parentWidget()) {
        const auto others = parentWidget()->findChildren<DownloadProgressDialog*>(Qt::FindDirectChildrenOnly);
        for (const DownloadProgressDialog* other : others)
            if (other != this && other->isVisible())
                last = other->frameGeometry();
    }
    show();
    if (last.isNull())
        return;
    const QScreen* screen = QGuiApplication::screenAt(last.center());
    const QRect area = screen ? screen->availableGeometry() : QRect();
    constexpr int gap = 8;
    const QSize size = frameGeometry().size();
    // To its right, left, below or above, moved onto the screen where it would stand partly off
    // it: the first of these that leaves the other window uncovered.
    const QList<QPoint> corners = {
        last.topRight() + QPoint(gap + 1, 0), last.topLeft() - QPoint(gap + size.width(), 0),
        last.bottomLeft() + QPoint(0, gap + 1), last.topLeft() - QPoint(0, gap + size.height())};
    // Where none does, off the other's corner, so that both title bars show.
    QRect place(last.topLeft() + QPoint(4 * gap, 4 * gap), size);
    for (const QPoint& corner : corners) {
        QRect candidate(corner, size);
        if (area.isValid()) {
            candidate.moveLeft(std::clamp(candidate.left(), area.left(),
                                          std::max(area.left(), area.right() - size.width() + 1)));
            candidate.moveTop(std::clamp(candidate.top(), area.top(),
                                         std::max(area.top(), area.bottom() - size.height() + 1)));
        }
        if (!candidate.intersects(last)) {
            place = candidate;
            break;
        }
    }
    move(place.topLeft());
}

void DownloadProgressDialog::setProgress(int done, int total, const QStringList& current,
                                         qint64 bytesReceived) {
    m_count->setText(QStringLiteral("%1 / %2 ファイル").arg(done).arg(total));
    m_bar->setRange(0, std::max(total, 1));
    m_bar->setValue(done);
    if (current != m_currentUrls) {
        m_currentUrls = current;
        showCurrent();
    }
    m_bytes->setText(QStringLiteral("受信: %1").arg(QLocale().formattedDataSize(bytesReceived)));
}

void DownloadProgressDialog::setWaiting(const QString& text) {
    m_waiting->setText(text);
    m_waiting->setVisible(!text.isEmpty());
}

QString DownloadProgressDialog::waitingText() const {
    return m_waiting->text();
}

void DownloadProgressDialog::showCurrent() {
    // The host and the file name are what tell the addresses apart: a line too long loses its
    // middle, not its end.
    const QFontMetrics metrics(m_current->font());
    // The box has no scroll bars: its width less its frame and the document's margins.
    const int room = m_current->width() - 2 * m_current->frameWidth() -
                     2 * static_cast<int>(m_current->document()->documentMargin()) - 2;
    QStringList lines;
    lines.reserve(m_currentUrls.size());
    for (const QString& url : std::as_const(m_currentUrls))
        lines.append(
            metrics.elidedText(DisplayAddress::forDisplay(url), Qt::ElideMiddle, std::max(room, 40)));
    const QString text = lines.join(u'\n');
    if (m_current->toPlainText() != text)
        m_current->setPlainText(text);
}

void DownloadProgressDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    showCurrent();
}

void DownloadProgressDialog::finish() {
    m_finished = true;
}

QPushButton* DownloadProgressDialog::cancelButton() const {
    return m_cancel;
}

QString DownloadProgressDialog::countText() const {
    return m_count->text();
}

QString DownloadProgressDialog::bytesText() const {
    return m_bytes->text();
}

QString DownloadProgressDialog::currentText() const {
    return m_current->toPlainText();
}

void DownloadProgressDialog::reject() {
    if (m_finished)
        QDialog::reject();
    else
        requestCancel();
}

void DownloadProgressDialog::closeEvent(QCloseEvent* event) {
    if (m_finished) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    requestCancel();
}

void DownloadProgressDialog::requestCancel() {
    if (!m_cancel->isEnabled())
        return;
    m_cancel->setEnabled(false);
    m_cancel->setText(QStringLiteral("中止しています…"));
    Q_EMIT cancelRequested();
}
