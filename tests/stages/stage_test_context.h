#pragma once

// What a stage test needs around a stage: a source V4.mdb built with the Jet writer, a fresh
// target, the recording operator and the run context the import run would give the stage.

#include "dbaccess/id_allocator.h"
#include "dbaccess/source_connections.h"
#include "common/locale_texts.h"
#include "stages/stage_frame.h"
#include "stages/reference_lookups.h"
#include "targetdb/target_schema.h"
#include "tests/support/qt_printers.h"
#include "tests/support/log_lines.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"
#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/source_tables.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace p1::test {

// The source files of one test; the tables are added by the test, then written.
class SourceFiles {
public:
    SourceFiles()
    {
        EXPECT_TRUE(folder_.isValid());
        EXPECT_TRUE(QDir().mkpath(lettersFolder()));
    }

    jet::DatabaseBuilder& v4() { return v4_; }
    jet::DatabaseBuilder& ordo() { return ordo_; }
    QString folder() const { return folder_.path() + u'/'; }
    QString lettersFolder() const { return folder() + QStringLiteral("Courriers/"); }
    QString v4Path() const { return folder_.filePath(QStringLiteral("V4.mdb")); }
    QString ordoPath() const { return folder_.filePath(QStringLiteral("Ordo.mdb")); }
    void write() const
    {
        v4_.write(v4Path());
        ordo_.write(ordoPath());
    }

private:
    QTemporaryDir folder_;
    jet::DatabaseBuilder v4_;
    jet::DatabaseBuilder ordo_;
};

inline jet::Value text(const char* value)
{
    return QString::fromUtf8(value);
}

// A row of a person table ([GLB Medecin], [ADR CARNET ADRESSE]): the code, the names, reference
// code 0 and an empty text in every other column.
inline void addPerson(jet::TableBuilder& table, const jet::Value& code, const QString& surname,
                      const QString& firstName)
{
    QList<jet::Value> row{code, surname, firstName, qint64(0)};
    while (row.size() < table.columns().size())
        row.append(QString(""));
    table.row(row);
}

// How the stage tests commit what the stages store: one statement at a time, or in groups as an
// import run does by default (P1_STAGE_COMMIT_MODE=grouped, which CTest gives the stage tests'
// second run). Each stage must leave the same in both.
inline CommitMode stageTestCommitMode()
{
    return qEnvironmentVariable("P1_STAGE_COMMIT_MODE") == QStringLiteral("grouped") ? CommitMode::Grouped
                                                                                      : CommitMode::EachRow;
}

// The components of the window that a stage reaches through its RunContext, on the written
// source and the given target, whose letter store is in the target folder, the target in the
// stage tests' commit mode. Stamps and dates read the French way.
class StageRunContext {
public:
    StageRunContext(const SourceFiles& source, TargetConnection& target, const QString& targetFolder = {})
        : target_(target), Query1(target), Query2(target), Query3(target), Qry1(target), ids(target, ui),
          lookups(ADOConnectionSorvane),
          context{ui,     ADOConnectionSorvane, ADOConnectionSorvaneOrdo, target,
                  Sorvane_Select, Sorvane_GLB_Medecin, Sorvane_Query1,
                  Query1, Query2, Query3, Qry1, ids, lookups, prescriptionsTableName(),
                  source.lettersFolder(), targetFolder}
    {
        setTextLocale(QLocale(QLocale::French, QLocale::France));
        ADOConnectionSorvane.setConnectionString(sourceConnectionString(source.v4Path()));
        ADOConnectionSorvane.open();
        ADOConnectionSorvaneOrdo.setConnectionString(ordoConnectionString(source.folder()));
        target.setCommitMode(stageTestCommitMode());
    }
    // What a stage stopped by an error did not commit goes, as when a run ends.
    ~StageRunContext() { target_.setCommitMode(CommitMode::EachRow); }
    StageRunContext(const StageRunContext&) = delete;
    StageRunContext& operator=(const StageRunContext&) = delete;

private:
    TargetConnection& target_;

public:
    RecordingUi ui;
    SourceConnection ADOConnectionSorvane;
    SourceConnection ADOConnectionSorvaneOrdo;
    SourceQuery Sorvane_Select{&ADOConnectionSorvane,
                               {QStringLiteral("SELECT * from "), QString(), QString()}};
    SourceQuery Sorvane_GLB_Medecin{&ADOConnectionSorvane,
                                    {QStringLiteral("SELECT * from [GLB Medecin]")}};
    SourceQuery Sorvane_Query1{&ADOConnectionSorvane};
    TargetDataset Query1;
    TargetDataset Query2;
    TargetDataset Query3;
    TargetStatement Qry1;
    IdAllocator ids;
    ReferenceLookups lookups;
    RunContext context;
};

// A test of one stage on each target engine.
template <StageCounts (*stage)(RunContext&)>
class StageTest : public TargetEngineTest {
protected:
    // Writes the source, runs the stage on it and its target, and gives the log without stamps.
    QStringList importFrom(const SourceFiles& source)
    {
        source.write();
        run = std::make_unique<StageRunContext>(source, *connection, target.folder);
        counts = stage(run->context);
        return withoutStamps(run->ui.logLines());
    }

    std::unique_ptr<StageRunContext> run;
    StageCounts counts;
};

// The LAST_VALUE of a key of ID_VALUES; -1 when the key is missing.
inline qint64 lastValueOf(TargetConnection& target, const QString& key)
{
    for (const TableRow& row : readTable(target, QStringLiteral("ID_VALUES")))
        if (row.value(QStringLiteral("KEY_NAME")).asText() == key)
            return row.value(QStringLiteral("LAST_VALUE")).asInteger();
    return -1;
}

inline void insertRow(TargetConnection& target, const QString& table, const QVariantMap& values)
{
    TargetDataset dataset(target);
    dataset.setCommandText(QStringLiteral("SELECT * FROM ") + table);
    dataset.open();
    dataset.append();
    for (auto value = values.begin(); value != values.end(); ++value)
        dataset.setValue(value.key(), value.value());
    dataset.post();
}

inline void setLastValue(TargetConnection& target, const QString& key, qint64 value)
{
    TargetStatement insert(target, {QStringLiteral("INSERT INTO ID_VALUES (KEY_NAME, LAST_VALUE) "
                                                   "VALUES (:key_name, :last_value)")});
    insert.setParameter(QStringLiteral("key_name"), key);
    insert.setParameter(QStringLiteral("last_value"), value);
    insert.execute();
}

} // namespace p1::test
