#include "LayoutButton.h"

#include <QPushButton>

namespace LayoutButton {

QPushButton* make(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(caption);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

} // namespace LayoutButton
