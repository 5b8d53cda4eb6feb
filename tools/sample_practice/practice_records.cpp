#include "tools/sample_practice/practice_writer.h"

#include "common/date_time.h"

#include <QFile>

#include <stdexcept>

namespace p1::sample {

namespace {

const QDate firstRecord(1998, 1, 1);
const QDate lastRecord(2024, 6, 30);
constexpr int unknownAntecedent = 999;
constexpr int unknownConsultationType = 42;
constexpr int longNotesLength = 6000;
constexpr int veryLongNotesLength = 70000;

// Rows the import skips for their patient code, one of each kind.
const QList<Value> junkPatientCodes{code(0), null(), code(-2)};

Value recordDate(Draw& draw)
{
    if (draw.percent(10))
        return null();
    const QDate date = draw.dateBetween(firstRecord, lastRecord);
    return draw.percent(5) ? wallClock(date, QTime(draw.between(8, 18), 30)) : wallClock(date);
}

Value consultationNotes(Draw& draw)
{
    const int kind = draw.below(10);
    if (kind < 6)
        return drawNotes(draw, draw.between(1, 4));
    if (kind < 8)
        return null();
    return kind == 8 ? QString() : QStringLiteral("  ");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        throw std::runtime_error(
            QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, file.errorString()).toStdString());
}

} // namespace

void PracticeWriter::writeAntecedents(DatabaseBuilder& v4)
{
    TableBuilder& history = counted(patientAntecedentTable(v4));
    const int labelCount = int(antecedentLabels().size()) + 2;
    int entryCode = 0;
    for (const PatientFacts& patient : patients_) {
        // Stored newest first, so that only the order clause puts a patient's lines in order.
        const int count = drawHistoryLineCount();
        entryCode += count;
        for (int entry = entryCode; entry > entryCode - count; --entry) {
            const Value antecedent = code(draw_.percent(1) ? unknownAntecedent : draw_.between(1, labelCount));
            history.row({code(entry), code(patient.code), antecedent, recordDate(draw_)});
        }
    }
    for (const Value& junk : junkPatientCodes)
        history.row({code(++entryCode), junk, code(1), wallClock(firstRecord)});
}

// The patients without a history draw nothing more; those with one share the lines of all.
int PracticeWriter::drawHistoryLineCount()
{
    const int share = options_.patientsWithHistoryPercent;
    if (share == 100)
        return draw_.around(options_.antecedentsPerPatient);
    if (!draw_.percent(share))
        return 0;
    return draw_.around((options_.antecedentsPerPatient * 100 + share / 2) / share);
}

void PracticeWriter::writeConsultations(DatabaseBuilder& v4)
{
    TableBuilder& consultations = counted(consultationTable(v4));
    TableBuilder& details = counted(consultationDetailTable(v4));
    for (const PatientFacts& patient : patients_) {
        QDateTime lastTime;
        for (int count = draw_.around(options_.consultationsPerPatient); count > 0; --count)
            writeConsultation(consultations, details, patient, lastTime);
    }
    const int patientCode = patients_.isEmpty() ? 1 : patients_.first().code;
    const qint64 next = consultations.rowCount() + 1;
    consultations.row({code(next), code(patientCode), null(), code(1), code(1), QStringLiteral("Consultation sans date")});
    consultations.row({code(next + 1), code(patientCode), wallClock(QDate(2010, 4, 1), QTime(9, 0)), code(1), code(1),
                       repeatToLength(QStringLiteral("Bilan complet, résultats joints. "), longNotesLength)});
    consultations.row({code(next + 2), code(patientCode), wallClock(QDate(2011, 4, 1), QTime(9, 0)), code(1), code(1),
                       repeatToLength(QStringLiteral("Compte rendu d’hospitalisation recopié : "), veryLongNotesLength)});
    for (qsizetype i = 0; i < junkPatientCodes.size(); ++i)
        consultations.row({code(next + 3 + i), junkPatientCodes[i], wallClock(QDate(2012, 1, 2)), code(1), code(1), null()});
}

void PracticeWriter::writeConsultation(TableBuilder& consultations, TableBuilder& details, const PatientFacts& patient,
                                       QDateTime& lastTime)
{
    // Some consultations share their date-time with the previous one of the patient (they are
    // merged), some fall on the same day at another time (they are not).
    QDateTime time = draw_.consultationTime(firstRecord, lastRecord);
    if (lastTime.isValid() && draw_.percent(options_.sameTimeConsultationPercent))
        time = lastTime;
    else if (lastTime.isValid() && draw_.percent(4))
        time = QDateTime(lastTime.date(), QTime(7, 45), Qt::UTC);
    lastTime = time;
    Value type = code(draw_.between(1, int(consultationTypes().size())));
    if (draw_.percent(3))
        type = draw_.percent(50) ? null() : code(unknownConsultationType);
    const int consultationCode = int(consultations.rowCount()) + 1;
    consultations.row({code(consultationCode), code(patient.code), time, draw_.percent(3) ? null() : code(drawPhysician()),
                       type, consultationNotes(draw_)});
    writeDetailLines(details, consultationCode);
}

void PracticeWriter::writeDetailLines(TableBuilder& details, int consultationCode)
{
    const int count = draw_.around(options_.detailLinesPerConsultation);
    const bool reversed = draw_.percent(20);
    for (int i = 0; i < count; ++i) {
        const int order = reversed ? count - i : i + 1;
        const Value text = draw_.percent(5) ? Value(QStringLiteral("   ")) : Value(draw_.pick(detailLines()));
        const Value level = draw_.percent(5) ? null() : code(draw_.below(3));
        details.row({code(consultationCode), code(order), text, level});
    }
}

