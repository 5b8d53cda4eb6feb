#include "stages/consultation_lookup.h"

#include "common/errors.h"
#include "common/locale_texts.h"
#include "stages/stage_frame.h"

#include <algorithm>
#include <optional>

namespace p1 {

namespace {

const QString consultationKey = QStringLiteral("MOTCONSU");
const QString consultationFailure = QStringLiteral(" : recherche de la consultation Tessaris du patient n°%1 datée au %2");

// The two failure lines of a search or creation that failed, naming the patient and the day.
void logConsultationFailure(RunContext& run, qint64 patient, const QDateTime& date, const std::exception& error)
{
    logFailureLines(run.ui, consultationFailure.arg(QString::number(patient), dateTimeText(date)),
                    errorMessage(error));
}

// The consultation found, 0 when there is none with a positive number, nullopt when the search
// failed (named in the log).
std::optional<qint64> searchConsultation(RunContext& run, qint64 patient, const QDateTime& date)
{
    TargetDataset& MOTCONSU = run.Query2;
    try {
        MOTCONSU.open();
        if (MOTCONSU.eof())
            return 0;
        return std::max<qint64>(MOTCONSU.field(QStringLiteral("MOTCONSU_ID")).asInteger(), 0);
    } catch (const std::exception& error) {
        rethrowWhenTheRunMustEnd(error);
        logConsultationFailure(run, patient, date, error);
        return std::nullopt;
    }
}

qint64 createConsultation(RunContext& run, qint64 patient, qint64 physician, const QString& reason,
                          const QDateTime& date)
{
    TargetDataset& MOTCONSU = run.Query2;
    MOTCONSU.append();
    const qint64 consultation = run.ids.ReadLastValue(consultationKey) + 1;
    MOTCONSU.setValue(QStringLiteral("MOTCONSU_ID"), consultation);
    MOTCONSU.setValue(QStringLiteral("PATIENTS_ID"), patient);
    MOTCONSU.setValue(QStringLiteral("DATE_CONSULTATION"), date);
    MOTCONSU.setValue(QStringLiteral("MEDECINS_ID"), physician);
    MOTCONSU.setValue(QStringLiteral("MOTIF_DE_CONSULTATION"), reason);
    try {
        MOTCONSU.post();
        run.ids.RaiseLastValue(consultationKey, consultation);
        return consultation;
    } catch (const std::exception& error) {
        rethrowWhenTheRunMustEnd(error);
        logConsultationFailure(run, patient, date, error);
        return -1;
    }
}

} // namespace

QString consultationSearchText()
{
    return QStringLiteral("SELECT * FROM MOTCONSU WHERE PATIENTS_ID=:patients_id AND "
                          "DATE_CONSULTATION=:date_consultation");
}

qint64 FindOrCreateConsultation(RunContext& run, qint64 patient, qint64 physician,
                                const QString& reason, const QDateTime& date)
{
    TargetDataset& MOTCONSU = run.Query2;
    MOTCONSU.setParameter(QStringLiteral("patients_id"), patient);
    MOTCONSU.setParameter(QStringLiteral("date_consultation"), date);
    const std::optional<qint64> found = searchConsultation(run, patient, date);
    qint64 consultation = found.value_or(-1);
    if (found == 0)
        consultation = createConsultation(run, patient, physician, reason, date);
    MOTCONSU.close();
    return consultation;
}

} // namespace p1
