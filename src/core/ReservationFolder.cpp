#include "ReservationFolder.h"

#include <unistd.h>

ReservationFolder::~ReservationFolder() {
    if (fd >= 0)
        ::close(fd);
}

QString ReservationFolder::folded(const QString& name) {
    return name.toCaseFolded();
}
