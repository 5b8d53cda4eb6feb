#include "stages/stage_table.h"

#include "stages/correspondents_stage.h"
#include "stages/patients_stage.h"
#include "stages/prescriptions_stage.h"
#include "stages/users_stage.h"

namespace p1 {

const QList<StageEntry>& stageTable()
{
    static const QList<StageEntry> table = {
        {Box::ImportMedecins, "CBImportMedecins", "importer les médecins, utilisateurs", "medecins",
         importUsers, false},
        {Box::ImportCorrespondants, "CBImportCorrespondants", "importer les correspondants",
         "correspondants", importCorrespondents, false},
        {Box::ImportPatients, "CBImportPatients", "importer les patients", "patients",
         importPatients, true},
        {Box::ImportAnteced, "CBImportAnteced", "importer les antécédents", "antecedents",
         nullptr, true},
        {Box::ImportConsultations, "CBImportConsultations", "importer les consultations",
         "consultations", nullptr, true},
        {Box::ImportCourriers, "cbImportCourriers", "importer les courriers", "courriers",
         nullptr, true},
        {Box::ImportOrdo, "cbImportOrdo", "importer les prescriptions", "prescriptions",
         importPrescriptions, false},
    };
    return table;
}

} // namespace p1
