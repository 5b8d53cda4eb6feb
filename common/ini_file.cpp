#include "common/ini_file.h"

#include "common/text_encoding.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace p1 {

namespace {

// Windows drops one pair of matching quotes around a value.
QString withoutQuotes(const QString& value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
                        && value.back() == value.front();
    return quoted ? value.mid(1, value.size() - 2) : value;
}

} // namespace

IniFile::IniFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString text = decodeSettingsText(file.readAll());
    Section* current = nullptr;
    for (QString line : text.split(QRegularExpression("\r\n|\r|\n"))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const QString name = line.mid(1, line.indexOf(']') - 1).trimmed();
            // Windows reads only the first section of a name; later ones are ignored.
            current = nullptr;
            if (findSection(name) == nullptr) {
                sections_.append({name, {}});
                current = &sections_.last();
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (current == nullptr || equals < 0)
            continue;
        current->entries.append({line.left(equals).trimmed(), withoutQuotes(line.mid(equals + 1).trimmed())});
    }
}

const IniFile::Section* IniFile::findSection(const QString& name) const
{
    for (const Section& section : sections_) {
        if (section.name.compare(name, Qt::CaseInsensitive) == 0)
            return &section;
    }
    return nullptr;
}

bool IniFile::hasSection(const QString& section) const
{
    return findSection(section) != nullptr;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList names;
    if (const Section* found = findSection(section)) {
        for (const Entry& entry : found->entries) {
            const bool repeated = std::any_of(names.cbegin(), names.cend(), [&](const QString& n) {
                return n.compare(entry.key, Qt::CaseInsensitive) == 0;
            });
            if (!repeated)
                names.append(entry.key);
        }
    }
    return names;
}

QString IniFile::value(const QString& section, const QString& key, const QString& defaultValue) const
{
    if (const Section* found = findSection(section)) {
        for (const Entry& entry : found->entries) {
            if (entry.key.compare(key, Qt::CaseInsensitive) == 0)
                return entry.value;
        }
    }
    return defaultValue;
}

} // namespace p1
