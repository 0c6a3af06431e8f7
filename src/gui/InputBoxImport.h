#pragma once

#include <QObject>
#include <QStringList>

class QPlainTextEdit;

// Addresses into the input box from elsewhere: files chosen with "アドレスを読み込む…" or dropped onto the
// box (text files, or saved pages whose links are taken), links dropped from a browser, and entries sent
// from a result list. Each change can be undone in the box. Dropped plain text is inserted as pasted.
class InputBoxImport : public QObject {
    Q_OBJECT
public:
    explicit InputBoxImport(QPlainTextEdit* box);

    // Adds the addresses after the box's text, one a line.
    void append(const QStringList& addresses);
    // Replaces the box's text with the addresses, one a line.
    void replace(const QStringList& addresses);
    // Adds the addresses of the file; an error box when it has none or cannot be read.
    void importFile(const QString& path);
    // Asks for a file, then imports it.
    void chooseAndImport();

    static inline const QStringList NameFilters = {
        QStringLiteral("アドレスの一覧とページ (*.txt *.csv *.jsonl *.htm *.html)"),
        QStringLiteral("すべてのファイル (*)")};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setText(const QString& text, bool atEnd);

    QPlainTextEdit* m_box;
    // The box's viewport, kept from the start: while the box is destroyed it is no box any more.
    QObject* m_viewport = nullptr;
};
