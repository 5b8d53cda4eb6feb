#include "stages/patients_stage.h"

#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "common/text_encoding.h"
#include "stages/normalisers.h"
#include "stages/reference_lookups.h"

#include <algorithm>
#include <optional>

namespace p1 {

namespace {

const StageTexts patientsTexts{
    QStringLiteral("Importation des patients..."),
    QStringLiteral("Erreur lors de l'ouverture de la table [GLB PATIENT] de Sorvane : "),
    QStringLiteral(" patient créé"),
    QStringLiteral(" patients créés"),
};
const QString patientFailure = QStringLiteral(" : importation du patient n°");
const QString professionFailure = QStringLiteral(" : importation de la profession du patient n°");
const QString linkFailure = QStringLiteral(" : importation du médecin traitant du patient n°");
const QString birthDateLine = QStringLiteral(" : la date de naissance (%1) de %2 n'est pas correcte");
const QString importedStatus = QStringLiteral("Patient n°%1 - %2 importé");
const QString floorLine = QStringLiteral("\rÉtage : ");
const QString buildingCodeLine = QStringLiteral("\rCode immeuble : ");

const int oldFileNumberLength = 9;
const int treatingPhysicianColumns = 6;

// The birth date, when its text reads as a date in the short date format (a text carrying a time
// of day does not); nullopt for an invalid one.
std::optional<QDateTime> birthDateOf(const SourceField& field)
{
    if (!dateFromShortDateText(field.asText()).isValid())
        return std::nullopt;
    try {
        return field.asDateTime();
    } catch (const SourceError&) {
        return std::nullopt;
    }
}

std::optional<int> sexOf(qint64 sexCode)
{
    switch (sexCode) {
    case 1: return 0;
    case 2: return 1;
    default: return std::nullopt;
    }
}

const QString sourceTable = QStringLiteral("[GLB PATIENT]");
const QString sourceOrder = QStringLiteral("order by [CODE PATIENT]");

class PatientsStage : public ImportStage {
public:
    explicit PatientsStage(RunContext& run)
        : ImportStage(run, patientsTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvane, sourceTable, sourceOrder},
                      {{run.Query1, wholeTable(QStringLiteral("PATIENTS"))},
                       {run.Query2, wholeTable(QStringLiteral("ANTECED"))},
                       {run.Query3, wholeTable(QStringLiteral("PATMEDTR"))}}),
          PATIENTS(run.Query1), ANTECED(run.Query2), PATMEDTR(run.Query3),
          highestPatientCode_(highestCode(QStringLiteral("PATIENTS"))),
          // Both numberings go on from the target's counters: a target that was not emptied
          // first already holds rows numbered from 1.
          antecedentNumber_(counter(QStringLiteral("ANTECED"))), linkNumber_(counter(QStringLiteral("PATMEDTR")))
    {
        identifyRowsBy(QStringLiteral("CODE PATIENT"));
        sendRowsAhead();
    }

private:
    RowOutcome importRow() override
    {
        const qint64 code = integer(QStringLiteral("CODE PATIENT"));
        if (code <= 0)
            return RowOutcome::Skipped;
        const QString name = fullName();
        const QString identification = QString::number(code) + u' ' + name;
        setPatientColumns(code, name);
        // A stored patient counts whatever becomes of its profession and links: each of them is
        // read and stored under its own guard.
        if (!guard(patientFailure + identification, [this] { PATIENTS.post(); }, {&PATIENTS}))
            return RowOutcome::Refused;
        storedSoFar(RowOutcome::Stored);
        highestPatientCode_.raiseTo(code);
        importProfession(code, identification);
        importTreatingPhysicians(code, identification);
        showStatus(importedStatus.arg(QString::number(code), name));
        return RowOutcome::Stored;
    }

    void setOldFileNumber()
    {
        const QString fileNumber = text(QStringLiteral("NUMERO DOSSIER"));
        const QString kept = leftWholeCharacters(fileNumber, oldFileNumberLength);
        PATIENTS.setValue(QStringLiteral("ANCIEN_NUMERO_DE_DOSSIER"), kept);
        if (kept != fileNumber)
            noteChangedValue(QStringLiteral("ANCIEN_NUMERO_DE_DOSSIER"), fileNumber, kept);
    }

    // Only digits are kept: the letters of a Corsican number ("2A", "2B") are lost.
    void setInsuranceNumber()
    {
        const QString number = text(QStringLiteral("NUMERO SECURITE SOCIAL"));
        const QString kept = FormatInsuranceNumber(number);
        PATIENTS.setValue(QStringLiteral("N_SS"), kept);
        if (std::any_of(number.begin(), number.end(), [](QChar character) { return character.isLetter(); }))
            noteChangedValue(QStringLiteral("N_SS"), number, kept);
    }

