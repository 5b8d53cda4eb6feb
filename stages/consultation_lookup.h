#pragma once

#include "stages/run_context.h"

#include <QDateTime>

namespace p1 {

// The statement a caller gives Query2 before its loop, for FindOrCreateConsultation.
QString consultationSearchText();

// The MOTCONSU_ID of the patient's consultation at exactly that date-time, the row created with
// the physician and the reason (numbered from "MOTCONSU", raised at once) when there is none.
// -1 when the new row is refused, and also when the search itself fails: with the target's
// content unknown, a new row could duplicate the consultation. Both failures are named in the
// log. Query2 is closed on return. UI thread only.
qint64 FindOrCreateConsultation(RunContext& run, qint64 patient, qint64 physician,
                                const QString& reason, const QDateTime& date);

} // namespace p1
