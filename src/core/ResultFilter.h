#pragma once

#include "tURLDataList.h"

#include <QList>
#include <QString>
#include <QStringList>

// The two result lists of the main window and their filter. Linked pages are the records of kind
// KindPage; data files are all the others but script links (KindScript, or any "javascript:"
// address), which name no file and are in neither list. Both keep the harvest order.
namespace ResultFilter {

enum class Side { LinkedPages, DataFiles };

// One list's entries: the addresses, and for each the position of its record in the record list.
struct Entries {
    QStringList addresses;
    QList<qsizetype> records;
};

bool belongs(const tURLData& record, Side side);

// Every record of the side, in list order.
Entries all(const tURLDataList& list, Side side);

// The records of the side whose address contains the filter text anywhere, as it stands or both
// lower-cased first (Unicode-aware, character by character), shown as stored. A percent-encoded address
// matches in its decoded form too, so that "日本語" finds ".../%E6%97%A5%E6%9C%AC%E8%AA%9E.htm", and an
// international host name in its Unicode form ("例え" finds "http://xn--r8jz45g.jp/"), and a name in a
// legacy encoding as it will be saved ("写真" finds ".../%8E%CA%90%5E2.jpg" of a Shift_JIS page). An
// empty filter text matches nothing.
Entries matching(const tURLDataList& list, Side side, const QString& filterText);

// The rule for one address found on a page in charset: true when filterText occurs in url as it
// stands, or lower-cased in url lower-cased, or in url percent-decoded and lower-cased, or in the
// name of a legacy-encoded address (LocalFileNames::legacyName) lower-cased.
bool matches(const QString& url, const QString& filterText, const QString& charset = {});

} // namespace ResultFilter
