#pragma once

#include "tools/jetwriter/jet_writer.h"
#include "tools/jetwriter/page_store.h"

namespace p1::jet::writing {

// Jet's own type codes; the catalog also needs OLE, which tables written here never hold.
enum class JetType : quint8 {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Double = 0x07,
    DateTime = 0x08,
    Text = 0x0a,
    Ole = 0x0b,
    Memo = 0x0c,
};

JetType jetType(ColumnType type);

struct ColumnLayout {
    QString name;
    JetType type;
    int number = 0;
    bool fixed = true;
    int length = 0;      // bytes, as the table definition states it
    int fixedOffset = 0; // fixed columns: where the value starts in the fixed area
    int varIndex = 0;    // variable columns: slot in the row's offset table
};

// Where each column lives in a row. Columns are numbered in the order they were declared.
class TableLayout {
public:
    // Throws std::invalid_argument for a blank or repeated name, a bad text length, or more
    // than 255 columns.
    void add(const QString& name, JetType type, int textLength = 0);

    const QList<ColumnLayout>& columns() const { return columns_; }
    int fixedSize() const { return fixedSize_; }
    int varCount() const { return varCount_; }

    // The row as Jet stores it; long memos go to long value pages of the store.
    // Throws std::invalid_argument when a value does not suit its column or the row is too long.
    QByteArray encodeRow(const QList<Value>& values, PageStore& longValues) const;

private:
    QList<ColumnLayout> columns_;
    int fixedSize_ = 0;
    int varCount_ = 0;
};

// Jet 4 text: UCS-2LE, or the compressed form when every character allows it and it is shorter.
QByteArray encodeText(const QString& text, bool mayCompress);

// The Jet day count of a date-time: whole days from the zero day, signed, and the time of day
// counted forward from that day.
double toJetDays(const QDateTime& dateTime);

} // namespace p1::jet::writing
