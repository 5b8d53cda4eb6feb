#include "targetdb/rows_by_hash.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace p1 {

namespace {

constexpr qsizetype smallestTable = 16;

} // namespace

void RowsByHash::reserve(int rows)
{
    growFor(rows);
}

qsizetype RowsByHash::slotOf(quint32 hash) const
{
    const qsizetype mask = qsizetype(slots_.size()) - 1;
    qsizetype slot = qsizetype(hash) & mask;
    while (slots_[slot].entry != empty && slots_[slot].hash != hash)
        slot = (slot + 1) & mask;
    return slot;
}

// Kept at most half full, so that a probe ends after a slot or two.
void RowsByHash::growFor(qsizetype hashes)
{
    if (hashes * 2 <= qsizetype(slots_.size()))
        return;
    const qsizetype size = std::max(smallestTable, qsizetype(std::bit_ceil(quint64(hashes) * 2)));
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(std::size_t(size)));
    for (const Slot& slot : old) {
        if (slot.entry != empty)
            slots_[slotOf(slot.hash)] = slot;
    }
}

void RowsByHash::add(quint32 hash, int row)
{
    growFor(used_ + 1);
    Slot& slot = slots_[slotOf(hash)];
    if (slot.entry == empty) {
        slot = {hash, row};
        ++used_;
    } else if (isList(slot.entry)) {
        Rows& rows = lists_[listAt(slot.entry)];
        rows.insert(std::lower_bound(rows.begin(), rows.end(), row), row);
    } else {
        slot.entry = newList(slot.entry, row);
    }
}

void RowsByHash::remove(quint32 hash, int row)
{
    if (slots_.empty())
        return;
    const qsizetype at = slotOf(hash);
    Slot& slot = slots_[at];
    if (slot.entry == row) {
        erase(at);
    } else if (isList(slot.entry)) {
        const int list = listAt(slot.entry);
        lists_[list].removeOne(row);
        if (lists_[list].size() == 1) {
            slot.entry = lists_[list].first();
            freeList(list);
        }
    }
}

std::span<const int> RowsByHash::rowsWith(quint32 hash) const
{
    if (slots_.empty())
        return {};
    const Slot& slot = slots_[slotOf(hash)];
    if (slot.entry == empty)
        return {};
    if (isList(slot.entry)) {
        const Rows& rows = lists_[listAt(slot.entry)];
        return {rows.constData(), std::size_t(rows.size())};
    }
    return {&slot.entry, 1};
}

// The hashes after the slot that probed past it move back into the hole, so that no probe stops
// early at it.
void RowsByHash::erase(qsizetype slot)
{
    const qsizetype mask = qsizetype(slots_.size()) - 1;
    qsizetype hole = slot;
    for (qsizetype next = (hole + 1) & mask; slots_[next].entry != empty; next = (next + 1) & mask) {
        const qsizetype home = qsizetype(slots_[next].hash) & mask;
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = Slot{};
    --used_;
}

int RowsByHash::newList(int first, int second)
{
    int list;
    if (freeLists_.empty()) {
        list = int(lists_.size());
        lists_.emplace_back();
    } else {
        list = freeLists_.back();
        freeLists_.pop_back();
    }
    lists_[list] = Rows{std::min(first, second), std::max(first, second)};
    return entryOfList(list);
}

void RowsByHash::freeList(int list)
{
    lists_[list].clear();
    freeLists_.push_back(list);
}

} // namespace p1
