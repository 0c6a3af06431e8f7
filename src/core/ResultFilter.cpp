#include "ResultFilter.h"

namespace ResultFilter {

bool belongs(const tURLData& record, Side side) {
    return (side == Side::LinkedPages) == record.isPage();
}

Entries all(const tURLDataList& list, Side side) {
    Entries entries;
    const std::vector<tURLData>& records = list.records();
    for (size_t i = 0; i < records.size(); ++i) {
        if (belongs(records[i], side)) {
            entries.addresses.append(records[i].URL);
            entries.records.append(qsizetype(i));
        }
    }
    return entries;
}

Entries matching(const tURLDataList& list, Side side, const QString& filterText) {
    Entries entries;
    const QString lowered = filterText.toLower();
    if (lowered.isEmpty())
        return entries;
    const std::vector<tURLData>& records = list.records();
    for (size_t i = 0; i < records.size(); ++i) {
        const tURLData& record = records[i];
        if (belongs(record, side) && record.URL.toLower().contains(lowered)) {
            entries.addresses.append(record.URL);
            entries.records.append(qsizetype(i));
        }
    }
    return entries;
}

bool matches(const QString& url, const QString& filterText) {
    const QString lowered = filterText.toLower();
    return !lowered.isEmpty() && url.toLower().contains(lowered);
}

} // namespace ResultFilter
