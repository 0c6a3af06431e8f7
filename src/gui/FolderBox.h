#pragma once

#include <QLineEdit>

// The folder box of a result band: a line edit too narrow for most folder names and paths. While
// someone types in it, it is an ordinary line edit; otherwise a text that does not fit is shown
// shortened with "…" where it is cut: a name in the middle ("ペ…存"), a path at its beginning, so
// that its last folders show ("…旅行"), instead of being scrolled and cut without a sign; a name that
// fits in a slightly smaller size (down to 9 pixels) is shown whole in it. The text
// itself, the folder that is used, is never changed; the tooltip gives the whole folder.
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
    // The font the text is shown in without the focus.
    QFont shownFont() const;
};
