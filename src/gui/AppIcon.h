#pragma once

#include <QIcon>

// The program's icon (the one the desktop entry names), in every size built into the program.
namespace AppIcon {

QIcon icon();

} // namespace AppIcon
