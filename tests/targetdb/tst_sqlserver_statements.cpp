#include "targetdb/target_engine.h"
#include "tests/run/run_record.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace p1;

// No SQL Server runs here: what the program would send it is read by a T-SQL parser
// (scripts/tsql, installed by the set-up) instead.
namespace p1::test {
namespace {

struct ParserVerdict {
    int exitCode = -1;
    QString output;
};

ParserVerdict parsedByTsql(const QStringList& files)
{
    QProcess node;
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(QStringLiteral("node"), QStringList{QStringLiteral(P1_SOURCE_DIR) + "/scripts/tsql/check.mjs"} + files);
    if (!node.waitForFinished(120'000) || node.exitStatus() != QProcess::NormalExit)
        return {-1, "node ne s'est pas terminé : " + node.errorString()};
    return {node.exitCode(), QString::fromUtf8(node.readAll())};
}

QString writtenTo(const QTemporaryDir& folder, const QString& name, const QString& text)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return {};
    return path;
}

TEST(TsqlParser, ReadsTheSqlServerSchemaScript)
{
    const ParserVerdict verdict = parsedByTsql({QStringLiteral(P1_SOURCE_DIR) + "/schema/target_schema_sqlserver.sql"});
    EXPECT_EQ(verdict.exitCode, 0) << verdict.output.toStdString();
    EXPECT_TRUE(verdict.output.contains(QStringLiteral(" 0 refusées")));
}

// The parser takes an unknown word for an assignment: the check must not.
TEST(TsqlParser, RefusesWhatSqlServerWouldRefuse)
{
    QTemporaryDir folder;
    for (const QString& wrong : {QStringLiteral("SELEC 1"), QStringLiteral("SELECT 1 FROM"),
                                 QStringLiteral("CREATE TABLE X (A nvarchr(10))"),
                                 QStringLiteral("INSERT INTO [X] ([A], [B]) VALUES (?, ?"),
                                 QStringLiteral("UPDATE X SET A = ? WHERE")}) {
        const ParserVerdict verdict = parsedByTsql({writtenTo(folder, "wrong.sql", wrong + "\nGO\n")});
        EXPECT_EQ(verdict.exitCode, 1) << wrong.toStdString() << "\n" << verdict.output.toStdString();
    }
}

// What a whole import sends through ODBC, recorded on the SQLite ODBC driver (whose identifiers
// Qt quotes as FreeTDS's), beside the SQL Server unit's own statements.
class SqlServerStatementsTest : public PracticeRunTest {};

TEST_P(SqlServerStatementsTest, EveryStatementAWholeImportSendsReadsAsTsql)
{
    writePractice({.patients = 20});
    QSet<QString> texts;
    const RunRecord record = recordRun(newTarget(), practice, CommitMode::Grouped, true, {}, nullptr, &texts);
    ASSERT_TRUE(record.ended && record.escaped.isEmpty()) << record.log.join('\n').toStdString();
    for (const QString kind : {"INSERT INTO", "UPDATE", "SELECT", "DELETE FROM"})
        EXPECT_TRUE(std::any_of(texts.cbegin(), texts.cend(), [&](const QString& text) { return text.startsWith(kind); }))
            << kind.toStdString();

    const auto unit = makeEngineUnit(TargetEngine::SqlServer);
    QString batches;
    for (const QString& text : texts)
        batches += text + "\nGO\n";
    for (const QString& text : {unit->probeStatement(), unit->transactionCountStatement(),
                                unit->coarseDateTimeColumnsStatement()})
        batches += text + "\nGO\n";
    batches += "-- non vérifiable : EXEC @résultat = procédure, que l'analyseur ne lit pas\n" + unit->claimStatement()
               + "\nGO\n";
    QTemporaryDir output;
    const ParserVerdict verdict = parsedByTsql({writtenTo(output, "import.sql", batches)});
    EXPECT_EQ(verdict.exitCode, 0) << verdict.output.toStdString();
    EXPECT_TRUE(verdict.output.contains(QStringLiteral(" %1 lues sans erreur").arg(texts.size() + 3)))
        << verdict.output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Odbc, SqlServerStatementsTest, ::testing::Values(sqliteThroughOdbc()), engineTestName);

} // namespace
} // namespace p1::test
