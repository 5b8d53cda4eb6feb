// The system's source statements run as written over the independent fixture V4.mdb: the shared
// three-line query, multi-column orders, parameterised look-ups, field reading rules, errors.
#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "source/source_connection_impl.h"
#include "source/source_copy.h"
#include "source/source_query.h"
#include "source/source_statement.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/support/test_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace p1;

namespace {

using test::asJson;

const QString fixtureFolder = QStringLiteral(P1_SOURCE_DIR "/tests/fixtures/independent/");
const QString v4Path = fixtureFolder + "V4.mdb";

QString connectionStringFor(const QString& file)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + file
        + ";Mode=Share Deny None;Persist Security Info=False;";
}

QJsonObject expectedTable(const QString& table)
{
    QFile file(fixtureFolder + "expected/V4.json");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object()[table].toObject();
}


// Every row left in the open query, each as the expected files write rows.
QList<QJsonArray> remainingRows(SourceQuery& query, const QJsonArray& columns)
{
    QList<QJsonArray> rows;
    for (; !query.eof(); query.next()) {
        QJsonArray row;
        for (const QJsonValue& column : columns)
            row.append(asJson(query.field(column.toString()).value()));
        rows.append(row);
    }
    return rows;
}

// Jet's ascending order: NULL first, then numbers, or texts that sort as written (dates).
bool lessByKeys(const QJsonArray& left, const QJsonArray& right, const QList<int>& keys)
{
    for (int key : keys) {
        const QJsonValue a = left[key];
        const QJsonValue b = right[key];
        if (a == b)
            continue;
        if (a.isNull() || b.isNull())
            return a.isNull();
        return a.isDouble() ? a.toDouble() < b.toDouble() : a.toString() < b.toString();
    }
    return false;
}

class SourceQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setTextLocale(QLocale(QLocale::French, QLocale::France));
        connection.setConnectionString(connectionStringFor(v4Path));
    }

    void expectError(SourceQuery& query, const QString& message)
    {
        try {
            query.open();
            ADD_FAILURE() << "opened: " << query.sql().join(' ').toStdString();
        } catch (const SourceError& error) {
            EXPECT_EQ(error.message(), message);
        }
    }

    SourceConnection connection;
};

TEST_F(SourceQueryTest, ConnectionStringGivesTheFileAndOpensOnDemand)
{
    EXPECT_EQ(connection.fileName(), v4Path);
    EXPECT_FALSE(connection.isOpen());
    SourceQuery query(&connection, {"SELECT * from [REF FONCTION]"});
    query.open();
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(query.recordCount(), 13);

    connection.close();
    EXPECT_FALSE(query.isOpen());
    query.open();
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(query.recordCount(), 13);
}

