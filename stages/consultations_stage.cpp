#include "stages/consultations_stage.h"

#include "stages/normalisers.h"
#include "stages/reference_lookups.h"

#include <algorithm>
#include <optional>

namespace p1 {

namespace {

const StageTexts consultationsTexts{
    QStringLiteral("Importation des consultations"),
    QStringLiteral("Erreur lors de l'ouverture de la table [CON CONSULTATION] de Sorvane : "),
    QStringLiteral(" consultation créée"),
    QStringLiteral(" consultations créées"),
};
const QStringList detailQuery{QStringLiteral(
    "SELECT * from [CON SOUS CONSULTATION] where CodeTitre=:code ORDER BY CodeTitre, NroOrdre")};
const QString detailFailure =
    QStringLiteral(" : importation du complément de la consultation n°%1 du patient n°%2 datée au %3");
const QString consultationFailure = QStringLiteral(" : importation de la consultation du patient n°%1 datée au %2");
const QString importedStatus = QStringLiteral("Patient n°%1, consultation datée au %2 importée");
const QString reasonColumn = QStringLiteral("MOTIF_DE_CONSULTATION");
const QString detailColumn = QStringLiteral("AUTRES");
const QString indentation = QStringLiteral("  ");

// A text with one more line; an empty text starts with it.
QString withLine(const QString& text, const QString& line)
{
    return text.isEmpty() ? line : text + u'\r' + line;
}

const QString sourceTable = QStringLiteral("[CON CONSULTATION]");
const QString sourceOrder = QStringLiteral("ORDER BY [CODE PATIENT], [Date], [CodeTitre]");

class ConsultationsStage : public ImportStage {
public:
    explicit ConsultationsStage(RunContext& run)
        : ImportStage(run, consultationsTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvane, sourceTable, sourceOrder},
                      {{run.Query1, wholeTable(QStringLiteral("MOTCONSU"))}}),
          MOTCONSU(run.Query1), Sorvane_Query1(run.Sorvane_Query1),
          consultationNumber_(counter(QStringLiteral("MOTCONSU")))
    {
        identifyRowsBy(QStringLiteral("CODE PATIENT"));
        sendRowsAhead();
    }

private:
    // A previous prescriptions stage leaves the detail query on Ordo.mdb.
    void prepare() override
    {
        if (Sorvane_Query1.connection() != &run_.ADOConnectionSorvane)
            Sorvane_Query1.setConnection(&run_.ADOConnectionSorvane);
        Sorvane_Query1.close();
        Sorvane_Query1.sql() = detailQuery;
    }

    // The search, the edit and the type label are left unguarded: a failure there is the
    // target's or the source's, not this row's, and ends the run.
    RowOutcome importRow() override
    {
        const qint64 patient = integer(QStringLiteral("CODE PATIENT"));
        if (patient <= 0)
            return RowOutcome::Skipped;
        const QString code = text(QStringLiteral("CODE PATIENT"));
        const QString date = text(QStringLiteral("Date"));
        const bool existing = openConsultationRow(patient);
        addFreeText();
        addDetailLines(detailFailure.arg(text(QStringLiteral("CodeTitre")), code, date));
        const bool stored = guard(consultationFailure.arg(code, date), [&] {
            MOTCONSU.post();
            showStatus(importedStatus.arg(code, date));
        }, {&MOTCONSU});
        if (!stored)
            return RowOutcome::Refused;
        return existing ? RowOutcome::Merged : RowOutcome::Stored;
    }

    // Undated consultations never meet: nothing says two of them were one visit.
    std::optional<QDateTime> consultationDate() const
    {
        const SourceField date = field(QStringLiteral("Date"));
        if (date.isNull())
            return std::nullopt;
        return date.asDateTime();
    }

    // Puts the patient's consultation at that date-time in edit mode, or starts it, with the
    // type label as a further line of its reason; true when it already existed.
    bool openConsultationRow(qint64 patient)
    {
        const std::optional<QDateTime> date = consultationDate();
        const QString typeLabel =
            run_.lookups.LookupConsultationTypeLabel(integer(QStringLiteral("CODE TYPE CONSULTATION")));
        if (date && MOTCONSU.locate({QStringLiteral("PATIENTS_ID"), QStringLiteral("DATE_CONSULTATION")},
                                    {patient, *date})) {
            MOTCONSU.edit();
            MOTCONSU.setValue(reasonColumn, withLine(MOTCONSU.field(reasonColumn).asText(), typeLabel));
            return true;
        }
        MOTCONSU.append();
        MOTCONSU.setValue(QStringLiteral("MOTCONSU_ID"), consultationNumber_.next());
        MOTCONSU.setValue(QStringLiteral("PATIENTS_ID"), patient);
        MOTCONSU.setValue(QStringLiteral("DATE_CONSULTATION"), date ? QVariant(*date) : QVariant());
        MOTCONSU.setValue(QStringLiteral("MEDECINS_ID"), integer(QStringLiteral("CODE MEDECIN")));
        MOTCONSU.setValue(reasonColumn, typeLabel);
        return false;
    }

    void addFreeText()
    {
        const QString freeText = text(QStringLiteral("DONNEES"));
        if (!isBlank(freeText))
            MOTCONSU.setValue(reasonColumn, withLine(MOTCONSU.field(reasonColumn).asText(), freeText));
    }

    // The lines read before a failure stay: the consultation is stored with them.
    void addDetailLines(const QString& failureWording)
    {
        const QString before = MOTCONSU.field(detailColumn).asText();
        QString details = before;
        guard(failureWording, [&] {
            Sorvane_Query1.setParameter(QStringLiteral("code"), integer(QStringLiteral("CodeTitre")));
            Sorvane_Query1.open();
            for (; !Sorvane_Query1.eof(); Sorvane_Query1.next()) {
                const QString line = Sorvane_Query1.field(QStringLiteral("DONNEES")).asText();
                if (isBlank(line))
                    continue;
                const qint64 level = Sorvane_Query1.field(QStringLiteral("niveau")).asInteger();
                details = withLine(details, indentation.repeated(std::max<qint64>(level, 0)) + line);
            }
        }, {});
        Sorvane_Query1.close();
        if (details != before)
            MOTCONSU.setValue(detailColumn, details);
    }

    TargetDataset& MOTCONSU;
    SourceQuery& Sorvane_Query1;
    StageCounter& consultationNumber_;
};

} // namespace

StageCounts importConsultations(RunContext& run)
{
    return ConsultationsStage(run).run();
}

QStringList consultationsSourceStatements()
{
    return {wholeTableStatement(sourceTable, sourceOrder), detailQuery.first()};
}

} // namespace p1
