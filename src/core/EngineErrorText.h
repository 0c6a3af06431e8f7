#pragma once

#include <QString>

// The one table that turns the browser engine's error codes ("net::ERR_CONNECTION_REFUSED", -102) into
// reasons a person reads: "接続を拒否されました". No engine code reaches the user as it is.
namespace EngineErrorText {

// The reason for a page that asks for a log-in: an HTTP 401 or 407, a user name and password that
// were refused, a page that sent the reader to a log-in form.
inline const QString NeedsLogIn = QStringLiteral("認証が必要です");

// The reason for a page load that failed with the engine's error `code` (negative) and its text (the
// code's name, "net::ERR_…"; may be empty). A code missing from the table gets a reason by its group,
// with the number.
QString reason(int code, const QString& engineText);

} // namespace EngineErrorText
