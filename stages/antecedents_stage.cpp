#include "stages/antecedents_stage.h"

#include "stages/normalisers.h"
#include "stages/reference_lookups.h"

namespace p1 {

namespace {

const StageTexts antecedentsTexts{
    QStringLiteral("Importation des antécédents"),
    QStringLiteral("Erreur lors de l'ouverture de la table [ANT ANTECED PATIENT] de Sorvane : "),
    QStringLiteral(" antécédent créé"),
    QStringLiteral(" antécédents créés"),
};
const QString antecedentFailure = QStringLiteral(" : importation de l'antécédent du patient n°%1 daté au %2");
const QString importedStatus = QStringLiteral("Patient n°%1, antécédent daté au %2 importé");
const QString historyColumn = QStringLiteral("ANTECEDENTS_MEDICAUX");

const QString sourceTable = QStringLiteral("[ANT ANTECEDENT PATIENT]");
const QString sourceOrder = QStringLiteral("ORDER BY [CODE PATIENT], [CODE ANTECEDENT PATIENT]");

class AntecedentsStage : public ImportStage {
public:
    explicit AntecedentsStage(RunContext& run)
        : ImportStage(run, antecedentsTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvane,
                       sourceTable, sourceOrder},
                      {{run.Query1, QStringLiteral("SELECT * FROM ANTECED ORDER BY PATIENTS_ID")}}),
          ANTECED(run.Query1), antecedentNumber_(counter(QStringLiteral("ANTECED")))
    {
        countInSummary(SummaryCount::ProcessedRows);
        identifyRowsBy(QStringLiteral("CODE PATIENT"));
        sendRowsAhead();
    }

private:
    // The search, the edit and the label are left unguarded: a failure there is the target's or
    // the source's, not this row's, and ends the run.
    RowOutcome importRow() override
    {
        const qint64 patient = integer(QStringLiteral("CODE PATIENT"));
        if (patient <= 0)
            return RowOutcome::Skipped;
        const QString date = text(QStringLiteral("DATE"));
        const bool existing = openPatientRow(patient);
        addHistoryLine(run_.lookups.BuildAntecedentLabel(integer(QStringLiteral("CODE ANTECEDENT")), date));
        const QString code = text(QStringLiteral("CODE PATIENT"));
        const bool stored = guard(antecedentFailure.arg(code, date), [&] {
            ANTECED.post();
            showStatus(importedStatus.arg(code, date));
        }, {&ANTECED});
        if (!stored)
            return RowOutcome::Refused;
        return existing ? RowOutcome::Merged : RowOutcome::Stored;
    }

    // Puts the patient's row in edit mode, or starts it; true when it already existed.
    bool openPatientRow(qint64 patient)
    {
        if (ANTECED.locate({QStringLiteral("PATIENTS_ID")}, {patient})) {
            ANTECED.edit();
            return true;
        }
        ANTECED.append();
        ANTECED.setValue(QStringLiteral("ANTECED_ID"), antecedentNumber_.next());
        ANTECED.setValue(QStringLiteral("PATIENTS_ID"), patient);
        return false;
    }

    // A history made only of blanks is replaced, not kept in front of the first line.
    void addHistoryLine(const QString& line)
    {
        const QString history = ANTECED.field(historyColumn).asText();
        ANTECED.setValue(historyColumn, isBlank(history) ? line : history + u'\r' + line);
    }

    TargetDataset& ANTECED;
    StageCounter& antecedentNumber_;
};

} // namespace

StageCounts importAntecedents(RunContext& run)
{
    return AntecedentsStage(run).run();
}

QStringList antecedentsSourceStatements()
{
    return {wholeTableStatement(sourceTable, sourceOrder)};
}

} // namespace p1
