#include "stages/correspondents_stage.h"

#include "stages/reference_lookups.h"

#include <algorithm>

namespace p1 {

namespace {

const StageTexts correspondentsTexts{
    QStringLiteral("Importation des correspondants..."),
    QStringLiteral("Erreur lors de l'ouverture de la table [ADR CARNET ADRESSE] de Sorvane : "),
    QStringLiteral(" correspondant créé"),
    QStringLiteral(" correspondants créés"),
};
const QString correspondentFailure = QStringLiteral(" : importation du correspondant n°");
const QString importedStatus = QStringLiteral("Correspondant %1 importé");

class CorrespondentsStage : public ImportStage {
public:
    // The prescriptions stage of an earlier run may have left the shared query on Ordo.mdb.
    explicit CorrespondentsStage(RunContext& run)
        : ImportStage(run, correspondentsTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvane,
                       QStringLiteral("[ADR CARNET ADRESSE]"), QString()},
                      {{run.Query1, wholeTable(QStringLiteral("MEDTRAIT"))}}),
          MEDTRAIT(run.Query1), highestStoredCode_(highestCode(QStringLiteral("MEDTRAIT")))
    {
        identifyRowsBy(QStringLiteral("CODE CARNET ADRESSE"));
        sendRowsAhead();
    }

private:
    RowOutcome importRow() override
    {
        const qint64 code = integer(QStringLiteral("CODE CARNET ADRESSE"));
        if (code <= 0)
            return RowOutcome::Skipped;
        const QString name = fullName();
        MEDTRAIT.append();
        MEDTRAIT.setValue(QStringLiteral("MEDTRAIT_ID"), code);
        MEDTRAIT.setValue(QStringLiteral("NOM"), text(QStringLiteral("NOM")));
        MEDTRAIT.setValue(QStringLiteral("PRENOM"), text(QStringLiteral("PRENOM")));
        MEDTRAIT.setValue(QStringLiteral("SPECIALISATION"),
                          run_.lookups.LookupFunctionLabel(integer(QStringLiteral("CODE FONCTION"))));
        MEDTRAIT.setValue(QStringLiteral("ADRESSE"), text(QStringLiteral("RUE")));
        MEDTRAIT.setValue(QStringLiteral("CP"), text(QStringLiteral("CODE POSTAL")));
        MEDTRAIT.setValue(QStringLiteral("VILLE"), text(QStringLiteral("VILLE")));
        MEDTRAIT.setValue(QStringLiteral("PAYS"), text(QStringLiteral("ETAT")));
        MEDTRAIT.setValue(QStringLiteral("TEL"), text(QStringLiteral("TELEPHONE PERSONNEL")));
        MEDTRAIT.setValue(QStringLiteral("TELBUREAU"), text(QStringLiteral("TELEPHONE PROFESSIONNEL")));
        MEDTRAIT.setValue(QStringLiteral("FAX"), text(QStringLiteral("FAX")));
        MEDTRAIT.setValue(QStringLiteral("COMMENTAIRE"), text(QStringLiteral("DIVERS")));
        const bool stored = guard(correspondentFailure + QString::number(code) + u' ' + name,
                                  [this] { MEDTRAIT.post(); }, {&MEDTRAIT});
        if (!stored)
            return RowOutcome::Refused;
        highestStoredCode_.raiseTo(code);
        showStatus(importedStatus.arg(name));
        return RowOutcome::Stored;
    }

    TargetDataset& MEDTRAIT;
    StageCounter& highestStoredCode_;
};

} // namespace

StageCounts importCorrespondents(RunContext& run)
{
    return CorrespondentsStage(run).run();
}

} // namespace p1
