#pragma once

#include <QMenu>
#include <QPointer>

class QDialog;

// "ヘルプ": the user's guide of the README (the part about the window), opened by F1 too, in a
// window of its own beside the main window; and the program's version.
class HelpMenu : public QMenu {
    Q_OBJECT
public:
    explicit HelpMenu(QWidget* window);

    QAction* Guide1 = nullptr; // "使い方" (F1)
    QAction* About1 = nullptr; // "バージョン情報"

    // The guide's text (Markdown): the README's section on the window, with its subsections.
    static QString userGuide();
    // The guide's window while it is open.
    QDialog* guideWindow() const;

    static inline const QString GuideTitle = QStringLiteral("ネピリカの使い方");

private:
    void showGuide();
    void showVersion();

    QWidget* m_window;
    QPointer<QDialog> m_guide;
};
