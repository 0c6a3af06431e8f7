#pragma once

#include <QList>
#include <QString>

// Picks the largest candidate of each image set (the srcset candidates of one <img>, or of one
// <picture> with its sources): by pixel area where the size was read, else by the srcset
// descriptor, width ("1280w") before density ("2x"; none counts as 1x). Where no size was read, a
// picture behind a link (the file a thumbnail links to, or one of the page it links to) comes
// before the thumbnail. The first of equals wins.
namespace LargestCandidate {

struct Candidate {
    // 0: no set; such a candidate is its own largest.
    qint32 set = 0;
    QString descriptor;
    // The size read from the image; -1 when not known.
    qint64 width = -1;
    qint64 height = -1;
    // Found behind a link to it rather than shown on the page (see behindLink).
    bool linked = false;
};

// Whether a record of this via and depth stands behind a link: a linked image file ("a@href") or
// a picture of a page loaded by following a link.
bool behindLink(const QString& via, qint32 depth);

// For each candidate, whether it is the largest of its set.
QList<bool> pick(const QList<Candidate>& candidates);

} // namespace LargestCandidate
