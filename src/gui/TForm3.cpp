#include "TForm3.h"

#include "EditActions.h"
#include "OuterGeometry.h"
#include "WindowFont.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

TForm3::TForm3(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("テキスト表示"));
    setFont(WindowFont::font());
    setSizeGripEnabled(true);
    OuterGeometry::apply(this, QRect(InitialLeft, InitialTop, InitialWidth, InitialHeight));

    kekka = new QPlainTextEdit(this);
    kekka->setObjectName(QStringLiteral("kekka"));
    kekka->setAccessibleName(QStringLiteral("テキスト表示"));
    kekka->setLineWrapMode(QPlainTextEdit::NoWrap);
    kekka->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    kekka->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    kekka->setTabChangesFocus(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(kekka);

    ActionList1 = new EditActions(this);
}
