#pragma once

#include <QByteArray>
#include <QString>

// One file saved by a download, as the history keeps it.
struct HistoryEntry {
    // The row's number in the history (0: not written yet); later rows have larger numbers.
    qint64 id = 0;
    // When the file was saved, in milliseconds since 1970 (UTC).
    qint64 timeMs = 0;
    // The address asked for, the address the file finally came from (after redirects), and the page
    // it was found on (empty when not known).
    QString url;
    QString finalUrl;
    QString page;
    // The file written: absolute path.
    QString path;
    qint64 bytes = 0;
    // The SHA-256 of the file's bytes (32 bytes; empty when it could not be read).
    QByteArray sha256;
};
