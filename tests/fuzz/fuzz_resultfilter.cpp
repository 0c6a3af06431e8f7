// The result filter: a piece of an address typed into the filter box always finds that address, in
// its own capitals or in others.

#include "FuzzInput.h"
#include "ResultFilter.h"

#include <algorithm>
#include <cstring>

namespace {

// Pieces of one address tried for each input.
constexpr int PiecesTried = 8;

bool cutsPair(const QString& text, qsizetype at) {
    return at > 0 && at < text.size() && text[at - 1].isHighSurrogate() && text[at].isLowSurrogate();
}

QString asciiUpper(QString text) {
    for (QChar& c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    }
    return text;
}

} // namespace

// Input: the address, optionally followed by a NUL and a filter text of its own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    const size_t urlSize = nul ? size_t(nul - data) : size;
    const QString url = FuzzInput::text(data, urlSize);
    FuzzInput::require(!ResultFilter::matches(url, QString()), "an empty filter matches nothing", url);

    if (nul) {
        const QString filter = FuzzInput::text(nul + 1, size - urlSize - 1);
        const bool found = ResultFilter::matches(url, filter);
        FuzzInput::require(ResultFilter::matches(url, filter) == found, "matches is deterministic", url,
                           filter);
        FuzzInput::require(found || filter.isEmpty() || !url.contains(filter), "text in the address is found",
                           url, filter);
    }
    if (url.isEmpty())
        return 0;

    // Pieces chosen by the input itself, so that a crash file repeats them.
    quint32 state = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        state = (state ^ data[i]) * 16777619u;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int k = 0; k < PiecesTried; ++k) {
        const qsizetype begin = qsizetype(next() % quint32(url.size()));
        const qsizetype length = 1 + qsizetype(next() % quint32(std::min<qsizetype>(url.size() - begin, 64)));
        const QString piece = url.mid(begin, length);
        FuzzInput::require(ResultFilter::matches(url, piece), "a piece of the address is found", url, piece);
        if (!cutsPair(url, begin) && !cutsPair(url, begin + length))
            FuzzInput::require(ResultFilter::matches(url, asciiUpper(piece)),
                               "a piece of the address in capitals is found", url, piece);
    }

    // The lists find it on its own side only.
    tURLDataList list;
    list.Add(tURLData::make(url, url.size() % 2 ? tURLData::KindPage : tURLData::KindImage, 0, QString()));
    const auto side = url.size() % 2 ? ResultFilter::Side::LinkedPages : ResultFilter::Side::DataFiles;
    const auto other = url.size() % 2 ? ResultFilter::Side::DataFiles : ResultFilter::Side::LinkedPages;
    const QString piece = url.left(1 + url.size() / 2);
    // A script address is in neither list: it names no file and no page.
    const bool script = url.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive);
    FuzzInput::require(ResultFilter::matching(list, side, piece).addresses ==
                           (script ? QStringList{} : QStringList{url}),
                       "the list finds the address", url, piece);
    FuzzInput::require(ResultFilter::matching(list, other, piece).addresses.isEmpty(),
                       "the other list does not", url, piece);
    return 0;
}
