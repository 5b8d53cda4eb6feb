#include "stages/users_stage.h"

#include "common/date_time.h"
#include "stages/reference_lookups.h"

namespace p1 {

namespace {

const StageTexts usersTexts{
    QStringLiteral("Importation des utilisateurs..."),
    QStringLiteral("Erreur lors de l'ouverture de la table des utilisateurs de Sorvane : "),
    QStringLiteral(" utilisateur créé"),
    QStringLiteral(" utilisateurs créés"),
};
const QString userFailure = QStringLiteral(" : importation de l'utilisateur n°");
const QString planningFailureEnd = QStringLiteral(" dans le planning");
const QString importedStatus = QStringLiteral("Utilisateur %1 importé");

const QString systemFlags = QStringLiteral("*US PA RE CO DO CP TA CM SR AN");
const QDate euroStart(2002, 1, 1);
const int planningOwnerIsPhysician = 2;

class UsersStage : public ImportStage {
public:
    explicit UsersStage(RunContext& run)
        : ImportStage(run, usersTexts, StageSource::ownQuery(run.Sorvane_GLB_Medecin),
                      {{run.Query1, wholeTable(QStringLiteral("MEDECINS"))},
                       {run.Query2, wholeTable(QStringLiteral("PL_SUBJ"))}}),
          MEDECINS(run.Query1), PL_SUBJ(run.Query2)
    {
        // The progress position is not reset here: it is 0 after the run's start.
        keepProgressPosition();
        identifyRowsBy(QStringLiteral("CODE MEDECIN"));
    }

private:
    RowOutcome importRow() override
    {
        const qint64 code = integer(QStringLiteral("CODE MEDECIN"));
        if (code <= 0)
            return RowOutcome::Skipped;
        if (!importPhysician(code))
            return RowOutcome::Refused;
        const QString name = fullName();
        importPlanningSubject(code, name);
        // The user's own name, also when its planning subject was refused: the physician is in.
        showStatus(importedStatus.arg(name));
        return RowOutcome::Stored;
    }

    bool importPhysician(qint64 code)
    {
        MEDECINS.append();
        MEDECINS.setValue(QStringLiteral("MEDECINS_ID"), code);
        MEDECINS.setValue(QStringLiteral("NOM"), text(QStringLiteral("NOM")));
        MEDECINS.setValue(QStringLiteral("PRENOM"), text(QStringLiteral("PRENOM")));
        MEDECINS.setValue(QStringLiteral("SYSTEM_FLAGS"), systemFlags);
        MEDECINS.setValue(QStringLiteral("N_AGENDA"), code);
        MEDECINS.setValue(QStringLiteral("N_MODELE"), 1);
        MEDECINS.setValue(QStringLiteral("N_USE_PLAN"), false);
        MEDECINS.setValue(QStringLiteral("ACCESSTOSV"), false);
        MEDECINS.setValue(QStringLiteral("DATE_EUROSTART"), wallClock(euroStart));
        MEDECINS.setValue(QStringLiteral("SPECIALISATION"),
                          run_.lookups.LookupSpecialtyLabel(
                              integer(QStringLiteral("CODE SPECIALITE"))));
        MEDECINS.setValue(QStringLiteral("ADRESSE"), text(QStringLiteral("ADRESSE")));
        MEDECINS.setValue(QStringLiteral("CP"), text(QStringLiteral("CODE POSTAL")));
        MEDECINS.setValue(QStringLiteral("VILLE"), text(QStringLiteral("VILLE")));
        MEDECINS.setValue(QStringLiteral("TELEPHONE"), text(QStringLiteral("TELEPHONE")));
        MEDECINS.setValue(QStringLiteral("FAX"), text(QStringLiteral("FAX")));
        MEDECINS.setValue(QStringLiteral("ACCESS_CODE"), text(QStringLiteral("MOT DE PASSE MEDECIN")));
        // A stored physician counts and gets its planning subject even when the raise of its key
        // fails afterwards: the failure lines say so, and the row is in the target.
        bool stored = false;
        guard(userFailure + QString::number(code), [&] {
            MEDECINS.post();
            stored = true;
            storedSoFar(RowOutcome::Stored);
            run_.ids.RaiseLastValue(QStringLiteral("MEDECINS"), code);
        }, {&MEDECINS});
        return stored;
    }

    void importPlanningSubject(qint64 code, const QString& name)
    {
        PL_SUBJ.append();
        PL_SUBJ.setValue(QStringLiteral("PL_SUBJ_ID"), code);
        PL_SUBJ.setValue(QStringLiteral("NAME"), name);
        PL_SUBJ.setValue(QStringLiteral("OWNER_TYPE"), planningOwnerIsPhysician);
        PL_SUBJ.setValue(QStringLiteral("OWNER_ID"), code);
        PL_SUBJ.setValue(QStringLiteral("USE_PLAN"), true);
        PL_SUBJ.setValue(QStringLiteral("SUBJ_ORDER"), code);
        guard(userFailure + QString::number(code) + planningFailureEnd, [&] {
            PL_SUBJ.post();
            run_.ids.RaiseLastValue(QStringLiteral("PL_SUBJ"),
                                    PL_SUBJ.field(QStringLiteral("PL_SUBJ_ID")).asInteger());
        }, {&PL_SUBJ});
    }

    TargetDataset& MEDECINS;
    TargetDataset& PL_SUBJ;
};

} // namespace

StageCounts importUsers(RunContext& run)
{
    return UsersStage(run).run();
}

} // namespace p1
