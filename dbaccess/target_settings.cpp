#include "dbaccess/target_settings.h"

#include "common/connection_strings.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/text_encoding.h"

namespace p1 {

namespace {

// The key the target's own tools scramble SAPW with. Only its first 31 characters take part.
constexpr char serverPasswordKey[] = "q8#Lf2Zr!Vn6$Tb0&Wm4*Hx9@Kc3^Pd7";
static_assert(sizeof(serverPasswordKey) - 1 == 32, "the server password key has 32 characters");

const QString settingsSection = QStringLiteral("DBKERNEL");
const QString unreadablePassword = QStringLiteral("_");

bool isScrambledDigit(QChar character)
{
    return character >= QLatin1Char('0') && character <= QLatin1Char('F');
}

int keyByteAt(int position)
{
    const int index = position % 32;
    return index == 0 ? 0 : static_cast<unsigned char>(serverPasswordKey[index - 1]);
}

QStringList lockFiles()
{
    const QString folder = EnsureTrailingBackslash(programFolder());
    QStringList files = {folder + "PDOXUSRS.LCK", folder + "PARADOX.LCK", folder + "PDOXUSRS.NET"};
#ifdef Q_OS_WIN
    files << "C:\\PDOXUSRS.LCK" << "C:\\PARADOX.LCK" << "C:\\PDOXUSRS.NET";
#endif
    return files;
}

} // namespace

TargetConnectionSettings TargetConnectionSettings::read(const QString& settingsFile)
{
    const IniFile ini(settingsFile);
    TargetConnectionSettings settings;
    settings.DatabaseName = ini.value(settingsSection, QStringLiteral("DatabaseName"));
    settings.ServerName = ini.value(settingsSection, QStringLiteral("ServerName"));
    settings.UserName = ini.value(settingsSection, QStringLiteral("UserName"), settings.UserName);
    settings.SAPW = ini.value(settingsSection, QStringLiteral("SAPW"));
    return settings;
}

QString targetSettingsProblem(const QString& settingsFile)
{
    if (!fileExists(settingsFile))
        return "Le fichier [" + settingsFile + "] n'existe pas.";
    const IniFile ini(settingsFile);
    if (!ini.hasSection(settingsSection))
        return "Le fichier [" + settingsFile + "] n'a pas de section [" + settingsSection + "].";
    for (const QString& key : {QStringLiteral("DatabaseName"), QStringLiteral("ServerName")}) {
        if (ini.value(settingsSection, key).isEmpty())
            return "La clé " + key + " de la section [" + settingsSection + "] du fichier [" + settingsFile
                   + "] est absente ou vide.";
    }
    return {};
}

QString UnscrambleServerPassword(const QString& stored)
{
    if (stored.size() % 2 != 0)
        return unreadablePassword;
    QByteArray password;
    for (int pair = 0; pair < stored.size() / 2; ++pair) {
        const QString digits = stored.mid(pair * 2, 2);
        if (!isScrambledDigit(digits[0]) || !isScrambledDigit(digits[1]))
            return unreadablePassword;
        password += char(static_cast<int>(ParseHex(digits)) ^ keyByteAt(pair + 1));
    }
    // The target's tools run on Windows: the bytes are characters of its single-byte set.
    return fromWindows1252(password);
}

QString ScrambleServerPassword(const QString& password)
{
    const QByteArray clear = toWindows1252(password);
    QString stored;
    for (int place = 0; place < clear.size(); ++place) {
        const int scrambled = static_cast<unsigned char>(clear[place]) ^ keyByteAt(place + 1);
        stored += QStringLiteral("%1").arg(scrambled, 2, 16, QLatin1Char('0')).toUpper();
    }
    return stored;
}

qint64 ParseHex(const QString& text)
{
    static const QString hexDigits = QStringLiteral("0123456789ABCDEF");
    // Unsigned arithmetic wraps on texts longer than sixteen digits instead of overflowing.
    quint64 value = 0;
    quint64 weight = 1;
    for (qsizetype index = text.size() - 1; index >= 0; --index) {
        const qsizetype place = hexDigits.indexOf(text[index].toUpper());
        if (place >= 0)
            value += quint64(place) * weight;
        weight *= 16;
    }
    return qint64(value);
}

QString targetConnectionString(const TargetConnectionSettings& settings, const QString& password)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;")
           + "Data Source=" + connectionStringValue(settings.ServerName)
           + ";Initial Catalog=" + connectionStringValue(settings.DatabaseName)
           + ";User ID=" + connectionStringValue(settings.UserName)
           + ";Password=" + connectionStringValue(password) + ";";
}

void deleteLockFiles()
{
    for (const QString& file : lockFiles())
        DeleteFileIfExists(file);
}

bool openTargetConnection(TargetConnection& connection, OperatorUi& ui, const QString& targetFolder)
{
    const auto settings =
        TargetConnectionSettings::read(resolveWindowsName(targetFolder, QStringLiteral("Kelvanor.ver")));
    const QString password = UnscrambleServerPassword(settings.SAPW);
    deleteLockFiles();
    if (settings.DatabaseName.isEmpty() || settings.ServerName.isEmpty())
        return false;
    connection.setConnectionString(targetConnectionString(settings, password));
    connection.setBaseFolder(targetFolder);
    try {
        connection.open();
        return connection.isOpen();
    } catch (const std::exception& error) {
        ui.showError(QStringLiteral("Erreur lors de la connexion à la base de données Tessaris : ") + "\r"
                     + errorMessage(error));
        return false;
    }
}

} // namespace p1
