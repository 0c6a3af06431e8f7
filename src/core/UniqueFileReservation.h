#pragma once

#include <QString>

#include <memory>

class ReservedFile;
struct ReservationFolder;

// The files of one batch inside one folder: each download writes into a file that has no name yet
// (createFile), and the finished one gets a name that no other file has (publish). Names are
// claimed first, so that the items of a batch get their numbers in the order the caller claims
// them; publishing never replaces an entry, so a file another program made meanwhile only moves
// the download on to the next number. A name that is taken gets a number as browsers do:
// "logo.gif", "logo (2).gif", "logo (3).gif"... Names are compared without regard to case within one
// batch, so that the folder can be copied to a file system that ignores case.
class UniqueFileReservation {
public:
    explicit UniqueFileReservation(QString folder);
    ~UniqueFileReservation();
    UniqueFileReservation(const UniqueFileReservation&) = delete;
    UniqueFileReservation& operator=(const UniqueFileReservation&) = delete;

    // Opens the folder (it must exist) and removes the temporary files that killed transfers left
    // there. False with a reason when it is no folder or cannot be read.
    bool open(QString* error);
    QString folder() const;

    // A new file for data, without a name. Null with a reason on failure. allowUnnamed false
    // makes it a hidden temporary file even where O_TMPFILE works.
    std::unique_ptr<ReservedFile> createFile(QString* error, bool allowUnnamed = true);
    // The hidden file of that name in the folder (a plain name that no final name uses), made when
    // missing, with what it holds kept: a download continued from its bytes appends to it. Null
    // with a reason on failure.
    std::unique_ptr<ReservedFile> openPartial(const QString& name, QString* error);

    // Claims name (a plain name, or plain names joined by "/" for a file in folders inside the
    // folder, see LocalFileNames::isRelativePath; the folders are made) or, when numberIfTaken is set and
    // it is claimed or present in the folder, its first free numbered form. Empty with a reason
    // when there is none.
    QString claim(const QString& name, bool numberIfTaken, QString* error);
    // Gives the name back, for an item that will not be saved.
    void release(const QString& claimed);

    // Publishes file under claimed, a name that claim() gave for base. When an entry of that name
    // has appeared since, the next free number of base is claimed instead (or, without numbering,
    // that is a failure). False with a reason, and the claim released, on failure.
    bool publish(ReservedFile& file, const QString& base, const QString& claimed, bool numberIfTaken,
                 QString* error);

private:
    QString m_folder;
    std::shared_ptr<ReservationFolder> m_state;
};