TEST_F(SourceQueryTest, MissingFileIsReportedWhenTheConnectionOpens)
{
    connection.setConnectionString(connectionStringFor("/nonexistent/Ordo.mdb"));
    try {
        connection.open();
        FAIL() << "opened";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(), "Le fichier [/nonexistent/Ordo.mdb] n'existe pas.");
    }
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(SourceQueryTest, SharedThreeLineQueryTakesItsTableAndOrderLines)
{
    SourceQuery select(&connection, {"SELECT * from ", ":tablename", ""});
    const struct {
        const char* table;
        const char* order;
        QList<int> keys;
    } cases[] = {
        {"[GLB PATIENT]", "order by [CODE PATIENT]", {0}},
        {"[ADR CARNET ADRESSE]", "", {}},
        {"[ANT ANTECEDENT PATIENT]", "ORDER BY [CODE PATIENT], [CODE ANTECEDENT PATIENT]", {1, 0}},
        {"[CON CONSULTATION]", "ORDER BY [CODE PATIENT], [Date], [CodeTitre]", {1, 2, 0}},
        {"[COU COURRIER GENERE]", "ORDER BY [CODE PATIENT], [DATE], [CODE COURRIER GENERE]", {1, 2, 0}},
        {"[CON SOUS CONSULTATION]", "ORDER BY CodeTitre DESC, nroordre", {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.table);
        select.sql()[1] = test.table;
        select.sql()[2] = test.order;
        select.open();
        const QJsonObject expected = expectedTable(QString(test.table).mid(1).chopped(1));
        QList<QJsonArray> rows;
        for (const QJsonValue& row : expected["rows"].toArray())
            rows.append(row.toArray());
        if (QString(test.order).contains("DESC"))
            std::stable_sort(rows.begin(), rows.end(), [](const QJsonArray& a, const QJsonArray& b) {
                return lessByKeys(b, a, {0}) || (!lessByKeys(a, b, {0}) && lessByKeys(a, b, {1}));
            });
        else
            std::stable_sort(rows.begin(), rows.end(),
                             [&](const QJsonArray& a, const QJsonArray& b) { return lessByKeys(a, b, test.keys); });
        EXPECT_EQ(select.recordCount(), rows.size());
        EXPECT_EQ(remainingRows(select, expected["columns"].toArray()), rows);
        select.close();
    }
}

TEST_F(SourceQueryTest, ParameterisedLookupsFindTheirRowsInAnyCase)
{
    const struct {
        QStringList lines;
        const char* parameter;
        QVariant value;
        const char* field;
        bool found;
        bool null;
        QString text;
    } cases[] = {
        {{"SELECT * from [GLB SPECIALITE]", "where [CODE SPECIALITE]=:code"}, "code", 13, "NOM SPECIALISTE",
         true, false, "  Cardiologie pédiatrique  "},
        {{"SELECT * from [GLB SPECIALITE]", "where [CODE SPECIALITE]=:code"}, "code", 14, "nom specialiste",
         true, true, ""},
        {{"SELECT * from [GLB SPECIALITE]", "where [CODE SPECIALITE]=:code"}, "code", 99, "NOM SPECIALISTE",
         false, true, ""},
        {{"select * FROM [glb specialite]", "WHERE [code specialite]=:CODE"}, "Code", 6, "NOM SPECIALISTE",
         true, false, "Rhumatologie"},
        {{"SELECT * from [GLB SPECIALITE] where [CODE SPECIALITE]=:code"}, ":code", QString("8"),
         "NOM SPECIALISTE", true, false, "Ophtalmologie"},
        {{"SELECT * from [GLB Medecin]", "where NOM=:nom"}, "nom", QString("NGUYEN"), "PRENOM", true, true, ""},
        {{"SELECT * from [GLB Medecin]", "where NOM=:nom"}, "nom", QString("Bérénice"), "PRENOM", true, false, ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.lines.join(' ').toStdString() + " " + test.value.toString().toStdString());
        SourceQuery query(&connection, test.lines);
        query.setParameter(test.parameter, test.value);
        query.open();
        EXPECT_EQ(query.eof(), !test.found);
        EXPECT_EQ(query.recordCount(), test.found ? 1 : 0);
        if (test.found) {
            EXPECT_EQ(query.field(test.field).isNull(), test.null);
            EXPECT_EQ(query.field(test.field).asText(), test.text);
        }
    }
}

// The consultations stage's pattern: its detail query runs once per header row, while the
// header query is still being walked, and stages its own table at its first opening.
const QStringList headerLines{"SELECT * from ", "[CON CONSULTATION]", "ORDER BY [CODE PATIENT], [Date], [CodeTitre]"};
const QString detailStatement =
    "SELECT * from [CON SOUS CONSULTATION] where CodeTitre=:code ORDER BY CodeTitre, NroOrdre";

// Each consultation's lines, read by a query per consultation while the consultations are walked
// in their order, are the fixture's lines of that consultation in their order.
void expectEachHeaderWithItsLines(SourceConnection& connection)
{
    const QJsonObject expected = expectedTable("CON SOUS CONSULTATION");
    QMap<qint64, QList<QJsonArray>> linesByHeader;
    for (const QJsonValue& row : expected["rows"].toArray())
        linesByHeader[row[0].toInteger()].append(row.toArray());
    for (QList<QJsonArray>& lines : linesByHeader)
        std::stable_sort(lines.begin(), lines.end(),
                         [](const QJsonArray& a, const QJsonArray& b) { return lessByKeys(a, b, {1}); });

    SourceQuery headers(&connection, headerLines);
    SourceQuery detail(&connection, {detailStatement});
    headers.open();
    const int headerCount = headers.recordCount();
    int headersWalked = 0;
    int linesRead = 0;
    for (; !headers.eof(); headers.next(), ++headersWalked) {
        const qint64 code = headers.field("codetitre").asInteger();
        detail.setParameter("code", code);
        detail.open();
        const QList<QJsonArray> lines = remainingRows(detail, expected["columns"].toArray());
        EXPECT_EQ(lines, linesByHeader.value(code)) << code;
        linesRead += lines.size();
        detail.close();
    }
    EXPECT_EQ(headersWalked, headerCount);
    EXPECT_EQ(headerCount, expectedTable("CON CONSULTATION")["rows"].toArray().size());
    EXPECT_GT(linesRead, 1000);
}

TEST_F(SourceQueryTest, DetailQueryPerHeaderRowWhileTheHeadersAreWalked)
{
    expectEachHeaderWithItsLines(connection);
}

// The run has the indexes of its stages' statements made on a thread of their own; a statement
// that cannot run is left to fail when it is run, in its own words.
TEST_F(SourceQueryTest, IndexesMadeAheadGiveTheSameRowsAndAStatementThatCannotRunFailsWhenRun)
{
    connection.open();
    connection.makeIndexesAhead({headerLines.join('\n'), "SELECT * from [NO SUCH TABLE] ORDER BY [A]",
                                 "SELECT * from [CON CONSULTATION] ORDER BY [NO SUCH COLUMN]", detailStatement});
    expectEachHeaderWithItsLines(connection);
    SourceQuery missing(&connection, {"SELECT * from [NO SUCH TABLE] ORDER BY [A]"});
    EXPECT_THROW(missing.open(), SourceError);
}

// A table read by an open query gets no index made ahead: the query goes on reading it.
TEST_F(SourceQueryTest, AQueryOpenOnATableWhenIndexesAreMadeAheadGoesOnReadingIt)
{
    const QJsonObject expected = expectedTable("CON CONSULTATION");
    SourceQuery headers(&connection, headerLines);
    headers.open();
    headers.next();
    connection.makeIndexesAhead({headerLines.join('\n'), detailStatement});
    EXPECT_EQ(remainingRows(headers, expected["columns"].toArray()).size() + 1, expected["rows"].toArray().size());
    headers.close();
    expectEachHeaderWithItsLines(connection);
}

// A copy whose indexes are made ahead waits in a file until read: read back, it gives the same
// rows in the same orders (its texts compared as Jet compares them), and an index made ahead on
// it later is made on it whole.
TEST_F(SourceQueryTest, ACopyWaitingInItsFileIsReadBackWhole)
{
    connection.open();
    MemoryCopy& copy = *connection.impl().copy;
    const auto writtenOut = [&](const QString& table) {
        for (int wait = 0; wait < 500 && !copy.writtenOut(table); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return copy.writtenOut(table);
    };
    connection.makeIndexesAhead({headerLines.join('\n'), detailStatement});
    ASSERT_TRUE(writtenOut("CON CONSULTATION"));
    ASSERT_TRUE(writtenOut("CON SOUS CONSULTATION"));
    connection.makeIndexesAhead({"SELECT * from [CON SOUS CONSULTATION] ORDER BY [DONNEES], [CodeTitre], [NroOrdre]"});
    ASSERT_TRUE(writtenOut("CON SOUS CONSULTATION"));

    expectEachHeaderWithItsLines(connection);
    EXPECT_FALSE(copy.writtenOut("CON CONSULTATION"));
    SourceQuery byText(&connection, {"SELECT * from [CON SOUS CONSULTATION] ORDER BY [DONNEES], [CodeTitre], [NroOrdre]"});
    byText.open();
    QStringList texts;
    for (; !byText.eof(); byText.next())
        texts.append(byText.field("DONNEES").asText());
    QStringList sorted = texts;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(texts.size(), expectedTable("CON SOUS CONSULTATION")["rows"].toArray().size());
    EXPECT_EQ(texts, sorted);
}

// A run that ends early closes its files while indexes are still being made ahead.
TEST_F(SourceQueryTest, ClosingWhileIndexesAreMadeAheadLeavesAFileThatOpensAgain)
{
    for (int time = 0; time < 3; ++time) {
        connection.open();
        connection.makeIndexesAhead({headerLines.join('\n'), detailStatement});
        connection.close();
    }
    expectEachHeaderWithItsLines(connection);
}

// One index per statement read in an order, the filter's columns first: it finds and orders.
TEST(SourceCopyIndexes, AnOrderedStatementNeedsOneIndexAFilterAloneOnePerColumn)
{
    const auto indexes = [](QStringList filter, QStringList order) {
        return indexesFor({"T", "", "", std::move(filter), std::move(order)});
    };
    EXPECT_EQ(indexes({"CodeTitre"}, {"CodeTitre", "NroOrdre"}), QList<QStringList>({{"CodeTitre", "NroOrdre"}}));
    EXPECT_EQ(indexes({"A"}, {"B"}), QList<QStringList>({{"A", "B"}}));
    EXPECT_EQ(indexes({}, {"A", "B"}), QList<QStringList>({{"A", "B"}}));
    EXPECT_EQ(indexes({"A", "B"}, {}), QList<QStringList>({{"A"}, {"B"}}));
    EXPECT_TRUE(indexes({}, {}).isEmpty());
}

// Between stages the copies of the tables read are given back: a query still open on one goes
// on reading it, a closed one reads it again, copied afresh, with an index made anew.
TEST_F(SourceQueryTest, CopiesGivenBackAreCopiedAgainAndAnOpenQueryKeepsItsOwn)
{
    const QJsonObject functions = expectedTable("REF FONCTION");
    const QJsonObject lines = expectedTable("CON SOUS CONSULTATION");
    SourceQuery open(&connection, {"SELECT * from [REF FONCTION]"});
    SourceQuery detail(&connection, {"SELECT * from [CON SOUS CONSULTATION] where CodeTitre=:code ORDER BY NroOrdre"});
    const qint64 code = lines["rows"].toArray()[0][0].toInteger();
    detail.setParameter("code", code);
    detail.open();
    const QList<QJsonArray> before = remainingRows(detail, lines["columns"].toArray());
    detail.close();
    open.open();
    open.next();

    connection.releaseCopies({"[REF FONCTION]", "[CON SOUS CONSULTATION]", "[NO SUCH TABLE]"});
    const MemoryCopy& copy = *connection.impl().copy;
    EXPECT_TRUE(copy.holds("REF FONCTION"));
    EXPECT_FALSE(copy.holds("CON SOUS CONSULTATION"));
    EXPECT_EQ(remainingRows(open, functions["columns"].toArray()).size() + 1, functions["rows"].toArray().size());
    detail.open();
    EXPECT_FALSE(before.isEmpty());
    EXPECT_EQ(remainingRows(detail, lines["columns"].toArray()), before);

    open.close();
    connection.releaseCopies({"REF FONCTION"});
    EXPECT_FALSE(copy.holds("REF FONCTION"));
    open.open();
    EXPECT_EQ(open.recordCount(), functions["rows"].toArray().size());
}

TEST_F(SourceQueryTest, DatesBeforeTheZeroDayKeepTheirTypeAndOrder)
{
    SourceQuery query(&connection, {"SELECT * from [GLB PATIENT]", "where [DATE NAISSANCE] < :limit",
                                    "ORDER BY [DATE NAISSANCE]"});
    query.setParameter("limit", wallClock(QDate(1899, 12, 30)));
    query.open();
    ASSERT_FALSE(query.eof());
    QDateTime previous;
    for (; !query.eof(); query.next()) {
        const QDateTime birth = query.field("DATE NAISSANCE").asDateTime();
        EXPECT_LT(birth, zeroDay());
        EXPECT_TRUE(previous.isNull() || previous <= birth);
        EXPECT_EQ(query.field("DATE NAISSANCE").asText(), dateTimeText(birth));
        previous = birth;
    }
}

// A field is found by its name whatever the order the fields are read in, the name's case, or
// where its text lives: a literal, or a text made for the read and gone after it, whose memory
// the next name, of the same length, may take again. A query prepared again forgets the names
// of its earlier table and the names of its earlier parameters.
TEST_F(SourceQueryTest, FieldsReadInAnyOrderAndSpellingGiveTheirOwnValues)
{
    const QJsonObject expected = expectedTable("GLB Medecin");
    const QJsonArray columns = expected["columns"].toArray();
    SourceQuery query(&connection, {"SELECT * from [GLB Medecin]"});
    query.open();
    for (const QJsonValue& row : expected["rows"].toArray()) {
        for (int round = 0; round < 3; ++round) {
            for (int at = 0; at < columns.size(); ++at) {
                const int column = round == 1 ? int(columns.size()) - 1 - at : at;
                const QString written = columns[column].toString();
                const QString name = round == 2 ? written.toLower() : QString(written.constData(), written.size());
                SCOPED_TRACE(name.toStdString());
                EXPECT_EQ(asJson(query.field(name).value()), row.toArray()[column]);
            }
        }
        EXPECT_EQ(asJson(query.field(QStringLiteral("NOM")).value()), row.toArray()[1]);
        EXPECT_EQ(asJson(query.field(QStringLiteral("FAX")).value()), row.toArray()[8]);
        query.next();
    }
    EXPECT_TRUE(query.eof());

    query.close();
    query.sql() = QStringList{"SELECT * from [GLB SPECIALITE]", "where [CODE SPECIALITE]=:autre"};
    query.setParameter("autre", 6);
    query.open();
    EXPECT_EQ(query.field(QStringLiteral("NOM SPECIALISTE")).asText(), "Rhumatologie");
    EXPECT_EQ(query.recordCount(), 1);
    EXPECT_THROW(query.field(QStringLiteral("NOM")), SourceError);
}

TEST_F(SourceQueryTest, MissingTableColumnOrParameterIsNamedInTheError)
{
    SourceQuery query(&connection, {"SELECT * from [GLB ABSENTE]"});
    expectError(query, "La table [GLB ABSENTE] n'existe pas dans [" + v4Path + "].");
    query.sql() = QStringList{"SELECT * from [GLB SPECIALITE]", "where [CODE ABSENT]=:code"};
    query.setParameter("code", 1);
    expectError(query, "Le champ [CODE ABSENT] n'existe pas dans la table [GLB SPECIALITE].");
    query.sql() = QStringList{"SELECT * from [GLB SPECIALITE]", "order by NomAbsent"};
    expectError(query, "Le champ [NomAbsent] n'existe pas dans la table [GLB SPECIALITE].");
    query.sql() = QStringList{"SELECT * from [GLB SPECIALITE]", "where [CODE SPECIALITE]=:autre"};
    expectError(query, "Le paramètre :autre de la requête [SELECT * from [GLB SPECIALITE] where "
                       "[CODE SPECIALITE]=:autre] n'a pas de valeur.");

    query.sql() = QStringList{"SELECT * from [GLB SPECIALITE]"};
    query.open();
    try {
        query.field("LIBELLE");
        FAIL() << "no error";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(), "Le champ [LIBELLE] n'existe pas dans la table [GLB SPECIALITE].");
    }
}

TEST(SourceStatement, NamesBecomeTheTablesOwnWhateverTheirCaseOrBrackets)
{
    const TableLookup lookup = [](const QString& name) -> StatementTable {
        if (name.compare("GLB PATIENT", Qt::CaseInsensitive) != 0)
            throw SourceError("La table [" + name + "] n'existe pas.");
        return {"GLB PATIENT", {"CODE PATIENT", "NOM", "CodeTitre"}};
    };
    const struct {
        QString text;
        QString sql; // empty: refused
        QStringList filters;
        QString unordered;
        QStringList orders;
    } cases[] = {
        {"SELECT * from \n[glb patient]\norder by [code patient]",
         "SELECT * from \n\"GLB PATIENT\"\norder by \"CODE PATIENT\", rowid", {}, "SELECT * from \n\"GLB PATIENT\"", {"CODE PATIENT"}},
        {"select * FROM [GLB PATIENT] where codetitre=:code ORDER BY CodeTitre, Nom;",
         "select * FROM \"GLB PATIENT\" where \"CodeTitre\"=:code ORDER BY \"CodeTitre\", \"NOM\", rowid",
         {"CodeTitre"}, "select * FROM \"GLB PATIENT\" where \"CodeTitre\"=:code", {"CodeTitre", "NOM"}},
        {"SELECT * from [GLB PATIENT] where [NOM]='a [b]' and [Code Patient]=:c",
         "SELECT * from \"GLB PATIENT\" where \"NOM\"='a [b]' and \"CODE PATIENT\"=:c", {"NOM", "CODE PATIENT"},
         "SELECT * from \"GLB PATIENT\" where \"NOM\"='a [b]' and \"CODE PATIENT\"=:c", {}},
        {"SELECT * from \n:tablename\n", "", {}, "", {}},
        {"DELETE FROM [GLB PATIENT]", "", {}, "", {}},
        {"SELECT * from [GLB PATIENT", "", {}, "", {}},
        {"", "", {}, "", {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text.toStdString());
        if (test.sql.isEmpty()) {
            EXPECT_THROW(translateStatement(test.text, lookup), SourceError);
            continue;
        }
        const CopyStatement statement = translateStatement(test.text, lookup);
        EXPECT_EQ(statement.table, "GLB PATIENT");
        EXPECT_EQ(statement.sql, test.sql);
        EXPECT_EQ(statement.filterColumns, test.filters);
        EXPECT_EQ(statement.unorderedSql, test.unordered);
        EXPECT_EQ(statement.orderColumns, test.orders);
    }
}

TEST(SourceField, ReadRulesPerValue)
{
    setTextLocale(QLocale(QLocale::French, QLocale::France));
    const QDateTime evening = wallClock(QDate(2000, 5, 7), QTime(19, 25));
    const QDateTime midnight = wallClock(QDate(1850, 1, 2));
    const struct {
        SourceType type;
        SourceValue value;
        QString text;
        qint64 integer;
        QDateTime dateTime;
        int boolean; // -1: no Yes/No value
    } cases[] = {
        {SourceType::Text, std::monostate{}, "", 0, zeroDay(), 0},
        {SourceType::Text, QString(""), "", 0, {}, 0},
        {SourceType::Text, QString("  "), "  ", 0, {}, 0},
        {SourceType::Text, QString(" 42 "), " 42 ", 42, {}, -1},
        {SourceType::Text, QString("Vrai"), "Vrai", -1, {}, 1},
        {SourceType::Long, qint64(-7), "-7", -7, {}, 1},
        {SourceType::Long, std::monostate{}, "", 0, zeroDay(), 0},
        {SourceType::DateTime, evening, "07/05/2000 19:25:00", -1, evening, -1},
        {SourceType::DateTime, midnight, "02/01/1850", -1, midnight, -1},
        {SourceType::Boolean, true, "True", 1, {}, 1},
        {SourceType::Text, QString("07/05/2000"), "07/05/2000", -1, wallClock(QDate(2000, 5, 7)), -1},
    };
    for (const auto& test : cases) {
        const SourceField field("CHAMP", test.type, test.value);
        SCOPED_TRACE(test.text.toStdString());
        EXPECT_EQ(field.asText(), test.text);
        if (test.integer == -1 && !std::holds_alternative<qint64>(test.value)) {
            EXPECT_THROW(field.asInteger(), SourceError);
        } else {
            EXPECT_EQ(field.asInteger(), test.integer);
        }
        if (test.dateTime.isValid()) {
            EXPECT_EQ(field.asDateTime(), test.dateTime);
        } else {
            EXPECT_THROW(field.asDateTime(), SourceError);
        }
        if (test.boolean < 0) {
            EXPECT_THROW(field.asBoolean(), SourceError);
        } else {
            EXPECT_EQ(field.asBoolean(), test.boolean == 1);
        }
    }
}

} // namespace
