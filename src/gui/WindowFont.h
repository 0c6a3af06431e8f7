#pragma once

#include <QFont>

// The windows' font: "ＭＳ Ｐゴシック" where the system has it, else the IPA P gothic font that the set-up
// installs; 12 pixels high unless told otherwise.
namespace WindowFont {

QString family();
QFont font(int pixelHeight = 12);

} // namespace WindowFont
