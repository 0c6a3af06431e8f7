#pragma once

#include <QLineEdit>

// The folder box of a result band: a line edit too narrow for most folder names and paths. While
// someone types in it, it is an ordinary line edit; otherwise a text that does not fit is shown
// shortened in the middle ("ペ…保存", "/home/…/写真"), so that both its beginning and its end can
// be read, instead of being scrolled to its end and cut on the left. The text itself, the folder
// that is used, is never changed; the tooltip gives the whole folder.
class FolderBox : public QLineEdit {
    Q_OBJECT
public:
    explicit FolderBox(const QString& text, QWidget* parent = nullptr);

    // What the box shows when it does not have the focus: the text, or its shortened form.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textArea() const;
};
