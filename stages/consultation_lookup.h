#pragma once

#include "stages/run_context.h"

#include <QDateTime>

namespace p1 {

// The command text of the MOTCONSU dataset FindOrCreateConsultation looks in: the table whole,
// with only the columns it reads or sets (the consultations' long texts are not transferred).
QString consultationLookupText();

// A consultation found or created, or why none could be created.
struct FoundConsultation {
    qint64 id = -1; // -1 when the target refused the new row
    // The refusal, for the caller to log and record (ImportStage::logFailure): the wording of its
    // failure line and the engine's message.
    QString failureWording;
    QString failureMessage;
};

// The MOTCONSU_ID of the patient's consultation at exactly that date-time, the row created with
// the physician and the reason (numbered past "MOTCONSU" and every MOTCONSU_ID held, the counter
// raised at once) when there is none or when the first one bears no positive number; id -1, with
// the refusal, when the target refuses the new row.
// The consultations are those of MOTCONSU, a dataset the caller opens on consultationLookupText():
// it holds the rows created since, and a look-up costs the target nothing. UI thread only.
FoundConsultation FindOrCreateConsultation(RunContext& run, TargetDataset& MOTCONSU, qint64 patient,
                                           qint64 physician, const QString& reason, const QDateTime& date);

} // namespace p1
