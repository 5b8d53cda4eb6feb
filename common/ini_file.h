#pragma once

#include <QString>
#include <QStringList>

namespace p1 {

// A settings file read with Windows profile semantics: section and key names matched without
// regard to case, keys of a section in file order, the first occurrence of a key wins, values
// trimmed, backslashes kept as they are. A missing file reads as empty.
class IniFile {
public:
    explicit IniFile(const QString& path);

    bool hasSection(const QString& section) const;
    QStringList keys(const QString& section) const;
    QString value(const QString& section, const QString& key, const QString& defaultValue = {}) const;

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };
    const Section* findSection(const QString& name) const;

    QList<Section> sections_;
};

} // namespace p1
