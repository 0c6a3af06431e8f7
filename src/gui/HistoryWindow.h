#pragma once

#include "HistoryEntry.h"

#include <QPointer>
#include <QWidget>

class HistoryRecorder;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;

// 表示 → 保存の履歴: the files saved, newest first (time, address, path, bytes), narrowed by a filter
// box as the result lists' filter narrows; "フォルダを開く" opens the folder of the selected file and
// "履歴から削除" removes the selected entries from the history (the files stay). At most Shown entries
// are listed; the label says when there are more.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr qsizetype Shown = 5000;

    HistoryWindow(HistoryRecorder* recorder, QWidget* parent = nullptr);

    QLineEdit* filterBox = nullptr;
    QTreeWidget* list = nullptr;
    QPushButton* openFolderButton = nullptr;
    QPushButton* forgetButton = nullptr;
    QLabel* countLabel = nullptr;

    // The entries listed, in their order.
    QList<HistoryEntry> entries() const;
    // Lists the entries again (the filter box's text as it is now).
    void reload();

Q_SIGNALS:
    // A list of entries has arrived.
    void listed();

private:
    void showEntries(const QList<HistoryEntry>& entries, bool more);
    void openFolder();
    void forgetSelected();
    void updateButtons();

    QPointer<HistoryRecorder> m_recorder;
    QList<HistoryEntry> m_entries;
    QTimer* m_reload = nullptr;
    int m_ticket = 0;
};
