#pragma once

#include "tURLData.h"

#include <QHash>
#include <QString>

#include <vector>

// The records of one analysis in the order they were found. Records are only ever appended.
// A hash index over (address, kind) keeps the duplicate test constant-time, so filling the list
// stays linear in the number of records.
class tURLDataList {
public:
    qsizetype Count() const;
    // The record at position i. A position outside 0 .. Count()-1 is a programming error, not
    // something to tell the user: it is logged ("リストのインデックスが範囲を超えています (i)") and
    // an empty record comes back. Never throws, so it is safe on paths that the engine calls.
    const tURLData& Items(qsizetype i) const noexcept;
    // True when a record with exactly this address (byte for byte) and kind is in the list.
    bool Contains(const QString& url, qint32 kind) const;
    // Appends the record unless one with the same address and kind is already there.
    // Returns whether it was appended.
    bool Add(const tURLData& record);

    const std::vector<tURLData>& records() const;

private:
    struct Key {
        QString url;
        qint32 kind;
        bool operator==(const Key&) const = default;
    };
    friend size_t qHash(const Key& key, size_t seed);

    std::vector<tURLData> m_records;
    QHash<Key, qsizetype> m_index;
};
