#include "HarvestOutput.h"

#include "LargestCandidate.h"
#include "RecordFormat.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// The record's JSON line with "saved" added (its fields are in no particular order).
QString withSaved(const QString& line, const QString& path) {
    const QString value = QString::fromUtf8(QJsonDocument(QJsonArray{path}).toJson(QJsonDocument::Compact));
    // ["…"] → "…"
    return line.left(line.size() - 1) + QStringLiteral(",\"saved\":") + value.mid(1, value.size() - 2) + u'}';
}

} // namespace

HarvestOutput::HarvestOutput(const Options& options, Print print, std::function<void()> printed,
                             QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_print(std::move(print))
    , m_printed(std::move(printed)) {
    if (m_options.minWidth > 0 || m_options.minHeight > 0)
        m_options.probe = true;
    if (m_options.probe) {
        m_probe = new ImageProbe(m_options.network, this);
        connect(m_probe, &ImageProbe::probed, this, [this](int index, const ImageProbeResult& result) {
            const auto [page, record] = m_probed.take(index);
            Page& p = m_pages.at(size_t(page - m_printedPages));
            result.recordIn(p.records[record]);
            --p.waiting;
            flush();
        });
    }
}

void HarvestOutput::addPage(const QList<tURLData>& records) {
    Page page;
    page.records = records;
    page.probed = m_probe != nullptr;
    if (m_probe) {
        const qint64 number = m_printedPages + qint64(m_pages.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (records.at(i).Kind != tURLData::KindImage)
                continue;
            m_probed.insert(m_probe->add({records.at(i).URL, records.at(i).Source}), {number, i});
            ++page.waiting;
        }
    }
    m_pages.push_back(std::move(page));
    flush();
}

void HarvestOutput::finish() {
    m_finishing = true;
    flush();
}

int HarvestOutput::unsized() const {
    return m_unsized;
}

int HarvestOutput::savedLeftOut() const {
    return m_savedLeftOut;
}

void HarvestOutput::flush() {
    if (m_options.largest && m_options.setsAcrossPages) {
        // The largest of a set is known only once every page that may hold one of its members is in.
        if (!m_finishing || m_done)
            return;
        Page whole;
        whole.probed = m_probe != nullptr;
        for (const Page& page : m_pages) {
            if (page.waiting > 0)
                return;
            whole.records.append(page.records);
        }
        m_printedPages += qint64(m_pages.size());
        m_pages.clear();
        printPage(whole);
        m_printed();
        m_done = true;
        Q_EMIT done();
        return;
    }
    while (!m_pages.empty() && m_pages.front().waiting == 0) {
        const Page page = std::move(m_pages.front());
        m_pages.pop_front();
        ++m_printedPages;
        printPage(page);
        m_printed();
    }
    if (m_finishing && m_pages.empty() && !m_done) {
        m_done = true;
        Q_EMIT done();
    }
}

void HarvestOutput::printPage(const Page& page) {
    QList<bool> keep(page.records.size(), true);
    if (m_options.largest) {
        QList<LargestCandidate::Candidate> candidates;
        candidates.reserve(page.records.size());
        for (const tURLData& r : page.records) {
            LargestCandidate::Candidate c;
            c.set = r.Kind == tURLData::KindImage ? r.Set : 0;
            c.descriptor = r.Descriptor;
            c.linked = LargestCandidate::behindLink(r.Via, r.Depth);
            if (r.Width >= 0 && r.Height >= 0) {
                c.width = r.Width;
                c.height = r.Height;
            }
            candidates.append(c);
        }
        keep = LargestCandidate::pick(candidates);
    }
    const bool bySize = m_options.minWidth > 0 || m_options.minHeight > 0;
    // One look-up a page.
    QHash<QString, QString> saved;
    if (m_options.savedLookup) {
        QStringList urls;
        for (qsizetype i = 0; i < page.records.size(); ++i) {
            if (keep.at(i))
                urls.append(page.records.at(i).URL);
        }
        saved = m_options.savedLookup(urls);
    }
    for (qsizetype i = 0; i < page.records.size(); ++i) {
        const tURLData& r = page.records.at(i);
        if (!keep.at(i))
            continue;
        const auto found = saved.constFind(r.URL);
        if (found != saved.cend() && m_options.newOnly) {
            ++m_savedLeftOut;
            continue;
        }
        if (page.probed && bySize && r.Kind == tURLData::KindImage) {
            if (r.Width < 0 || r.Height < 0) {
                ++m_unsized;
                continue;
            }
            if (r.Width < m_options.minWidth || r.Height < m_options.minHeight)
                continue;
        }
        if (!m_options.json)
            m_print(RecordFormat::tsvLine(r));
        else if (found != saved.cend())
            m_print(withSaved(RecordFormat::jsonLine(r), found.value()));
        else
            m_print(RecordFormat::jsonLine(r));
    }
}
