#include "stages/consultation_lookup.h"

#include "common/errors.h"
#include "common/locale_texts.h"
#include "stages/stage_frame.h"

#include <algorithm>

namespace p1 {

namespace {

const QString consultationKey = QStringLiteral("MOTCONSU");
const QString consultationFailure = QStringLiteral(" : recherche de la consultation Tessaris du patient n°%1 datée au %2");

FoundConsultation createConsultation(RunContext& run, TargetDataset& MOTCONSU, qint64 patient, qint64 physician,
                                     const QString& reason, const QDateTime& date)
{
    // Past every consultation the target holds: a counter left behind its rows (a target not
    // emptied, a run that was stopped) would otherwise give every new consultation a taken number.
    const qint64 highestHeld = MOTCONSU.highestValue(QStringLiteral("MOTCONSU_ID"));
    MOTCONSU.append();
    const qint64 consultation = std::max(run.ids.ReadLastValue(consultationKey), highestHeld) + 1;
    MOTCONSU.setValue(QStringLiteral("MOTCONSU_ID"), consultation);
    MOTCONSU.setValue(QStringLiteral("PATIENTS_ID"), patient);
    MOTCONSU.setValue(QStringLiteral("DATE_CONSULTATION"), date);
    MOTCONSU.setValue(QStringLiteral("MEDECINS_ID"), physician);
    MOTCONSU.setValue(QStringLiteral("MOTIF_DE_CONSULTATION"), reason);
    try {
        MOTCONSU.post();
        run.ids.RaiseLastValue(consultationKey, consultation);
        return {consultation, {}, {}};
    } catch (const std::exception& error) {
        rethrowWhenTheRunMustEnd(error);
        MOTCONSU.cancel();
        return {-1, consultationFailure.arg(QString::number(patient), dateTimeText(date)), errorMessage(error)};
    }
}

} // namespace

QString consultationLookupText()
{
    return QStringLiteral("SELECT MOTCONSU_ID, PATIENTS_ID, DATE_CONSULTATION, MEDECINS_ID, MOTIF_DE_CONSULTATION "
                          "FROM MOTCONSU");
}

FoundConsultation FindOrCreateConsultation(RunContext& run, TargetDataset& MOTCONSU, qint64 patient,
                                           qint64 physician, const QString& reason, const QDateTime& date)
{
    if (MOTCONSU.locate({QStringLiteral("PATIENTS_ID"), QStringLiteral("DATE_CONSULTATION")}, {patient, date})) {
        const qint64 found = MOTCONSU.field(QStringLiteral("MOTCONSU_ID")).asInteger();
        if (found > 0)
            return {found, {}, {}};
    }
    return createConsultation(run, MOTCONSU, patient, physician, reason, date);
}

} // namespace p1
