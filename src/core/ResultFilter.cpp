#include "ResultFilter.h"

#include "DisplayAddress.h"
#include "LocalFileName.h"

#include <QUrl>

namespace ResultFilter {
namespace {

// The form both sides are compared in: each code point lower-cased on its own (simple case mapping, so
// that a piece of a text folds to a piece of the folded text), a lone surrogate kept as it is.
// QString::toLower() turns a lone surrogate into U+FFFD, but only in a text that has a capital to
// lower, so that the two sides would differ.
QString folded(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t lower = QChar::toLower(QChar::surrogateToUcs4(c, text[i + 1]));
            out += QChar(QChar::highSurrogate(lower));
            out += QChar(QChar::lowSurrogate(lower));
            ++i;
        } else {
            out += c.isSurrogate() ? c : QChar(QChar::toLower(c.unicode()));
        }
    }
    return out;
}

// foldedFilter is already folded and not empty.
bool matchesFolded(const QString& url, const QString& charset, const QString& filterText,
                   const QString& foldedFilter) {
    // Text that is in the address as it stands is always found, half of a surrogate pair included.
    if (url.contains(filterText) || folded(url).contains(foldedFilter))
        return true;
    // Addresses come percent-encoded from the engine; a filter typed as the user reads the address
    // ("日本語", "a b") matches its decoded form too.
    if (!url.contains(QLatin1Char('%')))
        return false;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.toUtf8());
    if (folded(QString::fromUtf8(bytes)).contains(foldedFilter))
        return true;
    // A name in the page's own legacy encoding ("写真" finds ".../%8E%CA%90%5E2.jpg" of a Shift_JIS
    // page) matches as it will be saved.
    return !bytes.isValidUtf8() && folded(LocalFileNames::legacyName(url, charset)).contains(foldedFilter);
}

// An international host name matches as it reads ("例え" finds "http://xn--r8jz45g.jp/").
bool matchesDecodedHost(const QString& url, const QString& foldedFilter) {
    return url.contains(QLatin1String("xn--"), Qt::CaseInsensitive) &&
           folded(DisplayAddress::forMatching(url)).contains(foldedFilter);
}

} // namespace

bool belongs(const tURLData& record, Side side) {
    // A script link names no file and no page: it is in neither list.
    if (record.Kind == tURLData::KindScript ||
        record.URL.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
        return false;
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
    if (filterText.isEmpty())
        return entries;
    const QString foldedFilter = folded(filterText);
    const std::vector<tURLData>& records = list.records();
    for (size_t i = 0; i < records.size(); ++i) {
        const tURLData& record = records[i];
        if (belongs(record, side) && (matchesFolded(record.URL, record.Charset, filterText, foldedFilter) ||
                                      matchesDecodedHost(record.URL, foldedFilter))) {
            entries.addresses.append(record.URL);
            entries.records.append(qsizetype(i));
        }
    }
    return entries;
}

bool matches(const QString& url, const QString& filterText, const QString& charset) {
    return !filterText.isEmpty() && (matchesFolded(url, charset, filterText, folded(filterText)) ||
                                     matchesDecodedHost(url, folded(filterText)));
}

} // namespace ResultFilter
