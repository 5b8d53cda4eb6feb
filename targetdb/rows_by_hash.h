#pragma once

#include <QVarLengthArray>
#include <QtGlobal>

#include <span>
#include <vector>

namespace p1 {

// The rows of a dataset filed by the hash of their key, for its locates. A stage files every row
// it stores and looks up one at every source row, hundreds of thousands of times: the hashes sit
// in one open table probed in line, one slot per hash, and a hash that names a single row (most
// do) holds it in its slot, so that filing a row allocates nothing but when the table doubles.
// The rows of one hash come back in increasing order. Not thread-safe: the dataset's thread only.
class RowsByHash {
public:
    void reserve(int rows);
    void add(quint32 hash, int row);
    void remove(quint32 hash, int row); // nothing when the row is not filed under the hash
    std::span<const int> rowsWith(quint32 hash) const;

private:
    // A slot's entry: a row (0 and above), no row (empty), or the place of a list of rows.
    static constexpr int empty = -1;
    static bool isList(int entry) { return entry < empty; }
    static int listAt(int entry) { return -2 - entry; }
    static int entryOfList(int list) { return -2 - list; }

    struct Slot {
        quint32 hash = 0;
        int entry = empty;
    };
    using Rows = QVarLengthArray<int, 4>;

    qsizetype slotOf(quint32 hash) const; // the slot of the hash, or the empty one it would take
    void growFor(qsizetype hashes);
    void erase(qsizetype slot);
    int newList(int first, int second);
    void freeList(int list);

    std::vector<Slot> slots_;
    qsizetype used_ = 0;
    std::vector<Rows> lists_;
    std::vector<int> freeLists_;
};

} // namespace p1
