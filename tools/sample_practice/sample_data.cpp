#include "tools/sample_practice/sample_data.h"

namespace p1::sample {

namespace {

const QStringList surnames{
    "Martin", "Bernard", "Dubois", "Thomas", "Robert", "Richard", "Petit", "Durand", "Leroy",
    "Moreau", "Simon", "Laurent", "Lefèvre", "Michel", "Garcia", "David", "Bertrand", "Roux",
    "Vincent", "Fournier", "Morel", "Girard", "André", "Lefebvre", "Mercier", "Dupont", "Lambert",
    "Bonnet", "François", "Martinez", "Legrand", "Garnier", "Faure", "Rousseau", "Blanc", "Guérin",
    "Muller", "Henry", "Roussel", "Nicolas", "Perrin", "Morin", "Mathieu", "Clément", "Gauthier",
    "Dumont", "Lopez", "Fontaine", "Chevalier", "Robin", "Masson", "Sanchez", "Gérard", "Nguyen",
    "Boyer", "Denis", "Lemaire", "Duval", "Joly", "Gautier", "Roger", "Roche", "Roy", "Noël",
    "Meyer", "Lucas", "Meunier", "Jean", "Pérez", "Marchand", "Dufour", "Blanchard", "Marie",
    "Barbier", "Brun", "Dumas", "Brunet", "Schmitt", "Leroux", "Colin", "Fernandez", "Pierre",
    "Renard", "Arnaud", "Rolland", "Caron", "Aubert", "Giraud", "Leclerc", "Vidal", "Bourgeois",
    "Renaud", "Lemoine", "Picard", "Gaillard", "Philippe", "Leclercq", "Lacroix", "Fabre", "Dupuis",
    "Olivier", "Rodriguez", "Da Silva", "Hubert", "Louis", "Charles", "Guillot", "Rivière", "Le Gall",
    "Guillaume", "Adam", "Rey", "Moulin", "Gonzalez", "Berger", "Lecomte", "Ménard", "Fleury",
    "Deschamps", "Carpentier", "Julien", "Benoît", "Paris", "Maillard", "Marchal", "Aubry", "Vasseur",
    "Le Roux", "Renault", "Jacquet", "Collet", "Prévost", "Poirier", "Charpentier", "Royer", "Huet",
    "Baron", "Dupuy", "Pons", "Paul", "Laine", "Carré", "Breton", "Rémy", "Schneider", "Perrot",
    "Guyot", "Barré", "Marty", "Cousin", "Lœuillet", "Bœuf", "D’Almeida", "N’Diaye", "Œttinger",
};

const QStringList womenFirstNames{
    "Marie", "Nathalie", "Isabelle", "Sylvie", "Catherine", "Françoise", "Valérie", "Christine",
    "Sandrine", "Sophie", "Céline", "Stéphanie", "Véronique", "Hélène", "Élodie", "Julie", "Aurélie",
    "Émilie", "Chloé", "Léa", "Manon", "Camille", "Inès", "Zoé", "Anaïs", "Clémence", "Maëlys",
    "Noémie", "Agnès", "Geneviève", "Bérénice", "Laëtitia", "Thérèse", "Josée", "Anne-Sophie",
};

const QStringList menFirstNames{
    "Jean", "Philippe", "Michel", "Alain", "Patrick", "Nicolas", "Christophe", "Pierre", "Christian",
    "Éric", "Frédéric", "Laurent", "Stéphane", "David", "Pascal", "Daniel", "Sébastien", "Julien",
    "Thierry", "Olivier", "Bernard", "Jérôme", "Thomas", "Hugo", "Lucas", "Théo", "Noé", "Raphaël",
    "Gaël", "Loïc", "Benoît", "François", "Jean-Loup", "Anaël", "Joël",
};

const QList<Town> towns{
    {"75011", "Paris"},         {"75015", "Paris"},          {"69003", "Lyon"},
    {"13008", "Marseille"},     {"31000", "Toulouse"},       {"06000", "Nice"},
    {"44000", "Nantes"},        {"67000", "Strasbourg"},     {"34000", "Montpellier"},
    {"33000", "Bordeaux"},      {"59000", "Lille"},          {"35000", "Rennes"},
    {"51100", "Reims"},         {"76600", "Le Havre"},       {"42000", "Saint-Étienne"},
    {"83000", "Toulon"},        {"38000", "Grenoble"},       {"21000", "Dijon"},
    {"49000", "Angers"},        {"25000", "Besançon"},       {"87000", "Limoges"},
    {"97400", "Saint-Denis"},   {"2A000", "Ajaccio"},        {"64200", "Biarritz"},
    {"74000", "Annecy"},        {"29200", "Brest"},          {"57000", "Metz"},
    {"80000", "Amiens"},        {"18000", "Bourges"},        {"73000", "Chambéry"},
};

const QStringList streetKinds{"rue", "avenue", "boulevard", "place", "impasse", "chemin", "allée", "route", "quai"};

const QStringList streetNames{
    "des Lilas", "Victor-Hugo", "de la République", "Jean-Jaurès", "des Écoles", "du Général-de-Gaulle",
    "Pasteur", "de la Gare", "des Vignes", "de l’Église", "Saint-Honoré", "des Tilleuls", "du Moulin",
    "de Paris", "Émile-Zola", "des Peupliers", "de la Paix", "Gambetta", "du Château", "Sainte-Thérèse",
};

const QStringList notesWords{
    "tension", "stable", "fatigue", "toux", "douleur", "lombalgie", "amélioration", "traitement",
    "auscultation", "libre", "contrôle", "vaccin", "régime", "sport", "rhinopharyngite", "fièvre",
    "échographie", "ECG", "bilan", "sanguin", "prescrit", "arrêt", "travail", "jours", "œdème",
    "genou", "épaule", "sommeil", "anxiété", "suivi", "semaine", "matin", "soir", "persistante",
};

} // namespace

QDate Draw::dateBetween(const QDate& first, const QDate& last)
{
    return first.addDays(below(int(first.daysTo(last)) + 1));
}

QDateTime Draw::consultationTime(const QDate& first, const QDate& last)
{
    return QDateTime(dateBetween(first, last), QTime(between(8, 19), 15 * below(4)), Qt::UTC);
}

Person drawPerson(Draw& draw)
{
    const bool female = draw.percent(52);
    return {drawSurname(draw), draw.pick(female ? womenFirstNames : menFirstNames), female};
}

QString drawSurname(Draw& draw)
{
    return draw.pick(surnames);
}

Town drawTown(Draw& draw)
{
    return towns[draw.below(int(towns.size()))];
}

QString drawStreet(Draw& draw)
{
    QString number = QString::number(draw.between(1, 180));
    if (draw.percent(8))
        number += draw.percent(50) ? " bis" : " ter";
    const QString kind = draw.pick(streetKinds);
    return QStringLiteral("%1 %2 %3").arg(number, kind, draw.pick(streetNames));
}

QString drawPhone(Draw& draw)
{
    QStringList pairs{draw.percent(40) ? "06" : QStringLiteral("0%1").arg(draw.between(1, 7))};
    for (int i = 0; i < 4; ++i)
        pairs.append(QStringLiteral("%1").arg(draw.below(100), 2, 10, QLatin1Char('0')));
    switch (draw.below(7)) {
    case 0:
        return pairs.join('.');
    case 1:
        return pairs.join('-');
    case 2:
        return pairs.join(QString());
    case 3:
        return "+33 " + pairs.join(' ').mid(1);
    case 4:
        return pairs.join(' ') + ' ';
    default:
        return pairs.join(' ');
    }
}

QString drawInsuranceNumber(Draw& draw, bool female, const QDate& birth)
{
    const QString sex = female ? "2" : "1";
    const QString year = QStringLiteral("%1").arg(birth.year() % 100, 2, 10, QLatin1Char('0'));
    const QString month = QStringLiteral("%1").arg(birth.month(), 2, 10, QLatin1Char('0'));
    const QString place = QStringLiteral("%1 %2 %3")
                              .arg(draw.between(1, 95), 2, 10, QLatin1Char('0'))
                              .arg(draw.between(1, 999), 3, 10, QLatin1Char('0'))
                              .arg(draw.between(1, 999), 3, 10, QLatin1Char('0'));
    const QString key = QStringLiteral("%1").arg(draw.between(1, 97), 2, 10, QLatin1Char('0'));
    const QString spaced = QStringList{sex, year, month, place, key}.join(' ');
    switch (draw.below(4)) {
    case 0:
        return QString(spaced).remove(' ');
    case 1:
        return QString(spaced).replace(' ', '.');
    case 2:
        return QString(spaced).remove(' ').left(13);
    default:
        return spaced;
    }
}

QString drawNotes(Draw& draw, int sentences)
{
    QStringList lines;
    for (int s = 0; s < sentences; ++s) {
        QStringList words;
        const int count = draw.between(4, 12);
        for (int w = 0; w < count; ++w)
            words.append(draw.pick(notesWords));
        words[0][0] = words[0][0].toUpper();
        lines.append(words.join(' ') + '.');
    }
    return lines.join("\r\n");
}

QString repeatToLength(const QString& text, int length)
{
    QString result;
    result.reserve(length);
    while (result.size() < length)
        result += text;
    result.truncate(length);
    return result;
}

namespace {

// RTF keeps 7-bit text: Latin-1 characters become \'xx, the others \uN? with a fallback.
QByteArray rtfText(const QString& text)
{
    QByteArray out;
    for (QChar ch : text) {
        const ushort code = ch.unicode();
        if (code < 0x80 && ch != '\\' && ch != '{' && ch != '}')
            out.append(char(code));
        else if (code < 0x100)
            out.append(QStringLiteral("\\'%1").arg(code, 2, 16, QLatin1Char('0')).toLatin1());
        else
            out.append(QStringLiteral("\\u%1?").arg(qint16(code)).toLatin1());
    }
    return out;
}

} // namespace

QByteArray letterRtf(const QString& title, const QString& patient, const QDate& date)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\r\n"
                     "\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    rtf += rtfText(QStringLiteral("Le %1").arg(date.toString("dd/MM/yyyy"))) + "\\par\r\n\\par\r\n";
    rtf += "\\b " + rtfText(title) + "\\b0\\par\r\n\\par\r\n";
    rtf += rtfText(QStringLiteral("Cher confrère,")) + "\\par\r\n";
    rtf += rtfText(QStringLiteral("Je vous adresse %1 pour avis. Bien confraternellement.").arg(patient));
    rtf += "\\par\r\n}\r\n";
    return rtf;
}

