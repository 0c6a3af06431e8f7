#pragma once

#include <QDialog>

class EditActions;
class QPlainTextEdit;

// The text view window: a list shown as plain text that the user can read, select and copy.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    QPlainTextEdit* kekka = nullptr;    // the list's addresses as text, one a line
    EditActions* ActionList1 = nullptr; // the edit actions of this window

    // The place and outer size every text view window opens with.
    static constexpr int InitialLeft = 358;
    static constexpr int InitialTop = 274;
    static constexpr int InitialWidth = 483;
    static constexpr int InitialHeight = 406;
};
