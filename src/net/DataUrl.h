#pragma once

#include <QByteArray>
#include <QString>

// The content carried by a data: address ("data:[<type>][;base64],<data>").
namespace DataUrl {

// False when text is no well-formed data: address.
bool decode(const QString& text, QByteArray* content);

} // namespace DataUrl
