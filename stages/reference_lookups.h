#pragma once

#include "source/source_query.h"

#include <QHash>
#include <QString>

namespace p1 {

// The labels the stages read from the source's reference tables, one persistent parameterised
// query each (parameter "code"). A label read is remembered until forgetLabels(), which each run
// step calls: the source is read from the copy the run made of it, which does not change
// meanwhile, and a history or consultation row then costs no query for its label. A failing
// query (missing table, lost connection) throws SourceError to the calling stage, every time.
// UI thread only.
class ReferenceLookups {
public:
    explicit ReferenceLookups(SourceConnection& ADOConnectionSorvane);

    // The trimmed label of the code; empty when the code has no row or the label is NULL.
    QString LookupSpecialtyLabel(qint64 code);
    QString LookupFunctionLabel(qint64 code);
    QString LookupProfessionLabel(qint64 code); // empty without a query for a code of 0 or less
    QString LookupConsultationTypeLabel(qint64 code);

    // "Antécédent du " + dateText unchanged + " : " + the trimmed label of the code.
    QString BuildAntecedentLabel(qint64 code, const QString& dateText);

    // The next calls read the source again.
    void forgetLabels();

private:
    QString labelOf(SourceQuery& query, const QString& labelField, qint64 code);
    QString readLabel(SourceQuery& query, const QString& labelField, qint64 code);

    QHash<const SourceQuery*, QHash<qint64, QString>> labels_;

    SourceQuery Sorvane_GLB_SPECIALITE;
    SourceQuery Sorvane_REF_FONCTION;
    SourceQuery Sorvane_REF_PROFESSION;
    SourceQuery Sorvane_ANT_ANTECED;
    SourceQuery Sorvane_Type_consultation;
};

} // namespace p1
