#include "LargestCandidate.h"

#include "ImageFacts.h"

#include <QHash>

#include <tuple>

namespace LargestCandidate {

namespace {

// What orders two candidates: a known size above none, then area, then being behind a link, then
// w, then x.
std::tuple<bool, qint64, bool, double, double> rank(const Candidate& c) {
    const bool sized = ImageFacts::plausible(c.width, c.height);
    double w = 0;
    double x = 1;
    const QString d = c.descriptor.trimmed().toLower();
    // A descriptor is one number and a unit letter; anything else is no descriptor (1x).
    bool ok = false;
    const double value = d.chopped(d.isEmpty() ? 0 : 1).toDouble(&ok);
    if (ok && value > 0 && d.endsWith(u'w'))
        w = value;
    else if (ok && value > 0 && d.endsWith(u'x'))
        x = value;
    return {sized, sized ? ImageFacts::area(c.width, c.height) : 0, c.linked, w, x};
}

} // namespace

bool behindLink(const QString& via, qint32 depth) {
    return depth > 0 || via.endsWith(QLatin1String("a@href"));
}

QList<bool> pick(const QList<Candidate>& candidates) {
    QList<bool> keep(candidates.size(), true);
    QHash<qint32, qsizetype> best;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const qint32 set = candidates.at(i).set;
        if (set == 0)
            continue;
        auto it = best.find(set);
        if (it == best.end()) {
            best.insert(set, i);
        } else if (rank(candidates.at(i)) > rank(candidates.at(*it))) {
            keep[*it] = false;
            *it = i;
        } else {
            keep[i] = false;
        }
    }
    return keep;
}

} // namespace LargestCandidate
