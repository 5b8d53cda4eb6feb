// The independent fixtures, written by another Access library, read back exactly: every table,
// column name and type, every row in physical order, NULL kept apart from the empty text.
#include "common/errors.h"
#include "source/source_database.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/support/test_values.h"

#include <gtest/gtest.h>

using namespace p1;

namespace {

using test::asJson;

QString fixturePath(const QString& name)
{
    return QStringLiteral(P1_SOURCE_DIR "/tests/fixtures/independent/") + name;
}

QJsonObject expectedTables(const QString& name)
{
    QFile file(fixturePath(QStringLiteral("expected/%1.json").arg(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString typeLetter(SourceType type)
{
    switch (type) {
    case SourceType::Long: return "L";
    case SourceType::Integer: return "I";
    case SourceType::Text: return "T";
    case SourceType::Memo: return "M";
    case SourceType::DateTime: return "D";
    case SourceType::Boolean: return "B";
    default: return "?";
    }
}


void expectTableReadsExactly(const SourceDatabase& database, const QString& table,
                             const QJsonObject& expected)
{
    SCOPED_TRACE(table.toStdString());
    QJsonArray names;
    QJsonArray types;
    for (const SourceColumn& column : database.columns(table)) {
        names.append(column.name);
        types.append(typeLetter(column.type));
    }
    EXPECT_EQ(names, expected["columns"].toArray());
    EXPECT_EQ(types, expected["types"].toArray());

    const QJsonArray rows = expected["rows"].toArray();
    int index = 0;
    database.readRows(table, [&](const QList<SourceValue>& row) {
        QJsonArray actual;
        for (const SourceValue& value : row)
            actual.append(asJson(value));
        if (index < rows.size()) {
            EXPECT_EQ(actual, rows[index].toArray()) << "row " << index;
        }
        ++index;
    });
    EXPECT_EQ(index, rows.size());
}

class IndependentFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(IndependentFixture, ReadsEveryTableExactly)
{
    const QString name = QString::fromLatin1(GetParam());
    const QJsonObject expected = expectedTables(name);
    SourceDatabase database(fixturePath(name + ".mdb"));

    QStringList tables = database.userTables();
    QStringList expectedNames = expected.keys();
    tables.sort();
    expectedNames.sort();
    EXPECT_EQ(tables, expectedNames);
    for (const QString& table : expectedNames)
        expectTableReadsExactly(database, table, expected[table].toObject());
}

INSTANTIATE_TEST_SUITE_P(Files, IndependentFixture, ::testing::Values("V4", "Ordo"));

TEST(IndependentFixture, TableNamesMatchWithoutRegardToCase)
{
    SourceDatabase database(fixturePath("V4.mdb"));
    EXPECT_EQ(database.columns("glb specialite").size(), 2);
}

TEST(IndependentFixture, MissingTableIsNamedInTheError)
{
    SourceDatabase database(fixturePath("V4.mdb"));
    try {
        database.columns("GLB ABSENTE");
        FAIL() << "no error";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(),
                  "La table [GLB ABSENTE] n'existe pas dans [" + fixturePath("V4.mdb") + "].");
    }
}

} // namespace
