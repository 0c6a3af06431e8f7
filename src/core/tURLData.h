#pragma once

#include <QString>

// One address found on a page, with its kind. A plain value; the list owns its copies.
class tURLData {
public:
    enum Kinds : qint32 { KindPage = 0, KindImage = 1, KindEmbed = 2, KindScript = 4 };

    // Set when the harvester creates the record; nothing reads or changes it later.
    QString StatusText;
    // The address exactly as the harvester produced it.
    QString URL;
    qint32 Kind = KindPage;
    // Copied from the harvester; always 0.
    qint32 Level = 0;
    // The address of the page where the record was first found (the Referer of its download).
    QString Source;
    // How it was found there: element and attribute, inside which frames and shadow roots ("img@srcset").
    QString Via;
    // The encoding of the document it was found in, as document.characterSet names it ("Shift_JIS");
    // it decides the name of an address whose bytes are no UTF-8. Empty when not known.
    QString Charset;

    static tURLData make(const QString& url, qint32 kind, qint32 level, const QString& source,
                         const QString& via = {}, const QString& charset = {});
    // The kind's short name for machine-readable output: page, image, embed or script.
    static QString kindName(qint32 kind);
    // Linked pages are KindPage; everything else belongs to the data files.
    bool isPage() const;
};

bool operator==(const tURLData& a, const tURLData& b);
