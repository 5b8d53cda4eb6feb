// What a refused row costs PostgreSQL itself, without the program: libpq alone sends 10,000
// consultation inserts (other counts as arguments) into a MOTCONSU that refuses each of them (the
// trigger of bench_refused_rows), in one transaction and after a savepoint, in two ways:
//   - as the program does: the insert waited for, then the return to the savepoint sent without
//     waiting, its answer read before the next insert (two requests a row);
//   - the return to the savepoint sent in front of the next insert (one request a row).
// Each way runs with no work between two rows, then with 25 and 50 µs of it (the program's own work
// for a refused consultation is about 50 µs): prints the microseconds a row, so that what the
// server's answers cost a refused row is told from what the program adds. Runs under
// scripts/with-postgres.sh.

#include "bench/bench_support.h"

#include <libpq-fe.h>

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace p1::test {
namespace {

using Session = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

const char savepoint[] = "SAVEPOINT p1_statement";
const char backToSavepoint[] = "ROLLBACK TO SAVEPOINT p1_statement";

Session openSession(const TestTarget& target)
{
    const QByteArray options = QStringLiteral("host=%1 port=%2 user=%3 dbname=%4")
                                   .arg(qEnvironmentVariable("P1_PG_HOST"), qEnvironmentVariable("P1_PG_PORT"),
                                        qEnvironmentVariable("P1_PG_USER"), target.databaseName)
                                   .toUtf8();
    Session session(PQconnectdb(options.constData()), &PQfinish);
    if (PQstatus(session.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(session.get()));
        std::exit(1);
    }
    return session;
}

// Fails the bench unless the command ended as expected: a measure of something else is no measure.
void expect(PGresult* answer, ExecStatusType wanted, const char* what)
{
    const Result result(answer, &PQclear);
    if (PQresultStatus(result.get()) != wanted) {
        std::fprintf(stderr, "%s : %s\n", what, PQresultErrorMessage(result.get()));
        std::exit(1);
    }
}

// The answers to the requests sent, one a statement, in order.
void readAnswers(PGconn* session, std::initializer_list<ExecStatusType> wanted, const char* what)
{
    for (const ExecStatusType status : wanted)
        expect(PQgetResult(session), status, what);
    if (const Result extra(PQgetResult(session), &PQclear); extra) {
        std::fprintf(stderr, "%s : une réponse de trop\n", what);
        std::exit(1);
    }
}

void workFor(qint64 microseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.nsecsElapsed() < microseconds * 1000) {
    }
}

QByteArray insertOf(int row)
{
    return "EXECUTE refused_insert (" + QByteArray::number(row + 1) + ", 7, '2026-03-05 10:00:00', 'Contrôle')";
}

enum class Way { ReturnSentAfter, ReturnInFront };

double microsecondsARow(const TestTarget& target, int rows, Way way, qint64 work)
{
    const Session session = openSession(target);
    PGconn* pg = session.get();
    expect(PQexec(pg, "PREPARE refused_insert AS INSERT INTO motconsu (motconsu_id, patients_id, "
                      "date_consultation, motif_de_consultation) VALUES ($1, $2, $3, $4)"),
           PGRES_COMMAND_OK, "PREPARE");
    expect(PQexec(pg, "BEGIN"), PGRES_COMMAND_OK, "BEGIN");
    expect(PQexec(pg, savepoint), PGRES_COMMAND_OK, savepoint);
    QElapsedTimer clock;
    clock.start();
    for (int row = 0; row < rows; ++row) {
        workFor(work);
        if (way == Way::ReturnSentAfter) {
            if (row > 0)
                readAnswers(pg, {PGRES_COMMAND_OK}, backToSavepoint);
            expect(PQexec(pg, insertOf(row).constData()), PGRES_FATAL_ERROR, "INSERT");
            PQsendQuery(pg, backToSavepoint);
        } else if (row > 0) {
            PQsendQuery(pg, (QByteArray(backToSavepoint) + "; " + insertOf(row)).constData());
            readAnswers(pg, {PGRES_COMMAND_OK, PGRES_FATAL_ERROR}, "ROLLBACK TO SAVEPOINT; INSERT");
        } else {
            expect(PQexec(pg, insertOf(row).constData()), PGRES_FATAL_ERROR, "INSERT");
        }
    }
    if (way == Way::ReturnSentAfter)
        readAnswers(pg, {PGRES_COMMAND_OK}, backToSavepoint);
    else
        expect(PQexec(pg, backToSavepoint), PGRES_COMMAND_OK, backToSavepoint);
    const double seconds = clock.nsecsElapsed() / 1e9;
    expect(PQexec(pg, "ROLLBACK"), PGRES_COMMAND_OK, "ROLLBACK");
    return seconds / rows * 1e6;
}

} // namespace
} // namespace p1::test

int main(int argc, char** argv)
{
    using namespace p1::test;
    ensureQtApplication();
    if (!postgresAvailable()) {
        std::printf("PostgreSQL: no server (run under scripts/with-postgres.sh)\n");
        return 0;
    }
    const TestTarget target = makePostgresTarget();
    refuseInserts(*connectTo(target), QStringLiteral("MOTCONSU"), QStringLiteral("1 = 1"));
    printLoad();
    for (const int rows : benchSizes(argc, argv, {10000})) {
        for (const qint64 work : {0, 25, 50}) {
            std::printf("%d refused inserts, %lld µs of work a row: return to the savepoint sent after the insert "
                        "%.1f µs a row, in front of the next insert %.1f µs a row\n",
                        rows, static_cast<long long>(work),
                        microsecondsARow(target, rows, Way::ReturnSentAfter, work),
                        microsecondsARow(target, rows, Way::ReturnInFront, work));
            std::fflush(stdout);
        }
    }
    return 0;
}
