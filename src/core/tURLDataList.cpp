#include "tURLDataList.h"

#include "NepirikaError.h"

size_t qHash(const tURLDataList::Key& key, size_t seed) {
    return qHashMulti(seed, key.url, key.kind);
}

qsizetype tURLDataList::Count() const {
    return qsizetype(m_records.size());
}

const tURLData& tURLDataList::Items(qsizetype i) const {
    if (i < 0 || i >= Count())
        throw NepirikaError(QStringLiteral("リストのインデックスが範囲を超えています (%1)").arg(i));
    return m_records[size_t(i)];
}

bool tURLDataList::Contains(const QString& url, qint32 kind) const {
    return m_index.contains(Key{url, kind});
}

bool tURLDataList::Add(const tURLData& record) {
    Key key{record.URL, record.Kind};
    if (m_index.contains(key))
        return false;
    m_index.insert(key, Count());
    m_records.push_back(record);
    return true;
}

const std::vector<tURLData>& tURLDataList::records() const {
    return m_records;
}
