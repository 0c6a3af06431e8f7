#include "HistoryWindow.h"

#include "DisplayAddress.h"
#include "HistoryRecorder.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

HistoryWindow::HistoryWindow(HistoryRecorder* recorder, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_recorder(recorder) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("保存の履歴"));
    resize(900, 480);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("絞り込み"), this));
    filterBox = new QLineEdit(this);
    filterBox->setObjectName(QStringLiteral("historyFilter"));
    filterBox->setPlaceholderText(QStringLiteral("アドレスか保存先の一部"));
    filterBox->setClearButtonEnabled(true);
    top->addWidget(filterBox, 1);
    layout->addLayout(top);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("historyList"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHeaderLabels({QStringLiteral("日時"), QStringLiteral("アドレス"), QStringLiteral("保存先"),
                           QStringLiteral("バイト")});
    list->header()->setSectionResizeMode(QHeaderView::Interactive);
    list->setColumnWidth(0, 140);
    list->setColumnWidth(1, 360);
    list->setColumnWidth(2, 280);
    layout->addWidget(list, 1);

    auto* bottom = new QHBoxLayout;
    countLabel = new QLabel(this);
    bottom->addWidget(countLabel, 1);
    openFolderButton = new QPushButton(QStringLiteral("フォルダを開く"), this);
    openFolderButton->setObjectName(QStringLiteral("historyOpenFolder"));
    forgetButton = new QPushButton(QStringLiteral("履歴から削除"), this);
    forgetButton->setObjectName(QStringLiteral("historyForget"));
    bottom->addWidget(openFolderButton);
    bottom->addWidget(forgetButton);
    layout->addLayout(bottom);

    // The list follows the typing, once it pauses.
    m_reload = new QTimer(this);
    m_reload->setSingleShot(true);
    m_reload->setInterval(250);
    connect(m_reload, &QTimer::timeout, this, &HistoryWindow::reload);
    connect(filterBox, &QLineEdit::textChanged, m_reload, qOverload<>(&QTimer::start));
    connect(list, &QTreeWidget::itemSelectionChanged, this, &HistoryWindow::updateButtons);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &HistoryWindow::openFolder);
    connect(openFolderButton, &QPushButton::clicked, this, &HistoryWindow::openFolder);
    connect(forgetButton, &QPushButton::clicked, this, &HistoryWindow::forgetSelected);
    if (m_recorder) {
        connect(m_recorder, &HistoryRecorder::listed, this,
                [this](int ticket, const QList<HistoryEntry>& entries, bool more) {
                    if (ticket == m_ticket)
                        showEntries(entries, more);
                });
        // New files saved, entries removed: the list follows.
        connect(m_recorder, &HistoryRecorder::changed, m_reload, qOverload<>(&QTimer::start));
    }
    updateButtons();
    reload();
}

QList<HistoryEntry> HistoryWindow::entries() const {
    return m_entries;
}

void HistoryWindow::reload() {
    if (m_recorder)
        m_ticket = m_recorder->list(filterBox->text().trimmed(), Shown);
}

void HistoryWindow::showEntries(const QList<HistoryEntry>& entries, bool more) {
    m_entries = entries;
    list->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(entries.size());
    const QLocale locale;
    for (const HistoryEntry& e : entries) {
        auto* item = new QTreeWidgetItem;
        item->setText(
            0, QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(1, DisplayAddress::forDisplay(e.url));
        item->setToolTip(1, e.url);
        item->setText(2, QDir::toNativeSeparators(e.path));
        item->setToolTip(2, QDir::toNativeSeparators(e.path));
        item->setText(3, locale.toString(e.bytes));
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        if (!QFileInfo::exists(e.path))
            item->setForeground(2, palette().brush(QPalette::Disabled, QPalette::Text));
        items.append(item);
    }
    list->addTopLevelItems(items);
    countLabel->setText(more ? QStringLiteral("新しいものから %1 件を表示").arg(entries.size())
                             : QStringLiteral("%1 件").arg(entries.size()));
    updateButtons();
    Q_EMIT listed();
}

void HistoryWindow::updateButtons() {
    const bool any = !list->selectedItems().isEmpty();
    openFolderButton->setEnabled(any);
    forgetButton->setEnabled(any);
}

void HistoryWindow::openFolder() {
    const int row = list->indexOfTopLevelItem(list->currentItem());
    if (row < 0 || row >= m_entries.size())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_entries.at(row).path).absolutePath()));
}

void HistoryWindow::forgetSelected() {
    QList<qint64> ids;
    for (QTreeWidgetItem* item : list->selectedItems()) {
        const int row = list->indexOfTopLevelItem(item);
        if (row >= 0 && row < m_entries.size())
            ids.append(m_entries.at(row).id);
    }
    if (!ids.isEmpty() && m_recorder)
        m_recorder->forget(ids);
}