const QStringList& specialties()
{
    static const QStringList list{
        "Médecine générale", " Cardiologie ", "Pédiatrie", "Dermatologie", "Gynécologie",
        "Rhumatologie", "Psychiatrie", "Ophtalmologie", "Endocrinologie", "Gériatrie",
    };
    return list;
}

const QStringList& functions()
{
    static const QStringList list{
        "Cardiologue", " Pédiatre ", "Kinésithérapeute", "Radiologue", "Laboratoire d’analyses",
        "Infirmier(ère)", "Dentiste", "Pharmacien", "Ophtalmologiste", "Ostéopathe", "Dermatologue",
        "Gynécologue", "Hôpital",
    };
    return list;
}

const QStringList& professions()
{
    static const QStringList list{
        "Agriculteur", "Artisan", "Commerçant", "Cadre", "Enseignant", "Employé de bureau", "Ouvrier",
        "Retraité", "Étudiant", "Sans profession", "Infirmière", "Chauffeur routier", "Boulanger",
        "Ingénieur", "Secrétaire", "Aide-soignante", "Comptable", "Maçon", "Coiffeuse", " Policier ",
    };
    return list;
}

const QStringList& civilities()
{
    static const QStringList list{"Monsieur", "Madame", "Enfant", "Mademoiselle", "Docteur"};
    return list;
}

