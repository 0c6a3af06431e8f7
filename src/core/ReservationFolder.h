#pragma once

#include <QMutex>
#include <QSet>
#include <QString>

// What UniqueFileReservation and its ReservedFiles share: the open folder and the names handed out
// in this batch (case-folded). Closed when the last of them goes.
struct ReservationFolder {
    ~ReservationFolder();

    QString path;
    int fd = -1;
    QMutex mutex;
    QSet<QString> taken;

    static QString folded(const QString& name);
};
