#include "stages/stage_table.h"

#include "stages/antecedents_stage.h"
#include "stages/consultations_stage.h"
#include "stages/correspondents_stage.h"
#include "stages/letters_stage.h"
#include "stages/patients_stage.h"
#include "stages/prescriptions_stage.h"
#include "stages/users_stage.h"

namespace p1 {

const QList<StageEntry>& stageTable()
{
    using enum SourceFile;
    static const QList<StageEntry> table = {
        {Box::ImportMedecins, "CBImportMedecins", "importer les médecins, utilisateurs", "medecins",
         importUsers, false, V4, {"[GLB Medecin]", "[GLB SPECIALITE]"}, "MEDECINS", {"PL_SUBJ"}, {}},
        {Box::ImportCorrespondants, "CBImportCorrespondants", "importer les correspondants",
         "correspondants", importCorrespondents, false, V4, {"[ADR CARNET ADRESSE]", "[REF FONCTION]"},
         "MEDTRAIT", {}, {}},
        {Box::ImportPatients, "CBImportPatients", "importer les patients", "patients",
         importPatients, true, V4, {"[GLB PATIENT]", "[REF TYPE PROFESSION]"}, "PATIENTS",
         {"ANTECED", "PATMEDTR"}, patientsSourceStatements()},
        {Box::ImportAnteced, "CBImportAnteced", "importer les antécédents", "antecedents",
         importAntecedents, true, V4, {"[ANT ANTECEDENT PATIENT]", "[ANT ANTECEDENT]"}, "ANTECED", {},
         antecedentsSourceStatements()},
        {Box::ImportConsultations, "CBImportConsultations", "importer les consultations",
         "consultations", importConsultations, true, V4,
         {"[CON CONSULTATION]", "[CON SOUS CONSULTATION]", "[CON TYPE CONSULTATION]"}, "MOTCONSU", {},
         consultationsSourceStatements()},
        {Box::ImportCourriers, "cbImportCourriers", "importer les courriers", "courriers",
         importLetters, true, V4, {"[COU COURRIER GENERE]"}, "LETTERS", {}, lettersSourceStatements()},
        {Box::ImportOrdo, "cbImportOrdo", "importer les prescriptions", "prescriptions",
         importPrescriptions, false, Ordo, {"[ORD ORDONNANCE]", "[ORD PRESCRIPTION]"}, QString(),
         {"MOTCONSU"}, prescriptionsSourceStatements()},
    };
    return table;
}

} // namespace p1
