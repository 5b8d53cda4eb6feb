// Stores 200,000 rows one at a time through a whole-table dataset, then locates each of them,
// on a SQLite file target and, under scripts/with-postgres.sh, on PostgreSQL.
#include "common/date_time.h"
#include "targetdb/target_sql.h"
#include "tests/support/target_databases.h"

#include <QElapsedTimer>

#include <cstdio>

using namespace p1;

namespace {

constexpr int rowCount = 200'000;

QDateTime birthDateOf(int code)
{
    return wallClock(QDate(1930, 1, 1).addDays(code % 30'000), QTime(0, 0));
}

double storeRows(TargetDataset& patients)
{
    QElapsedTimer timer;
    timer.start();
    for (int code = 1; code <= rowCount; ++code) {
        patients.append();
        patients.setValue("PATIENTS_ID", code);
        patients.setValue("MEDECINS_ID", code % 7 + 1);
        patients.setValue("NOM", QStringLiteral("NOM%1").arg(code));
        patients.setValue("PRENOM", QStringLiteral("Prénom"));
        patients.setValue("NE_LE", birthDateOf(code));
        patients.setValue("SEXE", code % 2);
        patients.setValue("CP", QStringLiteral("75011"));
        patients.setValue("VILLE", QStringLiteral("PARIS"));
        patients.setValue("DOSSIER_EXIT", false);
        patients.post();
    }
    return timer.nsecsElapsed() / 1e9;
}

// Nanoseconds per locate, the first one (which builds the hash) included.
double locateRows(TargetDataset& patients, const QStringList& columns, bool withDate)
{
    QElapsedTimer timer;
    timer.start();
    int found = 0;
    for (int code = rowCount; code >= 1; --code) {
        const QVariantList values = withDate ? QVariantList{code, birthDateOf(code)}
                                             : QVariantList{QString::number(code)};
        found += patients.locate(columns, values) ? 1 : 0;
    }
    const double perLocate = double(timer.nsecsElapsed()) / rowCount;
    if (found != rowCount)
        std::printf("  ERREUR : %d lignes trouvées sur %d\n", found, rowCount);
    return perLocate;
}

void benchmark(const char* name, const test::TestTarget& target)
{
    auto connection = test::connectTo(target);
    TargetDataset patients(*connection);
    patients.setCommandText("SELECT * FROM PATIENTS");
    patients.open();
    const double seconds = storeRows(patients);
    std::printf("%s : %d lignes stockées une à une en %.2f s, %.0f lignes/s\n", name, rowCount, seconds,
                rowCount / seconds);
    std::printf("%s : locate sur une colonne %.2f µs\n", name,
                locateRows(patients, {"PATIENTS_ID"}, false) / 1000);
    std::printf("%s : locate sur deux colonnes %.2f µs\n", name,
                locateRows(patients, {"PATIENTS_ID", "NE_LE"}, true) / 1000);
    patients.close();
    patients.open();
    std::printf("%s : table relue, %d lignes\n", name, patients.recordCount());
}

} // namespace

int main()
{
    benchmark("SQLite", test::makeSqliteTarget());
    if (test::postgresAvailable())
        benchmark("PostgreSQL", test::makePostgresTarget());
    else
        std::printf("PostgreSQL : pas de serveur (lancer sous scripts/with-postgres.sh)\n");
    return 0;
}
