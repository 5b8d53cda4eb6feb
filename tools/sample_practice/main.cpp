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
    });
    parser.addPositionalArgument("dossier", "Dossier du cabinet à écrire.");
    parser.process(application);
    QTextStream errors(stderr);
    bool valid = parser.positionalArguments().size() == 1;
    p1::SamplePracticeOptions options;
    options.patients = intOption(parser, "patients", valid);
    options.seed = unsigned(intOption(parser, "seed", valid));
    options.antecedentsPerPatient = options.consultationsPerPatient = options.prescriptionsPerPatient =
        intOption(parser, "details", valid);
    options.lettersPerPatient = intOption(parser, "letters", valid);
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
