#include "stages/reference_lookups.h"

#include "dbaccess/source_connections.h"
#include "common/errors.h"
#include "tests/support/qt_printers.h"
#include "tests/support/target_databases.h"
#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/source_tables.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace p1 {
namespace {

// Each reference table holds: code 1 with a label framed by blanks and control characters,
// code 2 with a NULL label, code 3 with a plain label.
void fillReferenceTable(jet::TableBuilder& table, const QString& label)
{
    table.row({qint64(1), QString("  \t" + label + "\r\n ")})
        .row({qint64(2), std::monostate()})
        .row({qint64(3), QString("Autre")});
}

class ReferenceLookupsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ensureQtApplication();
        ASSERT_TRUE(folder.isValid());
        jet::DatabaseBuilder database;
        fillReferenceTable(sample::specialtyTable(database), "Cardiologue");
        fillReferenceTable(sample::functionTable(database), "Kinésithérapeute");
        fillReferenceTable(sample::professionTable(database), "Boulanger");
        fillReferenceTable(sample::antecedentTable(database), "Asthme");
        fillReferenceTable(sample::consultationTypeTable(database), "Visite");
        database.write(folder.filePath("V4.mdb"));
        connection.setConnectionString(sourceConnectionString(folder.filePath("V4.mdb")));
        connection.open();
    }

    QTemporaryDir folder;
    SourceConnection connection;
};

TEST_F(ReferenceLookupsTest, EachLookupTrimsItsLabelAndGivesEmptyForAbsentCodeOrNullLabel)
{
    ReferenceLookups lookups(connection);
    struct Lookup {
        const char* name;
        QString (ReferenceLookups::*label)(qint64);
        QString trimmed;
    };
    const Lookup cases[] = {
        {"specialty", &ReferenceLookups::LookupSpecialtyLabel, "Cardiologue"},
        {"function", &ReferenceLookups::LookupFunctionLabel, "Kinésithérapeute"},
        {"profession", &ReferenceLookups::LookupProfessionLabel, "Boulanger"},
        {"consultation type", &ReferenceLookups::LookupConsultationTypeLabel, "Visite"},
    };
    for (const Lookup& lookup : cases) {
        SCOPED_TRACE(lookup.name);
        EXPECT_EQ((lookups.*lookup.label)(1), lookup.trimmed);
        EXPECT_EQ((lookups.*lookup.label)(2), QString());
        EXPECT_EQ((lookups.*lookup.label)(99), QString());
        // Each code has its own label: nothing of the previous call remains.
        EXPECT_EQ((lookups.*lookup.label)(3), QString("Autre"));
        EXPECT_EQ((lookups.*lookup.label)(1), lookup.trimmed);
    }
}

// Labels are remembered within a run step; a source chosen again before the next one is read anew.
TEST_F(ReferenceLookupsTest, ALabelChangedBetweenRunStepsIsReadAgain)
{
    ReferenceLookups lookups(connection);
    EXPECT_EQ(lookups.LookupConsultationTypeLabel(1), "Visite");
    connection.close();
    jet::DatabaseBuilder database;
    fillReferenceTable(sample::consultationTypeTable(database), "Téléconsultation");
    QFile::remove(folder.filePath("V4.mdb"));
    database.write(folder.filePath("V4.mdb"));
    connection.open();
    lookups.forgetLabels();
    EXPECT_EQ(lookups.LookupConsultationTypeLabel(1), "Téléconsultation");
}

TEST_F(ReferenceLookupsTest, ProfessionOfNoCodeIsEmpty)
{
    ReferenceLookups lookups(connection);
    EXPECT_EQ(lookups.LookupProfessionLabel(0), QString());
    EXPECT_EQ(lookups.LookupProfessionLabel(-3), QString());
}

TEST_F(ReferenceLookupsTest, AntecedentLineKeepsTheDateTextAndEndsWithTheTrimmedLabel)
{
    ReferenceLookups lookups(connection);
    EXPECT_EQ(lookups.BuildAntecedentLabel(1, "12/05/2003"), QString("Antécédent du 12/05/2003 : Asthme"));
    EXPECT_EQ(lookups.BuildAntecedentLabel(2, "12/05/2003 10:30:00"),
              QString("Antécédent du 12/05/2003 10:30:00 : "));
    EXPECT_EQ(lookups.BuildAntecedentLabel(42, ""), QString("Antécédent du  : "));
}

TEST(ReferenceLookupsWithoutTables, AMissingTableReachesTheCaller)
{
    test::ensureQtApplication();
    QTemporaryDir folder;
    jet::DatabaseBuilder database;
    sample::patientTable(database);
    database.write(folder.filePath("V4.mdb"));
    SourceConnection connection;
    connection.setConnectionString(sourceConnectionString(folder.filePath("V4.mdb")));
    connection.open();
    ReferenceLookups lookups(connection);
    EXPECT_THROW(lookups.LookupSpecialtyLabel(1), SourceError);
}

} // namespace
} // namespace p1
