#pragma once

#include <QRect>
#include <QString>

class QPushButton;
class QWidget;

// A push button of the window's fixed layout: its control name, caption (also its accessible
// name) and place; it never takes Enter from the dialog-like panels it sits in.
namespace LayoutButton {

QPushButton* make(QWidget* parent, const char* name, const QString& caption, const QRect& place);

} // namespace LayoutButton