    void setPatientColumns(qint64 code, const QString& name)
    {
        PATIENTS.append();
        PATIENTS.setValue(QStringLiteral("PATIENTS_ID"), code);
        PATIENTS.setValue(QStringLiteral("MEDECINS_ID"), integer(QStringLiteral("CODE MEDECIN PROPRIETAIRE")));
        PATIENTS.setValue(QStringLiteral("NOM"), text(QStringLiteral("NOM")));
        PATIENTS.setValue(QStringLiteral("PRENOM"), text(QStringLiteral("PRENOM")));
        setBirthDate(name);
        setOldFileNumber();
        const qint64 civility = integer(QStringLiteral("CODE TYPE CIVILITE"));
        if (civility > 0)
            PATIENTS.setValue(QStringLiteral("TITRE"), MapCivilityToTitle(civility));
        const std::optional<int> sex = sexOf(integer(QStringLiteral("CODE TYPE SEXE")));
        PATIENTS.setValue(QStringLiteral("SEXE"), sex ? QVariant(*sex) : QVariant());
        PATIENTS.setValue(QStringLiteral("NOM_DE_JEUNE_FILLE"), text(QStringLiteral("NOM DE NAISSANCE")));
        PATIENTS.setValue(QStringLiteral("TELEPHONE"), FormatPhoneNumber(text(QStringLiteral("TEL DOMICILE"))));
        PATIENTS.setValue(QStringLiteral("TELEPHONE_BUREAU"), FormatPhoneNumber(text(QStringLiteral("TEL BUREAU"))));
        setInsuranceNumber();
        PATIENTS.setValue(QStringLiteral("FAX"), FormatPhoneNumber(text(QStringLiteral("FAX"))));
        PATIENTS.setValue(QStringLiteral("ADRESSE"), address());
        PATIENTS.setValue(QStringLiteral("CP"), text(QStringLiteral("CODE POSTAL")));
        PATIENTS.setValue(QStringLiteral("VILLE"), text(QStringLiteral("VILLE")));
        PATIENTS.setValue(QStringLiteral("DOSSIER_EXIT"), field(QStringLiteral("EST SUPPRIMER")).asBoolean());
        setInsuredName();
        const QString memo = text(QStringLiteral("MEMO"));
        if (!isBlank(memo))
            PATIENTS.setValue(QStringLiteral("AUTRES_INFORMATIONS"), memo);
    }

    // An invalid birth date leaves NE_LE empty and is named in the log; the patient goes in.
    void setBirthDate(const QString& name)
    {
        const SourceField birthField = field(QStringLiteral("DATE NAISSANCE"));
        const std::optional<QDateTime> birthDate = birthDateOf(birthField);
        if (!birthDate) {
            PATIENTS.setValue(QStringLiteral("NE_LE"), QVariant());
            addLogLine(currentDateTimeText() + birthDateLine.arg(birthField.asText(), name));
            return;
        }
        // The target reads its zero day and anything before it as no date at all.
        if (*birthDate > zeroDay())
            PATIENTS.setValue(QStringLiteral("NE_LE"), *birthDate);
        else if (*birthDate < zeroDay())
            noteChangedValue(QStringLiteral("NE_LE"), birthField.asText(), QString());
    }

    // The target keeps the floor and the building code as further lines of the address.
    QString address() const
    {
        QString address = text(QStringLiteral("ADRESSE"));
        const QString floor = text(QStringLiteral("ETAGE"));
        if (!isBlank(floor))
            address += floorLine + floor;
        const QString buildingCode = text(QStringLiteral("CODE IMM"));
        if (!isBlank(buildingCode))
            address += buildingCodeLine + buildingCode;
        return address;
    }

    void setInsuredName()
    {
        const QString surname = text(QStringLiteral("ASSURE NOM"));
        const QString firstName = text(QStringLiteral("ASSURE PRENOM"));
        if (isBlank(surname) && isBlank(firstName))
            return;
        PATIENTS.setValue(QStringLiteral("NOM_DE_L_ASSURE"),
                          trimmedText(surname) + u' ' + trimmedText(firstName));
    }

    void importProfession(qint64 code, const QString& identification)
    {
        guard(professionFailure + identification, [&] {
            const qint64 profession = integer(QStringLiteral("CODE TYPE PROFESSION"));
            if (profession <= 0)
                return;
            ANTECED.append();
            ANTECED.setValue(QStringLiteral("ANTECED_ID"), antecedentNumber_.next());
            ANTECED.setValue(QStringLiteral("PATIENTS_ID"), code);
            ANTECED.setValue(QStringLiteral("PROFESSION_ACTUELLE"),
                             run_.lookups.LookupProfessionLabel(profession));
            ANTECED.post();
        }, {&ANTECED});
    }

    void importTreatingPhysicians(qint64 code, const QString& identification)
    {
        for (int n = 1; n <= treatingPhysicianColumns; ++n)
            guard(linkFailure + identification, [&] { importTreatingPhysician(code, n); }, {&PATMEDTR});
    }

    void importTreatingPhysician(qint64 code, int n)
    {
        const qint64 correspondent = integer(QStringLiteral("CODE CORRESPONDANT %1").arg(n));
        if (correspondent <= 0)
            return;
        PATMEDTR.append();
        PATMEDTR.setValue(QStringLiteral("PATMEDTR_ID"), linkNumber_.next());
        PATMEDTR.setValue(QStringLiteral("PATIENTS_ID"), code);
        PATMEDTR.setValue(QStringLiteral("MEDTRAIT_ID"), correspondent);
        PATMEDTR.post();
    }

    TargetDataset& PATIENTS;
    TargetDataset& ANTECED;
    TargetDataset& PATMEDTR;
    StageCounter& highestPatientCode_;
    StageCounter& antecedentNumber_;
    StageCounter& linkNumber_;
};

} // namespace

StageCounts importPatients(RunContext& run)
{
    return PatientsStage(run).run();
}

QStringList patientsSourceStatements()
{
    return {wholeTableStatement(sourceTable, sourceOrder)};
}

} // namespace p1
