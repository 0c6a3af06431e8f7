#include "ResultListContextMenu.h"

#include "AppMessages.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QMenu>
#include <QUrl>

#include <algorithm>

ResultListContextMenu::ResultListContextMenu(QAbstractItemView* view, Commands commands)
    : QObject(view)
    , m_view(view)
    , m_commands(std::move(commands)) {
    menu = new QMenu(view);
    menu->setObjectName(view->objectName() + QStringLiteral("Menu"));
    Copy = menu->addAction(QStringLiteral("コピー(&C)"), this, &ResultListContextMenu::copy);
    Copy->setShortcut(QKeySequence::Copy);
    Copy->setShortcutContext(Qt::WidgetShortcut);
    OpenInBrowser =
        menu->addAction(QStringLiteral("ブラウザで開く(&B)"), this, &ResultListContextMenu::openInBrowser);
    Download = menu->addAction(QStringLiteral("ダウンロード(&D)"), this, [this] {
        if (m_commands.download)
            m_commands.download();
    });
    ToInput = menu->addAction(QStringLiteral("アドレスを入力欄へ(&I)"), this, [this] {
        if (m_commands.toInput)
            m_commands.toInput(selectedAddresses());
    });
    if (m_commands.openInLoginBrowser)
        OpenInLoginBrowser = menu->addAction(QStringLiteral("ログイン用ブラウザで開く(&L)"), this, [this] {
            const QStringList addresses = selectedAddresses();
            if (!addresses.isEmpty())
                m_commands.openInLoginBrowser(addresses.first());
        });
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &ResultListContextMenu::popup);
}

QStringList ResultListContextMenu::selectedAddresses() const {
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList addresses;
    addresses.reserve(rows.size());
    for (const QModelIndex& index : std::as_const(rows))
        addresses.append(index.data(Qt::DisplayRole).toString());
    return addresses;
}

void ResultListContextMenu::popup(const QPoint& position) {
    // A right click on an entry outside the selection selects that entry alone, as file managers do.
    const QModelIndex under = m_view->indexAt(position);
    if (under.isValid() && !m_view->selectionModel()->isSelected(under)) {
        m_view->selectionModel()->select(under, QItemSelectionModel::ClearAndSelect);
        m_view->selectionModel()->setCurrentIndex(under, QItemSelectionModel::NoUpdate);
    }
    const bool any = m_view->selectionModel()->hasSelection();
    for (QAction* action : {Copy, OpenInBrowser, Download, ToInput})
        action->setEnabled(any);
    if (OpenInLoginBrowser)
        OpenInLoginBrowser->setEnabled(any);
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

void ResultListContextMenu::copy() {
    const QStringList addresses = selectedAddresses();
    if (!addresses.isEmpty())
        QApplication::clipboard()->setText(addresses.join(QLatin1Char('\n')));
}

void ResultListContextMenu::openInBrowser() {
    const QStringList addresses = selectedAddresses();
    for (const QString& address : addresses.mid(0, MostOpened))
        QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
    if (addresses.size() > MostOpened)
        AppMessages::showNotice(
            m_view->window(),
            QStringLiteral("一度に開くのは %1 件までです。最初の %1 件を開きました。").arg(MostOpened));
}
