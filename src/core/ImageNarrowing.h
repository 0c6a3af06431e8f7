#pragma once

#include "ResultFilter.h"

#include <QStringList>

#include <functional>
#include <vector>

// Narrows and orders the data files by what is known of each image: at least a width and a height,
// of the types kept, only the largest candidate of each image set; in page order, by pixel area or
// by size in bytes (largest first, what is not known last, page order among equals).
namespace ImageNarrowing {

enum class Order { Page, Area, Bytes };

// The type names offered for keeping, and the name that stands for every other type (media,
// embeds, what is not known).
QStringList offeredTypes();
QString otherTypes();

struct Criteria {
    int minWidth = 0;
    int minHeight = 0;
    // The type names kept (those of offeredTypes() and otherTypes()); empty keeps every type.
    QStringList types;
    bool largestOnly = false;
    Order order = Order::Page;

    // Whether any entry could be left out or moved.
    bool active() const;
    // Whether the entries' sizes are needed.
    bool needsSizes() const;
};

// What is known of one entry's file.
struct Facts {
    // Nothing fetched yet: the type and sizes are not known.
    bool known = false;
    QString typeName;
    qint64 width = -1;
    qint64 height = -1;
    qint64 bytes = -1;
};

// The entries that meet the criteria, in the order asked. An entry whose type is not known yet is
// kept by the types; one whose size is not known is left out by a minimum size. The largest of a set
// is chosen among the entries given (the sets of the records in records).
ResultFilter::Entries apply(const ResultFilter::Entries& entries, const std::vector<tURLData>& records,
                            const Criteria& criteria, const std::function<Facts(qsizetype record)>& factsOf);

} // namespace ImageNarrowing
