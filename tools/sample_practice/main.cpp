// p1sample: writes a sample source practice (V4.mdb, Ordo.mdb, Courriers/) for tests, benchmarks
// and the demo.

#include "tools/sample_practice/sample_practice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <exception>

namespace {

int intOption(const QCommandLineParser& parser, const QString& name, bool& valid)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    valid = valid && ok && value >= 0;
    return value;
}

// The option's value when it is given, else the fallback.
int intOption(const QCommandLineParser& parser, const QString& name, int fallback, bool& valid)
{
    return parser.isSet(name) ? intOption(parser, name, valid) : fallback;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Écrit un cabinet d'exemple : V4.mdb, Ordo.mdb et Courriers/."));
    parser.addHelpOption();
    parser.addOptions({
        {"patients", "Nombre de patients (300 par défaut).", "N", "300"},
        {"seed", "Graine du tirage (1 par défaut).", "S", "1"},
        {"details", "Antécédents, consultations et ordonnances par patient, en moyenne (3 par défaut).", "D", "3"},
        {"letters", "Courriers par patient (1 par défaut).", "L", "1"},
        {"antecedents", "Antécédents par patient, en moyenne (--details par défaut).", "N"},
        {"consultations", "Consultations par patient, en moyenne (--details par défaut).", "N"},
        {"prescriptions", "Ordonnances par patient, en moyenne (--details par défaut).", "N"},
        {"detail-lines", "Lignes de détail par consultation, en moyenne (2 par défaut).", "N", "2"},
        {"items", "Médicaments par ordonnance, en moyenne (3 par défaut).", "N", "3"},
        {"patients-per-user", "Un utilisateur de plus par tant de patients (0, par défaut : aucun).", "N", "0"},
        {"patients-per-correspondent", "Une entrée du carnet d'adresses par tant de patients (10 par défaut).", "N",
         "10"},
        {"history-share", "Part des patients ayant des antécédents, en % (100 par défaut).", "P", "100"},
        {"same-time-consultations",
         "Part des consultations à la date et l'heure de la précédente du patient, en % (10 par défaut).", "P", "10"},
        {"same-day-prescriptions",
         "Part des ordonnances du jour de la précédente du patient, en % (10 par défaut).", "P", "10"},
    });
    parser.addPositionalArgument("dossier", "Dossier du cabinet à écrire.");
    parser.process(application);
    QTextStream errors(stderr);
    bool valid = parser.positionalArguments().size() == 1;
    p1::SamplePracticeOptions options;
    options.patients = intOption(parser, "patients", valid);
    options.seed = unsigned(intOption(parser, "seed", valid));
    const int details = intOption(parser, "details", valid);
    options.antecedentsPerPatient = intOption(parser, "antecedents", details, valid);
    options.consultationsPerPatient = intOption(parser, "consultations", details, valid);
    options.prescriptionsPerPatient = intOption(parser, "prescriptions", details, valid);
    options.lettersPerPatient = intOption(parser, "letters", valid);
    options.detailLinesPerConsultation = intOption(parser, "detail-lines", valid);
    options.itemsPerPrescription = intOption(parser, "items", valid);
    options.patientsPerUser = intOption(parser, "patients-per-user", valid);
    options.patientsPerCorrespondent = intOption(parser, "patients-per-correspondent", valid);
    options.patientsWithHistoryPercent = intOption(parser, "history-share", valid);
    options.sameTimeConsultationPercent = intOption(parser, "same-time-consultations", valid);
    options.sameDayPrescriptionPercent = intOption(parser, "same-day-prescriptions", valid);
    if (!valid) {
        errors << parser.helpText();
        return 2;
    }
    try {
        const p1::SamplePractice practice = p1::writeSamplePractice(parser.positionalArguments().first(), options);
        QTextStream out(stdout);
        for (auto count = practice.rowCounts.cbegin(); count != practice.rowCounts.cend(); ++count)
            out << count.key() << " : " << count.value() << " lignes\n";
        return 0;
    } catch (const std::exception& error) {
        errors << QString::fromUtf8(error.what()) << '\n';
        return 1;
    }
}
