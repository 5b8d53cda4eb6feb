#include "stages/correspondents_stage.h"

#include "run/stage_frame.h"
#include "stages/reference_lookups.h"
#include "stages/stage_tables.h"

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

class CorrespondentsStage {
public:
    explicit CorrespondentsStage(RunContext& run)
        : run_(run), frame_(run, correspondentsTexts), source_(run.Sorvane_Select),
          MEDTRAIT(run.Query1)
    {
    }

    void run()
    {
        // The prescriptions stage of an earlier run may have left the shared query on Ordo.mdb.
        selectWholeTable(source_, run_.ADOConnectionSorvane,
                         QStringLiteral("[ADR CARNET ADRESSE]"), QString());
        frame_.start(source_);
        openWholeTable(MEDTRAIT, QStringLiteral("MEDTRAIT"));
        frame_.forEachRow(source_, [this] { importRow(); });
        MEDTRAIT.close();
        run_.ids.RaiseLastValue(QStringLiteral("MEDTRAIT"), highestStoredCode_);
        source_.close();
        frame_.finish(created_);
    }

private:
    QString text(const QString& column) const { return source_.field(column).asText(); }

    void importRow()
    {
        const qint64 code = source_.field(QStringLiteral("CODE CARNET ADRESSE")).asInteger();
        if (code <= 0)
            return;
        const QString name = text(QStringLiteral("NOM")) + u' ' + text(QStringLiteral("PRENOM"));
        MEDTRAIT.append();
        MEDTRAIT.setValue(QStringLiteral("MEDTRAIT_ID"), code);
        MEDTRAIT.setValue(QStringLiteral("NOM"), text(QStringLiteral("NOM")));
        MEDTRAIT.setValue(QStringLiteral("PRENOM"), text(QStringLiteral("PRENOM")));
        MEDTRAIT.setValue(QStringLiteral("SPECIALISATION"),
                          run_.lookups.LookupFunctionLabel(
                              source_.field(QStringLiteral("CODE FONCTION")).asInteger()));
        MEDTRAIT.setValue(QStringLiteral("ADRESSE"), text(QStringLiteral("RUE")));
        MEDTRAIT.setValue(QStringLiteral("CP"), text(QStringLiteral("CODE POSTAL")));
        MEDTRAIT.setValue(QStringLiteral("VILLE"), text(QStringLiteral("VILLE")));
        MEDTRAIT.setValue(QStringLiteral("PAYS"), text(QStringLiteral("ETAT")));
        MEDTRAIT.setValue(QStringLiteral("TEL"), text(QStringLiteral("TELEPHONE PERSONNEL")));
        MEDTRAIT.setValue(QStringLiteral("TELBUREAU"), text(QStringLiteral("TELEPHONE PROFESSIONNEL")));
        MEDTRAIT.setValue(QStringLiteral("FAX"), text(QStringLiteral("FAX")));
        MEDTRAIT.setValue(QStringLiteral("COMMENTAIRE"), text(QStringLiteral("DIVERS")));
        const bool stored = frame_.guard(correspondentFailure + QString::number(code) + u' ' + name,
                                         [this] { MEDTRAIT.post(); }, {&MEDTRAIT});
        if (!stored)
            return;
        ++created_;
        highestStoredCode_ = std::max(highestStoredCode_, code);
        frame_.showStatus(importedStatus.arg(name));
    }

    RunContext& run_;
    StageFrame frame_;
    SourceQuery& source_;
    TargetDataset& MEDTRAIT;
    qint64 created_ = 0;
    qint64 highestStoredCode_ = 0;
};

} // namespace

void importCorrespondents(RunContext& run)
{
    CorrespondentsStage(run).run();
}

} // namespace p1
