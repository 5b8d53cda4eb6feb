#include "stages/prescriptions_stage.h"

#include "common/date_time.h"
#include "common/errors.h"
#include "stages/consultation_lookup.h"
#include "stages/normalisers.h"

namespace p1 {

namespace {

const StageTexts prescriptionsTexts{
    QStringLiteral("Importation des prescriptions..."),
    QStringLiteral("Erreur lors de l'ouverture de la table [ORD ORDONNANCE] de ORDO.MDB de Sorvane : "),
    QStringLiteral(" prescription créée"),
    QStringLiteral(" pescriptions créées"),
};
const QString itemStatement = QStringLiteral(
    "SELECT * from [ORD PRESCRIPTION] where [CODE ORDONNANCE]=:code ORDER BY [CODE ORDRE]");
const QString itemQueryError = QStringLiteral("Erreur lors de la recherche de la prescription n°%1");
const QString prescriptionFailure = QStringLiteral(" : importation de la prescription du patient n°%1 datée au %2");
const QString importedStatus = QStringLiteral("Patient n°%1, prescription datée au %2 importée");
const QString consultationReason = QStringLiteral("Importation de prescription");
const QString itemSeparator = QStringLiteral("\r\r");

// The item of the current row of the item query added to a prescription's text: after a blank
// line when the text already holds something, its name, then each part of its dosage that is
// not blank on a line of its own.
QString withItem(QString prescription, const SourceQuery& item)
{
    if (!prescription.isEmpty())
        prescription += itemSeparator;
    prescription += item.field(QStringLiteral("NOM")).asText();
    for (const char* part : {"POSO", "REMARQUE", "COMMENTAIRE"}) {
        const QString value = item.field(QString::fromLatin1(part)).asText();
        if (!isBlank(value))
            prescription += u'\r' + value;
    }
    return prescription;
}

const QString sourceTable = QStringLiteral("[ORD ORDONNANCE]");
const QString sourceOrder = QStringLiteral("ORDER BY [CODE ORDONNANCE], [DATE]");

class PrescriptionsStage : public ImportStage {
public:
    explicit PrescriptionsStage(RunContext& run)
        : ImportStage(run, prescriptionsTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvaneOrdo,
                       sourceTable, sourceOrder},
                      {{run.Query1, wholeTable(run.prescriptionTable)},
                       {run.Query2, consultationLookupText()}}),
          PRESCRIPTIONS(run.Query1), MOTCONSU(run.Query2), items_(run.Sorvane_Query1),
          prescriptionNumber_(counter(run.prescriptionTable))
    {
        identifyRowsBy(QStringLiteral("CODE PATIENT"));
        sendRowsAhead();
    }

private:
    void prepare() override
    {
        items_.close();
        items_.sql() = QStringList{itemStatement};
        items_.setConnection(&run_.ADOConnectionSorvaneOrdo);
    }

    RowOutcome importRow() override
    {
        const qint64 patient = integer(QStringLiteral("CODE PATIENT"));
        if (patient <= 0)
            return RowOutcome::Skipped;
        if (!openItems())
            return RowOutcome::Refused;
        const QDateTime day = wallClock(field(QStringLiteral("DATE CONSULTATION")).asDateTime().date());
        const bool found = PRESCRIPTIONS.locate({QStringLiteral("PATIENTS_ID"), QStringLiteral("DATE_CONSULTATION")},
                                                {patient, day});
        if (found)
            PRESCRIPTIONS.edit();
        else if (!startRow(patient, day)) {
            items_.close();
            return RowOutcome::Refused;
        }
        appendItems();
        items_.close();
        if (!store())
            return RowOutcome::Refused;
        return found ? RowOutcome::Merged : RowOutcome::Stored;
    }

    // The operator is told at once and the run waits: a prescription whose items cannot be read
    // is not stored without them. The report records it under the dialog's first line.
    bool openItems()
    {
        const QString code = text(QStringLiteral("CODE ORDONNANCE"));
        items_.setParameter(QStringLiteral("code"), integer(QStringLiteral("CODE ORDONNANCE")));
        try {
            items_.open();
            return true;
        } catch (const std::exception& error) {
            rethrowWhenTheRunMustEnd(error);
            const QString wording = itemQueryError.arg(code);
            showRowError(wording + u'\r' + errorMessage(error));
            recordRefusal(wording, errorMessage(error));
            items_.close();
            return false;
        }
    }

    // A new row for the patient's day, attached to its consultation; false, with no number used,
    // when there is no consultation (its refusal logged and recorded).
    bool startRow(qint64 patient, const QDateTime& day)
    {
        const FoundConsultation found = FindOrCreateConsultation(
            run_, MOTCONSU, patient, integer(QStringLiteral("CODE MEDECIN")), consultationReason, day);
        if (found.id <= 0) {
            logFailure(found.failureWording, found.failureMessage);
            return false;
        }
        const qint64 consultation = found.id;
        PRESCRIPTIONS.append();
        PRESCRIPTIONS.setValue(run_.prescriptionTable + QStringLiteral("_ID"), prescriptionNumber_.next());
        PRESCRIPTIONS.setValue(QStringLiteral("MOTCONSU_ID"), consultation);
        PRESCRIPTIONS.setValue(QStringLiteral("PATIENTS_ID"), patient);
        PRESCRIPTIONS.setValue(QStringLiteral("DATE_CONSULTATION"), day);
        return true;
    }

    void appendItems()
    {
        for (; !items_.eof(); items_.next()) {
            const QString prescription = PRESCRIPTIONS.field(QStringLiteral("PRESCRIPTION")).asText();
            PRESCRIPTIONS.setValue(QStringLiteral("PRESCRIPTION"), withItem(prescription, items_));
        }
    }

    bool store()
    {
        const QString patient = text(QStringLiteral("CODE PATIENT"));
        const QString date = text(QStringLiteral("DATE"));
        const bool stored = guard(prescriptionFailure.arg(patient, date),
                                  [this] { PRESCRIPTIONS.post(); }, {&PRESCRIPTIONS});
        if (stored)
            showStatus(importedStatus.arg(patient, date));
        return stored;
    }

    TargetDataset& PRESCRIPTIONS;
    TargetDataset& MOTCONSU;
    SourceQuery& items_;
    StageCounter& prescriptionNumber_;
};

} // namespace

StageCounts importPrescriptions(RunContext& run)
{
    return PrescriptionsStage(run).run();
}

QStringList prescriptionsSourceStatements()
{
    return {wholeTableStatement(sourceTable, sourceOrder), itemStatement};
}

} // namespace p1
