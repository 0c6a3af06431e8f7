#include "ResultFilter.h"

#include "DisplayAddress.h"

#include <QUrl>

namespace ResultFilter {
namespace {

// loweredFilter is already lower-cased and not empty.
bool matchesLowered(const QString& url, const QString& loweredFilter) {
    if (url.toLower().contains(loweredFilter))
        return true;
    // Addresses come percent-encoded from the engine; a filter typed as the user reads the address
    // ("日本語", "a b") matches its decoded form too.
    if (!url.contains(QLatin1Char('%')))
        return false;
    return QUrl::fromPercentEncoding(url.toUtf8()).toLower().contains(loweredFilter);
}

// An international host name matches as it reads ("例え" finds "http://xn--r8jz45g.jp/").
bool matchesDecodedHost(const QString& url, const QString& loweredFilter) {
    return url.contains(QLatin1String("xn--"), Qt::CaseInsensitive) &&
           DisplayAddress::forMatching(url).toLower().contains(loweredFilter);
}

} // namespace

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
        if (belongs(record, side) &&
            (matchesLowered(record.URL, lowered) || matchesDecodedHost(record.URL, lowered))) {
            entries.addresses.append(record.URL);
            entries.records.append(qsizetype(i));
        }
    }
    return entries;
}

bool matches(const QString& url, const QString& filterText) {
    const QString lowered = filterText.toLower();
    return !lowered.isEmpty() && (matchesLowered(url, lowered) || matchesDecodedHost(url, lowered));
}

} // namespace ResultFilter
