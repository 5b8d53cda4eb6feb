#include "tools/sample_practice/practice_writer.h"

#include "common/date_time.h"

namespace p1::sample {

namespace {

const QList<int> physicianCodes{1, 2, 3, 12};
constexpr int unknownSpecialty = 77;
constexpr int unknownFunction = 99;
constexpr int unknownProfession = 99;
constexpr int civilityCount = 5;

Value textOrNull(Draw& draw, int nullPercent, const QString& text)
{
    return draw.percent(nullPercent) ? null() : Value(text);
}

void writeLabels(TableBuilder& table, const QStringList& labels)
{
    for (qsizetype i = 0; i < labels.size(); ++i)
        table.row({code(i + 1), labels[i]});
}

// A row of a person table holding only its code, the names and reference code 1: NULL elsewhere.
void addNamesOnly(TableBuilder& table, const Value& rowCode, const QString& surname, const QString& firstName)
{
    QList<Value> row{rowCode, surname, firstName, code(1)};
    while (row.size() < table.columns().size())
        row.append(null());
    table.row(row);
}

} // namespace

PracticeWriter::PracticeWriter(const SamplePracticeOptions& options, const QString& lettersFolder)
    : options_(options), lettersFolder_(lettersFolder), draw_(options.seed)
{
    correspondentCount_ = std::max(15, options.patients / options.patientsPerCorrespondent);
}

TableBuilder& PracticeWriter::counted(TableBuilder& table)
{
    tables_.append(&table);
    return table;
}

void PracticeWriter::countRows()
{
    for (const TableBuilder* table : tables_)
        rowCounts_.insert(table->name(), table->rowCount());
    tables_.clear();
}

int PracticeWriter::drawPhysician()
{
    return physicianCodes[draw_.below(int(physicianCodes.size()))];
}

void PracticeWriter::writeReferenceTables(DatabaseBuilder& v4)
{
    TableBuilder& specialties = counted(specialtyTable(v4));
    writeLabels(specialties, sample::specialties());
    specialties.row({code(specialties.rowCount() + 1), null()});

    writeLabels(counted(functionTable(v4)), functions());
    writeLabels(counted(professionTable(v4)), professions());
    writeLabels(counted(civilityTable(v4)), civilities());

    TableBuilder& antecedents = counted(antecedentTable(v4));
    writeLabels(antecedents, antecedentLabels());
    antecedents.row({code(antecedents.rowCount() + 1), QStringLiteral("  Asthme sévère  ")});
    antecedents.row({code(antecedents.rowCount() + 1), null()});

    writeLabels(counted(consultationTypeTable(v4)), consultationTypes());
}

void PracticeWriter::writePhysicians(DatabaseBuilder& v4)
{
    TableBuilder& users = counted(physicianTable(v4));
    users.row({code(1), "Martin", "Paul", code(1), "12 rue Pasteur", "75011", "Paris", "01 45 67 89 10",
               "01.45.67.89.11", "paul"});
    addNamesOnly(users, code(0), "Remplaçant", "Sans code");
    users.row({code(2), "Lefèvre", "Hélène", code(2), "2 place de l’Hôtel-de-Ville", "25000", "Besançon",
               "06.12.34.56.78", "+33 3 81 00 00 00", "s3cr€t"});
    users.row({code(3), "Nguyen", null(), code(unknownSpecialty), "1 rue X", "75011", "Paris", "01 ", null(),
               QString()});
    addNamesOnly(users, null(), "Sanscode", "Utilisateur");
    users.row({code(12), "Œttinger", "Zoé", code(5), "8 quai Saint-Honoré", "67000", "Strasbourg",
               "0388123456", null(), "zoé"});
    const int moreUsers = options_.patientsPerUser > 0 ? options_.patients / options_.patientsPerUser : 0;
    for (int user = 0; user < moreUsers; ++user) {
        const Person person = drawPerson(draw_);
        const Town town = drawTown(draw_);
        users.row({code(100 + user), person.surname, person.firstName, code(1), drawStreet(draw_), town.postCode,
                   town.name, drawPhone(draw_), null(), QStringLiteral("mdp%1").arg(user)});
    }
}

void PracticeWriter::writeAddressBook(DatabaseBuilder& v4)
{
    TableBuilder& book = counted(addressBookTable(v4));
    addNamesOnly(book, code(0), "Sanscode", "Carnet");
    for (int entry = 1; entry <= correspondentCount_; ++entry) {
        const Person person = drawPerson(draw_);
        const Town town = drawTown(draw_);
        Value function = code(draw_.between(1, int(functions().size())));
        if (draw_.percent(5))
            function = draw_.percent(50) ? null() : code(unknownFunction);
        Value notes = draw_.percent(70) ? null() : Value(drawNotes(draw_, draw_.between(1, 3)));
        if (entry == 3)
            notes = repeatToLength(QStringLiteral("Horaires de consultation du cabinet, secrétariat joignable le matin. "), 5000);
        book.row({code(entry), person.surname, person.firstName, function, drawStreet(draw_), town.postCode, town.name,
                  draw_.percent(90) ? Value(QStringLiteral("France")) : Value(QStringLiteral("Belgique")),
                  textOrNull(draw_, 40, drawPhone(draw_)), textOrNull(draw_, 20, drawPhone(draw_)),
                  textOrNull(draw_, 60, drawPhone(draw_)), notes});
        if (entry == 2)
            addNamesOnly(book, null(), "Sanscode", "Carnet");
    }
    addNamesOnly(book, code(-3), "Négatif", "Carnet");
}

void PracticeWriter::writePatients(DatabaseBuilder& v4)
{
    TableBuilder& patients = counted(patientTable(v4));
    patients.row(junkPatientRow(code(0)));
    for (int patient = 1; patient <= options_.patients; ++patient)
        patients.row(patientRow(patient));
    patients.row(junkPatientRow(null()));
    patients.row(junkPatientRow(code(-5)));
}

QList<Value> PracticeWriter::junkPatientRow(const Value& patientCode)
{
    QList<Value> row(29, null());
    row[0] = patientCode;
    row[2] = QStringLiteral("Fantôme");
    row[3] = QStringLiteral("Ligne sans code");
    row[18] = false;
    return row;
}

QList<Value> PracticeWriter::patientRow(int patientCode)
{
    const Person person = drawPerson(draw_);
    const QDate birth = draw_.dateBetween(QDate(1925, 1, 1), QDate(2023, 12, 31));
    const Town town = drawTown(draw_);
    const bool child = birth.year() >= 2008;
    int civility = child ? 3 : (person.female ? (draw_.percent(15) ? 4 : 2) : 1);
    if (draw_.percent(2))
        civility = 5;
    Value profession = draw_.percent(40) ? null() : code(draw_.between(1, int(professions().size())));
    if (draw_.percent(1))
        profession = code(unknownProfession);
    QList<Value> correspondents(6, null());
    for (int link = draw_.below(4); link > 0; --link)
        correspondents[draw_.below(6)] = code(draw_.between(1, correspondentCount_));
    const bool married = person.female && !child && draw_.percent(40);
    const bool insuredOther = draw_.percent(10);
    const Person insured = drawPerson(draw_);
    QList<Value> row{
        code(patientCode),
        draw_.percent(3) ? null() : code(drawPhysician()),
        person.surname,
        person.firstName,
        wallClock(birth),
        QStringLiteral("D%1").arg(patientCode, 6, 10, QLatin1Char('0')),
        code(civility),
        code(person.female ? 2 : 1),
        married ? Value(drawSurname(draw_)) : null(),
        textOrNull(draw_, 20, drawPhone(draw_)),
        textOrNull(draw_, 75, drawPhone(draw_)),
        textOrNull(draw_, 90, drawPhone(draw_)),
        textOrNull(draw_, 8, drawInsuranceNumber(draw_, person.female, birth)),
        drawStreet(draw_),
        null(),
        null(),
        town.postCode,
        town.name,
        draw_.percent(3),
        insuredOther ? Value(insured.surname) : null(),
        insuredOther ? Value(insured.firstName) : null(),
        draw_.percent(80) ? null() : Value(drawNotes(draw_, draw_.between(1, 3))),
        profession,
    };
    row.append(correspondents);
    patients_.append({patientCode, person.firstName + ' ' + person.surname});
    applyAwkwardValues(patientCode, row);
    return row;
}

void PracticeWriter::applyAwkwardValues(int patientCode, QList<Value>& row)
{
    namespace awkward = awkwardPatient;
    switch (patientCode) {
    case awkward::emptyBirthDate:
        row[4] = null();
        break;
    case awkward::birthDateWithTime:
        row[4] = wallClock(QDate(1975, 3, 12), QTime(14, 30));
        break;
    case awkward::bornBeforeZeroDay:
        row[4] = wallClock(QDate(1890, 5, 2));
        break;
    case awkward::bornOnZeroDay:
        row[4] = zeroDay();
        break;
    case awkward::longFileNumber:
        row[5] = QStringLiteral("DOSSIER-2019-123");
        break;
    case awkward::floorAndBuilding:
        row[13] = QStringLiteral("1 rue X");
        row[14] = QStringLiteral("3");
        row[15] = QStringLiteral("A12");
        break;
    case awkward::insuredFirstNameOnly:
        row[19] = QStringLiteral("  ");
        row[20] = QStringLiteral("Jean");
        break;
    case awkward::longMemo:
        row[21] = repeatToLength(QStringLiteral("Antécédents familiaux chargés, suivi cardiologique annuel. "), 70000);
        break;
    case awkward::deleted:
        row[18] = true;
        break;
    case awkward::unknownCivilityAndSex:
        row[6] = code(0);
        row[7] = code(3);
        break;
    case awkward::unknownCorrespondent:
        row[23] = code(correspondentCount_ + 500);
        break;
    case awkward::emptyTexts:
        for (int column : {5, 8, 9, 10, 11, 12, 15, 19, 20})
            row[column] = QString();
        row[14] = QStringLiteral("   ");
        row[21] = QStringLiteral("   ");
        break;
    default:
        break;
    }
}

} // namespace p1::sample
