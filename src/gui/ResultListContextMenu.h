#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QAbstractItemView;
class QAction;
class QMenu;
class QPoint;

// The right-click menu of a result list: コピー (the exact addresses, one a line), ブラウザで開く (the
// system's browser), ダウンロード (the list's download command) and アドレスを入力欄へ (the addresses
// into the input box for another analysis). Each works on the selected entries in list order.
class ResultListContextMenu : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> download;
        std::function<void(const QStringList& addresses)> toInput;
        // ログイン用ブラウザで開く: the entry in the window's own browser (none: no such entry).
        std::function<void(const QString& address)> openInLoginBrowser = {};
    };

    ResultListContextMenu(QAbstractItemView* view, Commands commands);

    // The selected entries' exact addresses, in list order.
    QStringList selectedAddresses() const;

    // At most this many addresses are opened in the browser at once.
    static constexpr int MostOpened = 20;

    QMenu* menu = nullptr;
    QAction* Copy = nullptr;
    QAction* OpenInBrowser = nullptr;
    QAction* Download = nullptr;
    QAction* ToInput = nullptr;
    QAction* OpenInLoginBrowser = nullptr;

private:
    void popup(const QPoint& position);
    void copy();
    void openInBrowser();

    QAbstractItemView* m_view;
    Commands m_commands;
};
