#pragma once

#include <QString>

// The password of a "user:password@host" address is for loading that page only: it is never stored
// or shown. These give the address as the lists, exports, recent inputs and history keep it: with
// the user name, without the password ("http://user@host/").
namespace AddressPassword {

// address without its password; address itself when it has none. An address without a scheme is
// read as the input box reads it ("user:pw@example.com/x").
QString withoutPassword(const QString& address);
// Each line of text so.
QString withoutPasswords(const QString& text);
// Whether address carries a password.
bool hasPassword(const QString& address);

} // namespace AddressPassword
