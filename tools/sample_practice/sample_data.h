#pragma once

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace p1::sample {

// Seeded draws: the same seed gives the same practice on every machine.
class Draw {
public:
    explicit Draw(unsigned seed) : generator_(seed) {}

    int below(int bound) { return bound <= 0 ? 0 : int(generator_.bounded(bound)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool percent(int chance) { return below(100) < chance; }
    const QString& pick(const QStringList& choices) { return choices[below(int(choices.size()))]; }
    // A count around the given mean: 0 .. 2 x mean.
    int around(int mean) { return below(2 * mean + 1); }

    QDate dateBetween(const QDate& first, const QDate& last);
    // Office hours, to the quarter of an hour.
    QDateTime consultationTime(const QDate& first, const QDate& last);

private:
    QRandomGenerator generator_;
};

struct Person {
    QString surname;
    QString firstName;
    bool female = false;
};

struct Town {
    QString postCode;
    QString name;
};

Person drawPerson(Draw& draw);
QString drawSurname(Draw& draw);
Town drawTown(Draw& draw);
QString drawStreet(Draw& draw);
// Phone numbers typed in every way a practice types them.
QString drawPhone(Draw& draw);
QString drawInsuranceNumber(Draw& draw, bool female, const QDate& birth);
// A few lines of clinical notes, lines ended by CR LF as the source product writes them.
QString drawNotes(Draw& draw, int sentences);
QString repeatToLength(const QString& text, int length);

// A small RTF letter in the Windows-1252 escapes a word processor writes.
QByteArray letterRtf(const QString& title, const QString& patient, const QDate& date);

const QStringList& specialties();
const QStringList& functions();
const QStringList& professions();
const QStringList& civilities();
const QStringList& antecedentLabels();
const QStringList& consultationTypes();
const QStringList& detailLines();
const QStringList& letterTitles();
const QStringList& medicines();
const QStringList& dosages();

} // namespace p1::sample
