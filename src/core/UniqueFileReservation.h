#pragma once

#include <QString>

#include <memory>

class ReservedFile;
struct ReservationFolder;

// Hands out names inside one folder that no other file has: the name is taken by atomically
// creating an empty file (create-exclusive, never through a symbolic link), so that parallel
// transfers, other programs and earlier items of the same batch can never share it. A name that is
// taken gets a number as browsers do: "logo.gif", "logo (2).gif", "logo (3).gif"... Names are compared
// without regard to case within one batch, so that the folder can be copied to a file system that
// ignores case.
class UniqueFileReservation {
public:
    explicit UniqueFileReservation(QString folder);
    ~UniqueFileReservation();
    UniqueFileReservation(const UniqueFileReservation&) = delete;
    UniqueFileReservation& operator=(const UniqueFileReservation&) = delete;

    // Opens the folder (it must exist). False with a reason when it is no folder or cannot be read.
    bool open(QString* error);
    QString folder() const;

    // Reserves name (a plain name, see LocalFileNames::isPlainName) or, when numberIfTaken is set and
    // it is taken, the first free numbered form of it; then opens the temporary file for the data.
    // Returns null with a reason on failure.
    std::unique_ptr<ReservedFile> reserve(const QString& name, bool numberIfTaken, QString* error);

private:
    QString m_folder;
    std::shared_ptr<ReservationFolder> m_state;
};
