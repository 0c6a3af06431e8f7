#pragma once

#include "DownloadCommand.h"
#include "NameMask.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AppSettings;
class DownloadHistory;
class HistoryRecorder;
class HistoryWindow;
class QAction;
class QMenu;
class QWidget;
class SavedMarks;
class TWebBrowser;

// The download history of the main window: its recorder (the files of the window's downloads are
// recorded there, off the window's thread), the marks of saved entries in the lists, the menu items
// 設定 → "保存の履歴を記録する" and "保存の履歴を消去…" and 表示 → "保存の履歴", and the download of a
// selection that asks whether to skip the entries saved before.
class WindowHistory : public QObject {
    Q_OBJECT
public:
    // window owns it; settings keeps whether to record (may be null: recording on).
    WindowHistory(QWidget* window, AppSettings* settings, const QString& file);
    ~WindowHistory() override;

    // The history of the window that widget is in; null when it has none.
    static WindowHistory* of(const QWidget* widget);

    HistoryRecorder* recorder() const;
    SavedMarks* marks() const;
    // Whether files saved are recorded (設定 → 保存の履歴を記録する).
    bool recording() const;

    void addMenuItems(QMenu* settingsMenu, QMenu* viewMenu);
    QAction* Record1 = nullptr;  // "保存の履歴を記録する"
    QAction* Clear1 = nullptr;   // "保存の履歴を消去…"
    QAction* History1 = nullptr; // "保存の履歴": the list of the files saved

    // Downloads items into folder (DownloadCommand::start). When some were saved before (their files
    // still there), first asks whether to skip them, skipping by default; files whose bytes match
    // a saved file are not kept unless the person chose to save everything again.
    void download(const QList<DownloadRequestItem>& items, const QString& folder, TWebBrowser* browser,
                  int jobs, const NameMask& mask = {});
    // Opens (or raises) the list of saved files.
    void showHistory();
    // The list when it is open.
    HistoryWindow* historyWindow() const;

private:
    void askToClear();
    void tellSetAside(const QString& damagedFile);

    QPointer<QWidget> m_window;
    AppSettings* m_settings;
    HistoryRecorder* m_recorder = nullptr;
    SavedMarks* m_marks = nullptr;
    // The window's own reading connection, for a question that cannot wait for the recorder.
    std::unique_ptr<DownloadHistory> m_reader;
    QPointer<HistoryWindow> m_list;
};
