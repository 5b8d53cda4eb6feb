#pragma once

#include "targetdb/target_sql.h"

#include <QList>
#include <QString>

namespace p1 {

// A refusal (a row refused, or a refused part of a stored row), with the source code of the row
// it belongs to: its wording, as its log line reads after the stamp (as its dialog reads, for a
// prescription whose items cannot be read), and its reason.
struct FailureRecord {
    QString sourceCode;
    QString wording;
    QString message;
};

// A value the import's rules changed without a log line (a file number cut to its column), with
// the source code of its row.
struct ChangedValue {
    QString sourceCode;
    QString column;
    QString sourceValue;
    QString storedValue;
};

// A text longer than its target column, with the source code of its row.
struct OversizedValue {
    QString sourceCode;
    OversizedText text;
};

// What one stage did, for the run's report. read = skipped + stored + merged + refused.
struct StageCounts {
    QString stage; // the stage's command-line word
    qint64 read = 0;
    qint64 skipped = 0;
    qint64 stored = 0;
    qint64 merged = 0;
    qint64 refused = 0;
    qint64 failures = 0; // refusals recorded (failureLines), a stored row's refused parts included
    double seconds = 0;
    QList<FailureRecord> failureLines;
    QList<ChangedValue> changedValues; // of the rows stored or merged
    QList<OversizedValue> oversizedValues; // while the target watches its column sizes

    bool balanced() const { return read == skipped + stored + merged + refused; }
};

} // namespace p1
