#pragma once

#include "tURLData.h"

#include <QDate>
#include <QList>
#include <QString>

// A name a person chooses for downloaded files: text with tokens that each file's facts replace.
//   {name}  the name the file gets without a mask, without its extension
//   {ext}   that name's extension, without the dot
//   {title} the title of the page it was found on      {alt}  its alternative text
//   {host}  the file's host, without port, as the lists show it
//   {page}  the page's host and path, as one name
//   {n}     its position in the batch from 1; {n:03} pads it with zeros to 3 digits
//   {date}  YYYY-MM-DD, local, at the start of the batch
//   {w} {h} its width and height in pixels, when known
//   {{ }}   a brace
// A "/" in the mask makes folders inside the download folder; a "/" or "\" inside a value never
// does. Each part of the path is made safe as LocalFileName makes names safe; a part that comes out
// empty is "_", so "." and ".." never appear and nothing lands outside the download folder. Empty
// parts of the mask itself ("a//b", a leading "/") are passed over.
class NameMask {
public:
    // What replaces the tokens for one file.
    struct Values {
        QString name; // the name without a mask, extension included ("photo.jpg")
        QString title;
        QString alt;
        QString host;
        QString page;
        int n = 0;
        QString date;
        qint64 width = -1;
        qint64 height = -1;
    };

    // The most folders a mask may make, one inside another.
    static constexpr int MostFolders = 8;

    // An empty mask: today's naming.
    NameMask() = default;

    // Reads text; false, with an error naming what is wrong (an unknown token, an unbalanced brace, a
    // mask that is only a folder), when it is not a mask. Blank text gives the empty mask.
    bool parse(const QString& text, QString* error, bool japanese = true);
    static NameMask parsed(const QString& text, QString* error, bool japanese = true);

    bool isEmpty() const;
    // True when the file name part has nothing that tells two files of one page apart ({name}, {n},
    // {alt}, {w}, {h}): the files get the same name, then numbers.
    bool namesFilesAlike() const;
    QString text() const;

    // The path, relative to the download folder, that values give: safe parts joined by "/". The
    // last part is the file name; the extension rules are for the caller to apply to it. Empty for
    // the empty mask.
    QString path(const Values& values) const;

    // path(values) with the extension rules applied to its file name: the extension that the media
    // type of contentType implies when the name has none (LocalFileNames::withTypeExtension).
    QString finalPath(const Values& values, const QString& contentType) const;

    // The values of a record, all but name; n is its position from 1 and date the batch's start.
    static Values valuesOf(const tURLData& record, int n, const QDate& date);
    // {page}'s value for a page's address: its host and path, as one name.
    static QString pageName(const QString& pageAddress);
    // {host}'s value for a file's address.
    static QString hostName(const QString& address);
    static QString dateText(const QDate& date);

    // The last part of a relative path and the folders before it ("" when there are none).
    static QString fileNamePart(const QString& path);
    static QString folderPart(const QString& path);

private:
    enum class Token { Text, Name, Ext, Title, Alt, Host, Page, N, Date, W, H };
    struct Piece {
        Token token = Token::Text;
        QString text;  // the literal text of a Text piece
        int width = 0; // {n:0W}
    };
    using Part = QList<Piece>;

    // Whether some type has this extension ("jpg", not " Smith"); the media type's extension.
    static bool isKnownExtension(QStringView extension);
    static QString typeExtension(const QString& contentType);
    // Appends the value of piece (a text's own) to text.
    static void appendValue(QString& text, const Piece& piece, const Values& values, QStringView stem,
                            QStringView ext);

    QString m_text;
    QList<Part> m_parts;
    // Per part: true when only values shared by many files (host, title, page, date, text) fill it,
    // so that its safe form is worth keeping for the next file.
    QList<bool> m_shared;
    bool m_usesName = false;
};
