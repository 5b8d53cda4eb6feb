#include "stages/reference_lookups.h"

#include "stages/normalisers.h"

namespace p1 {

namespace {

const QString codeParameter = QStringLiteral("code");

} // namespace

ReferenceLookups::ReferenceLookups(SourceConnection& ADOConnectionSorvane)
    : Sorvane_GLB_SPECIALITE(&ADOConnectionSorvane,
                             {QStringLiteral("SELECT * from [GLB SPECIALITE]"),
                              QStringLiteral("where [CODE SPECIALITE]=:code")}),
      Sorvane_REF_FONCTION(&ADOConnectionSorvane,
                           {QStringLiteral("SELECT * from [REF FONCTION]"),
                            QStringLiteral("where [CODE FONCTION]=:code")}),
      Sorvane_REF_PROFESSION(&ADOConnectionSorvane,
                             {QStringLiteral("SELECT * from [REF TYPE PROFESSION]"),
                              QStringLiteral("where [CODE TYPE PROFESSION]=:code")}),
      Sorvane_ANT_ANTECED(&ADOConnectionSorvane,
                          {QStringLiteral("SELECT * from [ANT ANTECEDENT]"),
                           QStringLiteral("where [CODE ANTECEDENT]=:code")}),
      Sorvane_Type_consultation(&ADOConnectionSorvane,
                                {QStringLiteral("SELECT * from [CON TYPE CONSULTATION]"),
                                 QStringLiteral("where [CODE TYPE CONSULTATION]=:code")})
{
}

QString ReferenceLookups::LookupSpecialtyLabel(qint64 code)
{
    return labelOf(Sorvane_GLB_SPECIALITE, QStringLiteral("NOM SPECIALISTE"), code);
}

QString ReferenceLookups::LookupFunctionLabel(qint64 code)
{
    return labelOf(Sorvane_REF_FONCTION, QStringLiteral("LIBELLE"), code);
}

QString ReferenceLookups::LookupProfessionLabel(qint64 code)
{
    if (code <= 0)
        return {};
    return labelOf(Sorvane_REF_PROFESSION, QStringLiteral("LIBELLE"), code);
}

QString ReferenceLookups::LookupConsultationTypeLabel(qint64 code)
{
    return labelOf(Sorvane_Type_consultation, QStringLiteral("LIBELLE"), code);
}

QString ReferenceLookups::BuildAntecedentLabel(qint64 code, const QString& dateText)
{
    return QStringLiteral("Antécédent du ") + dateText + QStringLiteral(" : ")
        + labelOf(Sorvane_ANT_ANTECED, QStringLiteral("LIBELLE"), code);
}

void ReferenceLookups::forgetLabels()
{
    labels_.clear();
}

QString ReferenceLookups::labelOf(SourceQuery& query, const QString& labelField, qint64 code)
{
    QHash<qint64, QString>& labels = labels_[&query];
    const auto known = labels.constFind(code);
    if (known != labels.constEnd())
        return *known;
    const QString label = readLabel(query, labelField, code);
    labels.insert(code, label);
    return label;
}

QString ReferenceLookups::readLabel(SourceQuery& query, const QString& labelField, qint64 code)
{
    query.setParameter(codeParameter, code);
    query.open();
    // The query is closed whatever happens, so that the next call can set its parameter.
    struct CloseOnExit {
        SourceQuery& query;
        ~CloseOnExit() { query.close(); }
    } closeOnExit{query};
    if (query.eof())
        return {};
    return trimmedText(query.field(labelField).asText());
}

} // namespace p1
