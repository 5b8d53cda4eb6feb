#pragma once

#include "platform/source_jet_table.h"

namespace p1::jet {

// Jet 4 text: UCS-2LE, or compressed when it starts with FF FE (one byte per character, a zero
// byte switching between one-byte and two-byte characters).
QString decodeText(const std::uint8_t* bytes, int size);

// Splits the rows of one table into values, straight from the row bytes: null flags, fixed
// area, variable offsets and long values, every offset checked against its row.
class RowDecoder {
public:
    RowDecoder(const PageFile& file, const TableLayout& table);

    void decode(const Page& page, RowSpan row, QList<SourceValue>& values);

private:
    struct Cursor;
    SourceValue columnValue(const Cursor& row, const Column& column) const;
    SourceValue fixedValue(const std::uint8_t* bytes, const Column& column) const;
    SourceValue variableValue(const std::uint8_t* bytes, int size, const Column& column) const;
    QByteArray longValue(const std::uint8_t* field, int size) const;
    QByteArray chainedLongValue(quint32 pageRow, quint32 length) const;
    RowSpan longValueRow(quint32 pageRow) const;

    const PageFile& file_;
    const TableLayout& table_;
    mutable Page longValuePage_;
};

} // namespace p1::jet
