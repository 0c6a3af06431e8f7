#pragma once

#include <QObject>

class QAction;
class QKeySequence;
class QWidget;

// The standard edit actions of a window (category "編集"): cut, copy, paste, select all, undo and
// delete. They are bound to no menu or button; their shortcut keys are the way in. Each acts on the
// control that has the keyboard focus: a single- or multi-line text box, or a list (select all, and copy
// of the selected entries one a line). The object itself is the window's action list, "ActionList1".
class EditActions : public QObject {
    Q_OBJECT
public:
    // Adds the actions to window, which owns this list.
    explicit EditActions(QWidget* window);

    static inline const QString Category = QStringLiteral("編集");

    QAction* EditCut1 = nullptr;
    QAction* EditCopy1 = nullptr;
    QAction* EditPaste1 = nullptr;
    QAction* EditSelectAll1 = nullptr;
    QAction* EditUndo1 = nullptr;
    QAction* EditDelete1 = nullptr;

    // The hint's two parts: the short one before the "|", the long one after it.
    static QString shortHint(const QAction* action);
    static QString longHint(const QAction* action);

private:
    QAction* makeAction(const char* name, const QString& caption, const QKeySequence& shortcut,
                        const QString& hint);
    QWidget* focusedControl() const;

    void EditCut1Execute();
    void EditCopy1Execute();
    void EditPaste1Execute();
    void EditSelectAll1Execute();
    void EditUndo1Execute();
    void EditDelete1Execute();

    QWidget* m_window;
};
