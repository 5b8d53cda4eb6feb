#pragma once

#include "run/run_report.h"
#include "targetdb/target_sql.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace p1 {

// The identifiers a target that is not purged holds, before the stages, in the tables whose
// identifiers are the source's own codes (users, address book, patients).
class PresentIdentifiers {
public:
    // Throws TargetError when a table cannot be read.
    static PresentIdentifiers read(TargetConnection& target);

    // The refused rows of the stages whose code the target already held, once per table.
    QList<PresentIdentifier> amongRefusals(const QList<StageCounts>& stages) const;

private:
    QHash<QString, QSet<QString>> codesByTable_;
};

// Why the run would not find its prescriptions table: EDITOR.INI names none (nullopt), or the
// target has no table of that name. Empty when it would. Throws TargetError when the target's
// tables cannot be listed.
QString prescriptionTableProblem(TargetConnection& target, const std::optional<QString>& namedInEditorIni);

// The log lines that tell what the stages' own lines do not: the prescriptions table, the
// identifiers already present, the texts longer than their column.
QStringList checkFindingLines(const RunReport& report);

} // namespace p1
