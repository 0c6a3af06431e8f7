#include "ImageNarrowing.h"

#include "ImageFacts.h"
#include "LargestCandidate.h"

#include <algorithm>
#include <numeric>

namespace ImageNarrowing {

QStringList offeredTypes() {
    return {QStringLiteral("JPEG"), QStringLiteral("PNG"),  QStringLiteral("GIF"), QStringLiteral("WebP"),
            QStringLiteral("SVG"),  QStringLiteral("AVIF"), QStringLiteral("BMP"), QStringLiteral("ICO")};
}

QString otherTypes() {
    return QStringLiteral("その他");
}

bool Criteria::active() const {
    return needsSizes() || !types.isEmpty() || order != Order::Page;
}

bool Criteria::needsSizes() const {
    return minWidth > 0 || minHeight > 0 || largestOnly || order != Order::Page;
}

ResultFilter::Entries apply(const ResultFilter::Entries& entries, const std::vector<tURLData>& records,
                            const Criteria& criteria, const std::function<Facts(qsizetype record)>& factsOf) {
    const qsizetype count = std::min(entries.addresses.size(), entries.records.size());
    std::vector<Facts> facts;
    facts.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i)
        facts.push_back(factsOf(entries.records.at(i)));

    QList<bool> largest;
    if (criteria.largestOnly) {
        QList<LargestCandidate::Candidate> candidates;
        candidates.reserve(count);
        for (qsizetype i = 0; i < count; ++i) {
            const qsizetype position = entries.records.at(i);
            LargestCandidate::Candidate candidate;
            if (position >= 0 && size_t(position) < records.size()) {
                candidate.set = records[size_t(position)].Set;
                candidate.descriptor = records[size_t(position)].Descriptor;
                candidate.linked = LargestCandidate::behindLink(records[size_t(position)].Via,
                                                                records[size_t(position)].Depth);
            }
            candidate.width = facts[size_t(i)].width;
            candidate.height = facts[size_t(i)].height;
            candidates.append(candidate);
        }
        largest = LargestCandidate::pick(candidates);
    }

    const QStringList offered = offeredTypes();
    std::vector<qsizetype> kept;
    for (qsizetype i = 0; i < count; ++i) {
        const Facts& f = facts[size_t(i)];
        if (criteria.largestOnly && !largest.value(i, true))
            continue;
        if (!criteria.types.isEmpty() && f.known) {
            const bool offeredType = offered.contains(f.typeName, Qt::CaseInsensitive);
            const bool keptType = offeredType ? criteria.types.contains(f.typeName, Qt::CaseInsensitive)
                                              : criteria.types.contains(otherTypes());
            if (!keptType)
                continue;
        }
        const bool sized = ImageFacts::plausible(f.width, f.height);
        if ((criteria.minWidth > 0 || criteria.minHeight > 0) &&
            (!sized || f.width < criteria.minWidth || f.height < criteria.minHeight))
            continue;
        kept.push_back(i);
    }

    if (criteria.order != Order::Page) {
        auto measure = [&](qsizetype i) -> qint64 {
            const Facts& f = facts[size_t(i)];
            if (criteria.order == Order::Bytes)
                return f.bytes;
            return ImageFacts::plausible(f.width, f.height) ? ImageFacts::area(f.width, f.height) : -1;
        };
        std::stable_sort(kept.begin(), kept.end(),
                         [&](qsizetype a, qsizetype b) { return measure(a) > measure(b); });
    }

    ResultFilter::Entries result;
    result.addresses.reserve(qsizetype(kept.size()));
    result.records.reserve(qsizetype(kept.size()));
    for (qsizetype i : kept) {
        result.addresses.append(entries.addresses.at(i));
        result.records.append(entries.records.at(i));
    }
    return result;
}

} // namespace ImageNarrowing
