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
    // What the page says of an image candidate without fetching it. Set: the candidates of one <img>,
    // or of one <picture> with its sources, share a number (unique within an analysis); 0 for an
    // image of no set. Descriptor: its srcset descriptor as written ("1280w", "2x"; empty for none).
    // ElementWidth, ElementHeight: its element's width and height attributes in pixels (-1: none).
    qint32 Set = 0;
    QString Descriptor;
    qint32 ElementWidth = -1;
    qint32 ElementHeight = -1;
    // How many links away from a page the person gave the record's page lies (0: one the person
    // gave; 1 to 3: one that following links loaded).
    qint32 Depth = 0;
    // What an image's first bytes said once it was probed: its size in pixels (-1: not read), the
    // whole file's size in bytes (-1: not known), the MIME type read from its content (empty: none
    // read), and why any of them is missing (empty: nothing is, or it was not probed).
    qint64 Width = -1;
    qint64 Height = -1;
    qint64 Bytes = -1;
    QString Type;
    QString ProbeError;
    // The title of the document it was found in (a frame's own for a frame's), as the page's
    // encoding reads it; empty when it has none.
    QString Title;
    // An image's alternative text: its element's alt, else its title attribute; for a linked image
    // (a@href) the text of the link, else the alt of the thumbnail inside it. Empty for others.
    QString Alt;

    static tURLData make(const QString& url, qint32 kind, qint32 level, const QString& source,
                         const QString& via = {}, const QString& charset = {});
    // The kind's short name for machine-readable output: page, image, embed or script.
    static QString kindName(qint32 kind);
    // Linked pages are KindPage; everything else belongs to the data files.
    bool isPage() const;
};

bool operator==(const tURLData& a, const tURLData& b);
