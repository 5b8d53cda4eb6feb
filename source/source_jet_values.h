#pragma once

#include "source/source_jet_table.h"

#include <span>
#include <vector>

namespace p1::jetfile {

// Jet 4 text: UCS-2LE, or compressed when it starts with FF FE (one byte per character, a zero
// byte switching between one-byte and two-byte characters).
QString decodeText(const std::uint8_t* bytes, int size);

// Reads the rows of one table through libmdb: the page goes into libmdb's page buffer, libmdb
// locates the row and splits it into fields (null flags and raw bytes), and our own code turns
// those bytes into values. libmdb trusts every offset it meets, so each row's offset table,
// variable offsets and column counts are checked before it is handed over, and every field it
// returns is checked against its row.
class RowDecoder {
public:
    RowDecoder(const PageFile& file, MdbHandle* mdb, const TableLayout& table);

    // One of the table's data pages, in libmdb's page buffer. Load it again after a moved row
    // or any other read has taken the buffer: libmdb only reads the file when the page changed.
    const std::uint8_t* tablePage(quint32 page);
    // Row `row` of the page tablePage last loaded, whose bounds our check has already found.
    void decode(int row, RowSpan span, QList<SourceValue>& values);
    // The row a moved row points at, wherever it now lives.
    void decodeMoved(quint32 pageRow, QList<SourceValue>& values);

private:
    const std::uint8_t* loadPage(quint32 page);
    int checkRow(RowSpan span) const;
    SourceValue fieldValue(const MdbField& field, const Column& column, RowSpan span,
                           int rowColumnCount) const;
    SourceValue fixedValue(const std::uint8_t* bytes, const Column& column) const;
    SourceValue variableValue(const std::uint8_t* bytes, int size, const Column& column) const;
    QByteArray longValue(const std::uint8_t* field, int size) const;
    QByteArray chainedLongValue(quint32 pageRow, quint32 length) const;
    std::span<const std::uint8_t> longValueRow(quint32 pageRow) const;

    const PageFile& file_;
    MdbHandle* mdb_;
    const TableLayout& table_;
    std::vector<int> fixedColumnNumbers_; // ascending
    std::vector<int> fixedAreaEnds_;      // [k]: row bytes the first k fixed columns reach
    std::vector<MdbField> fields_;
    mutable Page longValuePage_;
};

} // namespace p1::jetfile
