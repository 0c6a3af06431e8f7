#pragma once

#include "CookieFile.h"

#include <QStringList>

class BrowserCookieJar;

// The log-in a command runs with: --cookies FILE (a Netscape cookie file, may be given more than
// once) and --use-window-login (the cookies of the window's browser profile, only read). Their
// problems go to standard error by file and line ("FILE:4: …"); no cookie's value or name is ever
// written.
class CommandCookies {
public:
    // Takes the option at arguments[*i] (and its value) when it is one of these; false otherwise.
    // *error is set for a --cookies without a file.
    bool take(const QStringList& arguments, qsizetype* i, QString* error);

    bool any() const;
    // Reads the files and the window's profile, writing their notes to standard error. False (with
    // the reason written) when one cannot be read.
    bool read();
    // What read() found, oldest first.
    const QList<FileCookie>& cookies() const;
    // Writes "FILE:LINE: …" for cookies that a browser refused (lines returned by addFileCookies or
    // HarvestProfile::addCookies), by the source they came from.
    void reportRefused(const QList<CookieFile::Problem>& refused) const;
    // Gives the cookies to jar, reporting those it refuses.
    void fill(BrowserCookieJar* jar) const;

private:
    QStringList m_files;
    bool m_windowLogin = false;
    QList<FileCookie> m_cookies;
    // Where each cookie came from (its file, or the window's profile folder) and its line there; a
    // cookie's own line is its place in m_cookies, from 1.
    QList<QPair<QString, int>> m_origin;
};
