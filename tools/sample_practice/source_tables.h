#pragma once

// The source tables the import reads, declared once for the sample practice, the tests and the
// benchmarks: names, column order and types as the source product has them. Each function adds
// the table with its columns to the database and returns it, ready for rows.

#include "tools/jetwriter/jet_writer.h"

namespace p1::sample {

// V4.mdb
jet::TableBuilder& physicianTable(jet::DatabaseBuilder& database);  // [GLB Medecin]
jet::TableBuilder& specialtyTable(jet::DatabaseBuilder& database);  // [GLB SPECIALITE]
jet::TableBuilder& addressBookTable(jet::DatabaseBuilder& database); // [ADR CARNET ADRESSE]
jet::TableBuilder& functionTable(jet::DatabaseBuilder& database);   // [REF FONCTION]
jet::TableBuilder& professionTable(jet::DatabaseBuilder& database); // [REF TYPE PROFESSION]
jet::TableBuilder& civilityTable(jet::DatabaseBuilder& database);   // [REF TYPE CIVILITE]
// [GLB PATIENT]; a table made for an older source may lack the last treating-physician columns.
jet::TableBuilder& patientTable(jet::DatabaseBuilder& database, int correspondentColumns = 6);
jet::TableBuilder& antecedentTable(jet::DatabaseBuilder& database);        // [ANT ANTECEDENT]
jet::TableBuilder& patientAntecedentTable(jet::DatabaseBuilder& database); // [ANT ANTECEDENT PATIENT]
jet::TableBuilder& consultationTable(jet::DatabaseBuilder& database);      // [CON CONSULTATION]
jet::TableBuilder& consultationTypeTable(jet::DatabaseBuilder& database);  // [CON TYPE CONSULTATION]
jet::TableBuilder& consultationDetailTable(jet::DatabaseBuilder& database); // [CON SOUS CONSULTATION]
jet::TableBuilder& letterTable(jet::DatabaseBuilder& database);            // [COU COURRIER GENERE]

// Ordo.mdb
jet::TableBuilder& prescriptionTable(jet::DatabaseBuilder& database);     // [ORD ORDONNANCE]
jet::TableBuilder& prescriptionItemTable(jet::DatabaseBuilder& database); // [ORD PRESCRIPTION]

} // namespace p1::sample
