#include "WindowLoginCookies.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace WindowLoginCookies {
namespace {

// The engine writes times in microseconds since 1601-01-01 UTC.
constexpr qint64 SecondsFrom1601To1970 = 11644473600;

QString text(sqlite3_stmt* statement, int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
}

QByteArray bytes(sqlite3_stmt* statement, int column) {
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, column)),
                      sqlite3_column_bytes(statement, column));
}

} // namespace

CookieFile::Reading read(const QString& folder, const QDateTime& now) {
    CookieFile::Reading reading;
    const QString database = QDir(folder).filePath(QStringLiteral("Cookies"));
    if (!QFile::exists(database)) {
        reading.error = QStringLiteral("%1: no log-in kept by the window yet").arg(folder);
        return reading;
    }
    QTemporaryDir copyFolder;
    const QString copy = copyFolder.filePath(QStringLiteral("Cookies"));
    if (!copyFolder.isValid() || !QFile::copy(database, copy)) {
        reading.error = QStringLiteral("%1: cannot be read").arg(database);
        return reading;
    }
    // A journal left by a write under way: with it the copy reads as before that write.
    QFile::copy(database + QStringLiteral("-journal"), copy + QStringLiteral("-journal"));
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    const QByteArray path = QFile::encodeName(copy);
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db,
                           "SELECT host_key, name, value, encrypted_value, path, expires_utc, is_secure, "
                           "is_httponly, has_expires FROM cookies ORDER BY creation_utc",
                           -1, &statement, nullptr) != SQLITE_OK) {
        reading.error = QStringLiteral("%1: not a cookie database the engine wrote (%2)")
                            .arg(database, QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        return reading;
    }
    const qint64 nowSeconds = now.toSecsSinceEpoch();
    int row = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ++row;
        FileCookie cookie;
        cookie.line = row;
        QString host = text(statement, 0);
        cookie.hostOnly = !host.startsWith(u'.');
        if (!cookie.hostOnly)
            host.remove(0, 1);
        cookie.domain = host.remove(u'[').remove(u']');
        cookie.name = bytes(statement, 1);
        cookie.value = bytes(statement, 2);
        cookie.path = text(statement, 4);
        cookie.secure = sqlite3_column_int(statement, 6) != 0;
        cookie.httpOnly = sqlite3_column_int(statement, 7) != 0;
        if (sqlite3_column_int(statement, 8) != 0)
            cookie.expires = sqlite3_column_int64(statement, 5) / 1000000 - SecondsFrom1601To1970;
        if (cookie.value.isEmpty() && !bytes(statement, 3).isEmpty()) {
            // Kept encrypted: a store this program cannot read.
            reading.problems.append({row, CookieFile::Fault::Value});
            continue;
        }
        if (cookie.expires != 0 && cookie.expires <= nowSeconds) {
            ++reading.expired;
            continue;
        }
        reading.cookies.append(cookie);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return reading;
}

} // namespace WindowLoginCookies