const QStringList& antecedentLabels()
{
    static const QStringList list = [] {
        const QStringList base{
            "Asthme", "Diabète de type 2", "Hypertension artérielle", "Appendicectomie",
            "Cholécystectomie", "Fracture du poignet", "Infarctus du myocarde", "Migraine",
            "Allergie à la pénicilline", "Eczéma ancien", "Hypothyroïdie", "Dépression",
            "Cancer du sein", "Cancer de la prostate", "Anémie ferriprive", "Varices",
            "Tuberculose ancienne", "Amygdalectomie", "Hernie inguinale", "Glaucome",
            "Maladie de Crohn", "Lombalgie chronique", "Arthrose du genou", "Œsophagite",
            "BPCO", "Épilepsie", "Insuffisance rénale", "Psoriasis", "Goutte", "AVC",
        };
        QStringList labels;
        for (const QString& label : base)
            labels << label << label + " (père)" << label + " (mère)";
        return labels;
    }();
    return list;
}

const QStringList& consultationTypes()
{
    static const QStringList list{
        "Consultation", "Visite à domicile", "Téléconsultation", "Urgence", "Certificat",
        "Vaccination", "Renouvellement", "Suivi", "   ",
    };
    return list;
}

const QStringList& detailLines()
{
    static const QStringList list{
        "Poids : 72 kg", "Taille : 189 cm", "TA : 13/8", "T° : 37,7", "Pouls : 72/min",
        "Saturation : 94 %", "Examen clinique", "Auscultation cardiaque normale", "Abdomen souple",
        "Glycémie : 1,05 g/l", "IMC : 24,3", "Conclusion", "Revoir dans 3 mois", "ECG : RAS",
    };
    return list;
}

const QStringList& letterTitles()
{
    static const QStringList list{
        "Courrier au cardiologue", "Demande d'avis", "Certificat médical",
        "Certificat de non contre-indication au sport", "Compte rendu de consultation",
        "Lettre de liaison", "Demande d’examen radiologique", "Arrêt de travail",
    };
    return list;
}

const QStringList& medicines()
{
    static const QStringList list{
        "DOLIPRANE 1000 mg cp", "AMOXICILLINE 1 g cp", "RAMIPRIL 5 mg cp", "ATARAX 25 mg cp",
        "SPASFON LYOC 80 mg", "VENTOLINE 100 µg susp inhal", "METFORMINE 850 mg cp",
        "LEVOTHYROX 75 µg cp", "IBUPROFÈNE 400 mg cp", "KARDÉGIC 75 mg sachet",
        "Prise de sang : NFS, CRP, ionogramme", "Séances de kinésithérapie x 10",
        "Radiographie du thorax face", "Semelles orthopédiques",
    };
    return list;
}

const QStringList& dosages()
{
    static const QStringList list{
        "1 cp matin, midi et soir", "1 cp le soir", "2 bouffées si besoin", "1 sachet par jour",
        "1 cuillère à café 3 fois par jour", "selon prescription", "1 cp toutes les 6 heures",
    };
    return list;
}

} // namespace p1::sample
