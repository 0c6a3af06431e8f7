#include "HarvestOutput.h"

#include "LargestCandidate.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// What the page says of an image candidate: its set, srcset descriptor and element size, where known.
void addPageFacts(QJsonObject& o, const tURLData& record) {
    if (record.Set > 0)
        o.insert(QStringLiteral("set"), record.Set);
    if (!record.Descriptor.isEmpty())
        o.insert(QStringLiteral("descriptor"), record.Descriptor);
    if (record.ElementWidth >= 0)
        o.insert(QStringLiteral("element_width"), record.ElementWidth);
    if (record.ElementHeight >= 0)
        o.insert(QStringLiteral("element_height"), record.ElementHeight);
}

// What the image's first bytes said: its size in pixels, the whole file's size, the type read from
// the content, and why any of them is missing.
void addProbeFacts(QJsonObject& o, const ImageProbeResult& r) {
    if (r.facts.hasSize()) {
        o.insert(QStringLiteral("width"), r.facts.width);
        o.insert(QStringLiteral("height"), r.facts.height);
    }
    if (r.bytes >= 0)
        o.insert(QStringLiteral("bytes"), r.bytes);
    if (r.facts.isImage())
        o.insert(QStringLiteral("type"), r.facts.mimeType);
    if (!r.problem.isEmpty())
        o.insert(QStringLiteral("probe_error"), r.problem);
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
            p.facts[record] = result;
            --p.waiting;
            flush();
        });
    }
}

void HarvestOutput::addPage(const QList<tURLData>& records) {
    Page page;
    page.records = records;
    if (m_probe) {
        page.facts.resize(records.size());
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

void HarvestOutput::flush() {
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
    const bool probed = !page.facts.isEmpty();
    QList<bool> keep(page.records.size(), true);
    if (m_options.largest) {
        QList<LargestCandidate::Candidate> candidates;
        candidates.reserve(page.records.size());
        for (qsizetype i = 0; i < page.records.size(); ++i) {
            const tURLData& r = page.records.at(i);
            LargestCandidate::Candidate c;
            c.set = r.Kind == tURLData::KindImage ? r.Set : 0;
            c.descriptor = r.Descriptor;
            if (probed && page.facts.at(i).facts.hasSize()) {
                c.width = page.facts.at(i).facts.width;
                c.height = page.facts.at(i).facts.height;
            }
            candidates.append(c);
        }
        keep = LargestCandidate::pick(candidates);
    }
    for (qsizetype i = 0; i < page.records.size(); ++i) {
        const tURLData& r = page.records.at(i);
        const ImageProbeResult* facts = probed && r.Kind == tURLData::KindImage ? &page.facts.at(i) : nullptr;
        if (!keep.at(i))
            continue;
        if (facts && (m_options.minWidth > 0 || m_options.minHeight > 0)) {
            if (!facts->facts.hasSize()) {
                ++m_unsized;
                continue;
            }
            if (facts->facts.width < m_options.minWidth || facts->facts.height < m_options.minHeight)
                continue;
        }
        m_print(line(r, facts));
    }
}

QString HarvestOutput::line(const tURLData& record, const ImageProbeResult* facts) const {
    if (!m_options.json)
        return tURLData::kindName(record.Kind) + QLatin1Char('\t') + record.URL;
    QJsonObject o;
    o.insert(QStringLiteral("kind"), tURLData::kindName(record.Kind));
    o.insert(QStringLiteral("url"), record.URL);
    o.insert(QStringLiteral("source"), record.Source);
    o.insert(QStringLiteral("via"), record.Via);
    addPageFacts(o, record);
    if (facts)
        addProbeFacts(o, *facts);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}
