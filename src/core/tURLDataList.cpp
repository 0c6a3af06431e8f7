#include "tURLDataList.h"

#include <QtGlobal>

size_t qHash(const tURLDataList::Key& key, size_t seed) {
    return qHashMulti(seed, key.url, key.kind);
}

qsizetype tURLDataList::Count() const {
    return qsizetype(m_records.size());
}

const tURLData& tURLDataList::Items(qsizetype i) const noexcept {
    if (i < 0 || i >= Count()) [[unlikely]] {
        static const tURLData none{};
        qCritical("リストのインデックスが範囲を超えています (%lld)", static_cast<long long>(i));
        return none;
    }
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