void PracticeWriter::writeLetters(DatabaseBuilder& v4)
{
    TableBuilder& letters = counted(letterTable(v4));
    for (const PatientFacts& patient : patients_) {
        for (int n = 0; n < options_.lettersPerPatient; ++n) {
            const int letterCode = int(letters.rowCount()) + 1;
            const QDateTime date = draw_.consultationTime(firstRecord, lastRecord);
            const QString title = draw_.pick(letterTitles());
            const LetterFile file = letterFile(letterCode, date.date());
            letters.row({code(letterCode), code(patient.code), date, title, file.stored});
            writeFile(lettersFolder_.filePath(file.onDisk), letterRtf(title, patient.name, date.date()));
        }
    }
    if (options_.lettersPerPatient == 0 || patients_.isEmpty())
        return;
    // A letter whose file is gone, one in another format, and one sharing the first one's file.
    const PatientFacts& patient = patients_.first();
    const QDateTime date = wallClock(QDate(2015, 6, 1), QTime(10, 0));
    qint64 next = letters.rowCount() + 1;
    letters.row({code(next), code(patient.code), date, QStringLiteral("Courrier perdu"),
                 QStringLiteral("Perdu_%1.rtf").arg(next)});
    const QString wordName = QStringLiteral("Courrier_%1.doc").arg(++next);
    letters.row({code(next), code(patient.code), date, QStringLiteral("Courrier Word"), wordName});
    writeFile(lettersFolder_.filePath(wordName), "Word document");
    letters.row({code(++next), code(patient.code), date, QStringLiteral("Copie"), letterFile(1, date.date()).stored});
    for (const Value& junk : junkPatientCodes)
        letters.row({code(++next), junk, date, QStringLiteral("Sans patient"), QStringLiteral("Courrier_%1.rtf").arg(next)});
}

// Windows names as the source product stored them: with or without extension, in another
// letter case than the file, or in a yearly sub-folder.
PracticeWriter::LetterFile PracticeWriter::letterFile(int letterCode, const QDate& date)
{
    const QString base = QStringLiteral("Courrier_%1").arg(letterCode);
    switch (letterCode % 10) {
    case 3:
        return {base, base + ".RTF"};
    case 6:
        return {base.toUpper() + ".RTF", base + ".rtf"};
    case 8: {
        const QString year = QString::number(date.year());
        lettersFolder_.mkpath(year);
        return {year + '\\' + base + ".RTF", year + '/' + base + ".RTF"};
    }
    default:
        return {base + ".rtf", base + ".rtf"};
    }
}

void PracticeWriter::writePrescriptions(DatabaseBuilder& ordo)
{
    TableBuilder& prescriptions = counted(prescriptionTable(ordo));
    TableBuilder& items = counted(prescriptionItemTable(ordo));
    for (const PatientFacts& patient : patients_) {
        QDateTime lastTime;
        for (int count = draw_.around(options_.prescriptionsPerPatient); count > 0; --count) {
            // Some prescriptions fall on the day of the patient's previous one: they share a row.
            QDateTime time = draw_.consultationTime(firstRecord, lastRecord);
            if (lastTime.isValid() && draw_.percent(options_.sameDayPrescriptionPercent))
                time = QDateTime(lastTime.date(), QTime(18, 45), Qt::UTC);
            lastTime = time;
            const int prescriptionCode = int(prescriptions.rowCount()) + 1;
            prescriptions.row({code(prescriptionCode), code(patient.code), code(drawPhysician()), time,
                               time.addSecs(60 * draw_.between(1, 30))});
            writePrescriptionItems(items, prescriptionCode, drawItemCount());
        }
    }
    // One prescription without items, one without a consultation date, one with odd items.
    const int patientCode = patients_.isEmpty() ? 1 : patients_.first().code;
    const QDateTime date = wallClock(QDate(2016, 3, 3), QTime(11, 0));
    qint64 next = prescriptions.rowCount() + 1;
    prescriptions.row({code(next), code(patientCode), code(1), date, date});
    prescriptions.row({code(++next), code(patientCode), code(1), null(), date});
    writePrescriptionItems(items, int(next), 1);
    prescriptions.row({code(++next), code(patientCode), code(2), date.addDays(1), date.addDays(1)});
    items.row({code(next), code(1), QString(), QStringLiteral("1 cp le soir"), null(), null()});
    items.row({code(next), code(2), QStringLiteral("  "), QStringLiteral(" "), QString(), QStringLiteral("   ")});
    for (const Value& junk : junkPatientCodes)
        prescriptions.row({code(++next), junk, code(1), date, date});
}

// 1 to 2 x mean - 1 items: every prescription has one.
int PracticeWriter::drawItemCount()
{
    return draw_.between(1, 2 * options_.itemsPerPrescription - 1);
}

void PracticeWriter::writePrescriptionItems(TableBuilder& items, int prescriptionCode, int count)
{
    const bool reversed = draw_.percent(20);
    for (int i = 0; i < count; ++i) {
        const int order = reversed ? count - i : i + 1;
        const QString name = draw_.pick(medicines());
        const Value dosage = draw_.percent(10) ? null() : Value(draw_.pick(dosages()));
        const Value remark = draw_.percent(90) ? null() : Value(QStringLiteral("Non substituable"));
        Value comment = null();
        if (draw_.percent(10))
            comment = draw_.percent(50) ? QStringLiteral("Pendant 7 jours") : QStringLiteral("À renouveler 3 fois");
        else if (draw_.percent(5))
            comment = QStringLiteral("  ");
        items.row({code(prescriptionCode), code(order), name, dosage, remark, comment});
    }
}

} // namespace p1::sample
