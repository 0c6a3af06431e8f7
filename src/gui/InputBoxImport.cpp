#include "InputBoxImport.h"

#include "AddressImport.h"
#include "AppMessages.h"
#include "FileDialogs.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QUrl>

InputBoxImport::InputBoxImport(QPlainTextEdit* box)
    : QObject(box)
    , m_box(box) {
    box->setAcceptDrops(true);
    // Drops reach the viewport, or the box when the viewport does not take them.
    box->installEventFilter(this);
    m_viewport = box->viewport();
    m_viewport->installEventFilter(this);
}

void InputBoxImport::setText(const QString& text, bool atEnd) {
    // Through the cursor, so that the box's undo takes the change back.
    QTextCursor cursor(m_box->document());
    cursor.beginEditBlock();
    if (atEnd) {
        cursor.movePosition(QTextCursor::End);
    } else {
        cursor.select(QTextCursor::Document);
    }
    cursor.insertText(text);
    cursor.endEditBlock();
    m_box->setTextCursor(cursor);
    m_box->ensureCursorVisible();
}

void InputBoxImport::append(const QStringList& addresses) {
    if (addresses.isEmpty())
        return;
    const QString current = m_box->toPlainText();
    QString text = addresses.join(QLatin1Char('\n'));
    if (!current.isEmpty() && !current.endsWith(QLatin1Char('\n')))
        text.prepend(QLatin1Char('\n'));
    setText(text, true);
}

void InputBoxImport::replace(const QStringList& addresses) {
    if (addresses.isEmpty())
        return;
    setText(addresses.join(QLatin1Char('\n')), false);
}

void InputBoxImport::importFile(const QString& path) {
    const AddressImport::Result result = AddressImport::fromFile(path);
    if (!result.error.isEmpty()) {
        AppMessages::showError(m_box->window(), result.error);
        return;
    }
    append(result.addresses);
}

void InputBoxImport::chooseAndImport() {
    QPointer<InputBoxImport> self(this);
    FileDialogs::chooseFileToOpen(m_box->window(), QStringLiteral("アドレスを読み込む"), NameFilters,
                                  [self](const QString& path) {
                                      if (self)
                                          self->importFile(path);
                                  });
}

bool InputBoxImport::eventFilter(QObject* watched, QEvent* event) {
    // Compared by address only: the box may be half destroyed when its children's events come.
    if (watched != m_box && watched != m_viewport)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->mimeData()->hasUrls()) {
            QStringList links;
            for (const QUrl& url : drop->mimeData()->urls()) {
                if (url.isLocalFile())
                    importFile(url.toLocalFile());
                else
                    links.append(url.toString(QUrl::FullyEncoded));
            }
            append(links);
            drop->acceptProposedAction();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
