#include "EditActions.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>
#include <functional>

namespace {

// The selected entries of a list, in list order, one a line.
QString selectedEntries(const QAbstractItemView* view) {
    if (!view->selectionModel() || !view->model())
        return {};
    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    lines.reserve(rows.size());
    for (const QModelIndex& index : std::as_const(rows))
        lines.append(index.data(Qt::DisplayRole).toString());
    return lines.join(QLatin1Char('\n'));
}

// Runs the edit operation of the focused line edit or text box; false when the focus is on neither.
template <typename LineOp, typename TextOp> bool onTextControl(QWidget* focus, LineOp lineOp, TextOp textOp) {
    if (auto* line = qobject_cast<QLineEdit*>(focus)) {
        std::invoke(lineOp, line);
        return true;
    }
    if (auto* text = qobject_cast<QPlainTextEdit*>(focus)) {
        std::invoke(textOp, text);
        return true;
    }
    return false;
}

} // namespace

EditActions::EditActions(QWidget* window)
    : QObject(window)
    , m_window(window) {
    setObjectName(QStringLiteral("ActionList1"));
    EditCut1 = makeAction("EditCut1", QStringLiteral("切り取り(&T)"), QKeySequence(Qt::CTRL | Qt::Key_X),
                          QStringLiteral("切り取り|選択部分を切り取り、クリップボードに送る"));
    EditCopy1 = makeAction("EditCopy1", QStringLiteral("コピー(&C)"), QKeySequence(Qt::CTRL | Qt::Key_C),
                           QStringLiteral("コピー|選択部分をコピーし、クリップボードに送る"));
    EditPaste1 = makeAction("EditPaste1", QStringLiteral("貼り付け(&P)"), QKeySequence(Qt::CTRL | Qt::Key_V),
                            QStringLiteral("貼り付け|クリップボードの内容を貼り付ける"));
    EditSelectAll1 =
        makeAction("EditSelectAll1", QStringLiteral("すべてを選択(&A)"), QKeySequence(Qt::CTRL | Qt::Key_A),
                   QStringLiteral("すべてを選択|ドキュメント全体を選択する"));
    EditUndo1 = makeAction("EditUndo1", QStringLiteral("元に戻す(&U)"), QKeySequence(Qt::CTRL | Qt::Key_Z),
                           QStringLiteral("元に戻す|直前の変更を元に戻す"));
    EditDelete1 = makeAction("EditDelete1", QStringLiteral("削除(&D)"), QKeySequence(Qt::Key_Delete),
                             QStringLiteral("削除|選択部分を削除する"));

    connect(EditCut1, &QAction::triggered, this, &EditActions::EditCut1Execute);
    connect(EditCopy1, &QAction::triggered, this, &EditActions::EditCopy1Execute);
    connect(EditPaste1, &QAction::triggered, this, &EditActions::EditPaste1Execute);
    connect(EditSelectAll1, &QAction::triggered, this, &EditActions::EditSelectAll1Execute);
    connect(EditUndo1, &QAction::triggered, this, &EditActions::EditUndo1Execute);
    connect(EditDelete1, &QAction::triggered, this, &EditActions::EditDelete1Execute);
}

QString EditActions::shortHint(const QAction* action) {
    return action->property("hint").toString().section(QLatin1Char('|'), 0, 0);
}

QString EditActions::longHint(const QAction* action) {
    return action->property("hint").toString().section(QLatin1Char('|'), 1);
}

QAction* EditActions::makeAction(const char* name, const QString& caption, const QKeySequence& shortcut,
                                 const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setProperty("category", Category);
    action->setProperty("hint", hint);
    action->setToolTip(shortHint(action));
    action->setStatusTip(longHint(action));
    m_window->addAction(action);
    return action;
}

QWidget* EditActions::focusedControl() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != m_window)
        return nullptr;
    return focus;
}

void EditActions::EditCut1Execute() {
    onTextControl(focusedControl(), &QLineEdit::cut, &QPlainTextEdit::cut);
}

void EditActions::EditCopy1Execute() {
    QWidget* focus = focusedControl();
    if (onTextControl(focus, &QLineEdit::copy, &QPlainTextEdit::copy))
        return;
    if (auto* view = qobject_cast<QAbstractItemView*>(focus)) {
        const QString entries = selectedEntries(view);
        if (!entries.isEmpty())
            QApplication::clipboard()->setText(entries);
    }
}

void EditActions::EditPaste1Execute() {
    onTextControl(focusedControl(), &QLineEdit::paste, &QPlainTextEdit::paste);
}

void EditActions::EditSelectAll1Execute() {
    QWidget* focus = focusedControl();
    if (onTextControl(focus, &QLineEdit::selectAll, &QPlainTextEdit::selectAll))
        return;
    if (auto* view = qobject_cast<QAbstractItemView*>(focus))
        view->selectAll();
}

void EditActions::EditUndo1Execute() {
    onTextControl(focusedControl(), &QLineEdit::undo, &QPlainTextEdit::undo);
}

void EditActions::EditDelete1Execute() {
    onTextControl(
        focusedControl(),
        [](QLineEdit* line) {
            if (!line->isReadOnly())
                line->del();
        },
        [](QPlainTextEdit* text) {
            if (text->isReadOnly())
                return;
            QTextCursor cursor = text->textCursor();
            cursor.deleteChar();
            text->setTextCursor(cursor);
        });
}
