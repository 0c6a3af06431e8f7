#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// One cookie of a Netscape cookie file, as a browser keeps it.
struct FileCookie {
    // The host (lower case, IDN in its ASCII form, an IPv6 address without brackets), no leading dot.
    QString domain;
    // True: sent to domain only; false: to domain and every host under it.
    bool hostOnly = true;
    QString path = QStringLiteral("/");
    bool secure = false;
    bool httpOnly = false;
    // Seconds since 1970; 0: a session cookie (it ends with the program).
    qint64 expires = 0;
    QByteArray name;
    QByteArray value;
    // Its line in the file (from 1).
    int line = 0;

    bool operator==(const FileCookie&) const = default;
};

// The Netscape cookie file that wget (--load-cookies), curl (-b) and browsers' export add-ons use:
// one cookie a line, seven fields separated by tabs (domain, include-subdomains TRUE/FALSE, path,
// secure TRUE/FALSE, expiry in seconds since 1970 with 0 or nothing for a session cookie, name,
// value); "#HttpOnly_" before the domain marks an HttpOnly cookie; other lines starting with "#" and
// blank lines are comments. A line that a browser would not take is named and left out, the others
// are used; expired cookies are left out. The reading never carries a cookie's value in a message.
namespace CookieFile {

// Why a line was left out.
enum class Fault {
    Fields,       // not 7 (or 6, with an empty value) tab-separated fields
    Domain,       // no host, or not one a browser takes
    Flag,         // include-subdomains or secure is neither TRUE nor FALSE
    Path,         // the path does not start with "/", or is longer than a browser takes
    Expiry,       // the expiry is no number
    Name,         // no name and no value, or a name with "=", ";" or a control character
    Value,        // a value with ";" or a control character
    TooLarge,     // name and value over 4096 bytes
    PublicSuffix, // a domain cookie for a whole public suffix ("com", "co.jp")
};

struct Problem {
    int line = 0;
    Fault fault = Fault::Fields;
};

struct Reading {
    // Empty when the file was read; else why not (the file's name with the reason).
    QString error;
    QList<FileCookie> cookies;
    QList<Problem> problems;
    int expired = 0;
    // Left out beyond a browser's limits (MostPerDomain a domain, MostInAll in all).
    int overLimit = 0;
    // Others than its owner may read the file.
    bool othersMayRead = false;
};

// A browser keeps at most this many cookies a domain and in all (Chromium's limits).
constexpr int MostPerDomain = 180;
constexpr int MostInAll = 3300;
constexpr qsizetype MostNameAndValueBytes = 4096;
constexpr qsizetype MostAttributeBytes = 1024;

// Reads the file (only reads it). Cookies expired at now are left out.
Reading read(const QString& fileName, const QDateTime& now = QDateTime::currentDateTimeUtc());
// The same for the file's bytes.
Reading parse(const QByteArray& bytes, const QDateTime& now = QDateTime::currentDateTimeUtc());

// "FILE:4: reason" for one problem; in Japanese when japanese.
QString describe(const QString& fileName, const Problem& problem, bool japanese);
// Every line for standard error or a message box: the problems, a note for the expired and those over
// the limits, a warning when others may read the file. No value, no name.
QStringList notes(const QString& fileName, const Reading& reading, bool japanese);

// True when host is an IPv4 or IPv6 address.
bool isIpAddress(const QString& host);

} // namespace CookieFile
