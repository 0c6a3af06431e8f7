#include "WindowHistory.h"

#include "AppMessages.h"
#include "AppSettings.h"
#include "DownloadHistory.h"
#include "HistoryRecorder.h"
#include "HistoryWindow.h"
#include "SavedMarks.h"
#include "TWebBrowser.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace {

QAbstractButton* buttonNamed(const QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

WindowHistory::WindowHistory(QWidget* window, AppSettings* settings, const QString& file)
    : QObject(window)
    , m_window(window)
    , m_settings(settings)
    , m_recorder(new HistoryRecorder(file, this))
    , m_marks(new SavedMarks(m_recorder, this))
    , m_reader(std::make_unique<DownloadHistory>(file)) {
    setObjectName(QStringLiteral("WindowHistory"));
    connect(m_recorder, &HistoryRecorder::setAside, this, &WindowHistory::tellSetAside);
}

WindowHistory::~WindowHistory() = default;

WindowHistory* WindowHistory::of(const QWidget* widget) {
    if (!widget)
        return nullptr;
    return widget->window()->findChild<WindowHistory*>(QString(), Qt::FindDirectChildrenOnly);
}

HistoryRecorder* WindowHistory::recorder() const {
    return m_recorder;
}

SavedMarks* WindowHistory::marks() const {
    return m_marks;
}

bool WindowHistory::recording() const {
    return !m_settings || m_settings->recordHistory();
}

HistoryWindow* WindowHistory::historyWindow() const {
    return m_list;
}

void WindowHistory::addMenuItems(QMenu* settingsMenu, QMenu* viewMenu) {
    History1 = viewMenu->addAction(QStringLiteral("保存の履歴(&H)"));
    History1->setObjectName(QStringLiteral("History1"));
    connect(History1, &QAction::triggered, this, &WindowHistory::showHistory);

    settingsMenu->addSeparator();
    Record1 = settingsMenu->addAction(QStringLiteral("保存の履歴を記録する(&H)"));
    Record1->setObjectName(QStringLiteral("Record1"));
    Record1->setCheckable(true);
    Record1->setChecked(recording());
    connect(Record1, &QAction::toggled, this, [this](bool on) {
        if (!m_settings)
            return;
        m_settings->setRecordHistory(on);
        m_settings->sync();
    });
    Clear1 = settingsMenu->addAction(QStringLiteral("保存の履歴を消去…"));
    Clear1->setObjectName(QStringLiteral("Clear1"));
    connect(Clear1, &QAction::triggered, this, &WindowHistory::askToClear);
}

void WindowHistory::askToClear() {
    QMessageBox* box = AppMessages::showQuestion(
        m_window, QStringLiteral("保存の履歴をすべて消去しますか？\n保存したファイルはそのまま残ります。"),
        QStringLiteral("消去"), QStringLiteral("キャンセル"));
    QAbstractButton* clear = buttonNamed(box, QStringLiteral("消去"));
    connect(box, &QMessageBox::buttonClicked, this, [this, clear](QAbstractButton* clicked) {
        if (clicked == clear)
            m_recorder->clear();
    });
}

void WindowHistory::tellSetAside(const QString& damagedFile) {
    AppMessages::showError(
        m_window, QStringLiteral("保存の履歴が壊れていたため「%1」として退避し、新しい履歴を始めました")
                      .arg(QDir::toNativeSeparators(damagedFile)));
}

void WindowHistory::showHistory() {
    if (!m_list)
        m_list = new HistoryWindow(m_recorder, m_window);
    m_list->show();
    m_list->raise();
    m_list->activateWindow();
}

void WindowHistory::download(const QList<DownloadRequestItem>& items, const QString& folder,
                             TWebBrowser* browser, int jobs, const NameMask& mask) {
    // Read here and now: the progress window comes at once, or the question does. A reader in WAL
    // mode never waits for the recorder's writes.
    QStringList urls;
    for (const DownloadRequestItem& item : items)
        urls.append(item.url);
    QHash<QString, HistoryEntry> saved = m_reader->savedFor(urls);
    // Files saved moments ago may wait for their transaction: the marks have them already.
    for (const QString& url : std::as_const(urls)) {
        const QString path = m_marks->savedPath(url);
        if (!saved.contains(url) && !path.isEmpty() && QFileInfo(path).isFile()) {
            HistoryEntry entry;
            entry.url = url;
            entry.path = path;
            saved.insert(url, entry);
        }
    }
    const QString aside = m_reader->takeSetAside();
    if (!aside.isEmpty())
        tellSetAside(aside);
    QPointer<QWidget> window(m_window);
    if (saved.isEmpty()) {
        DownloadCommand::start(window, items, folder, browser, jobs, mask, {true, 0});
        return;
    }
    QList<DownloadRequestItem> unsaved;
    for (const DownloadRequestItem& item : items) {
        if (!saved.contains(item.url))
            unsaved.append(item);
    }
    const qsizetype skipped = items.size() - unsaved.size();
    QMessageBox* box = AppMessages::showQuestion(
        window,
        QStringLiteral("選んだ %1 件のうち %2 件は保存済みです（ファイルが残っています）。\n"
                       "保存済みのものを飛ばしてダウンロードしますか？")
            .arg(items.size())
            .arg(skipped),
        QStringLiteral("すべて保存し直す"), QStringLiteral("保存済みを飛ばす"));
    QPushButton* cancel = box->addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box->setEscapeButton(cancel);
    QAbstractButton* again = buttonNamed(box, QStringLiteral("すべて保存し直す"));
    QAbstractButton* skip = buttonNamed(box, QStringLiteral("保存済みを飛ばす"));
    QPointer<TWebBrowser> source(browser);
    connect(box, &QMessageBox::buttonClicked, this, [=, this](QAbstractButton* clicked) {
        if (clicked != again && clicked != skip)
            return;
        // From the event loop, once the question has gone.
        QTimer::singleShot(0, this, [=, this] {
            if (clicked == again)
                DownloadCommand::start(window, items, folder, source, jobs, mask, {false, 0});
            else
                DownloadCommand::start(window, unsaved, folder, source, jobs, mask, {true, skipped});
        });
    });
}
