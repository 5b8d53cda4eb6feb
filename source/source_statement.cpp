#include "source/source_statement.h"

#include "common/errors.h"
#include "source/source_copy.h"

#include <QList>
#include <QSet>

#include <algorithm>

namespace p1 {

namespace {

struct Token {
    enum Kind { Name, Keyword, Verbatim };
    Kind kind;
    QString text; // a name without its brackets
};

bool isWordCharacter(QChar character)
{
    return character.isLetterOrNumber() || character == QLatin1Char('_');
}

bool isKeyword(const QString& word)
{
    static const QSet<QString> keywords = {
        "select", "from", "where", "order", "by", "and", "or", "not", "asc", "desc", "is",
        "null", "like", "in", "between", "distinct", "true", "false",
    };
    return keywords.contains(word.toLower());
}

[[noreturn]] void unsupported(const QString& text)
{
    throw SourceError(QStringLiteral("La requête [%1] n'est pas une lecture de table reconnue.")
                          .arg(text.simplified()));
}

int endOfQuoted(const QString& text, int start, QChar closing)
{
    const int end = text.indexOf(closing, start + 1);
    if (end < 0)
        unsupported(text);
    return end + 1;
}

QList<Token> tokenize(const QString& text)
{
    QList<Token> tokens;
    for (int at = 0; at < text.size();) {
        const QChar character = text[at];
        int end = at + 1;
        if (character == QLatin1Char('[')) {
            end = endOfQuoted(text, at, QLatin1Char(']'));
            tokens.append({Token::Name, text.mid(at + 1, end - at - 2)});
        } else if (character == QLatin1Char('\'') || character == QLatin1Char('"')) {
            end = endOfQuoted(text, at, character);
            tokens.append({Token::Verbatim, text.mid(at, end - at)});
        } else if (isWordCharacter(character) || character == QLatin1Char(':')) {
            while (end < text.size() && isWordCharacter(text[end]))
                ++end;
            const QString word = text.mid(at, end - at);
            const bool verbatim = character == QLatin1Char(':') || character.isDigit();
            tokens.append({verbatim ? Token::Verbatim : isKeyword(word) ? Token::Keyword : Token::Name, word});
        } else {
            tokens.append({Token::Verbatim, QString(character)});
        }
        at = end;
    }
    return tokens;
}

bool isKeyword(const Token& token, const char* keyword)
{
    return token.kind == Token::Keyword && token.text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

int skipBlanks(const QList<Token>& tokens, int index)
{
    while (index < tokens.size() && tokens[index].text.trimmed().isEmpty())
        ++index;
    return index;
}

int tableTokenIndex(const QList<Token>& tokens, const QString& text)
{
    int index = skipBlanks(tokens, 0);
    if (index == tokens.size() || !isKeyword(tokens[index], "select"))
        unsupported(text);
    while (index < tokens.size() && !isKeyword(tokens[index], "from"))
        ++index;
    index = skipBlanks(tokens, index + 1);
    if (index >= tokens.size() || tokens[index].kind != Token::Name)
        unsupported(text);
    return index;
}

// Rows that tie on the written order keep their physical order, so that a run reads the same
// rows in the same order every time.
QString physicalOrderName(const QStringList& columns)
{
    for (const char* name : {"rowid", "_rowid_", "oid"})
        if (!columns.contains(QLatin1String(name), Qt::CaseInsensitive))
            return QLatin1String(name);
    return QStringLiteral("rowid");
}

QString withoutClosingSemicolon(const QString& sql)
{
    QString text = sql.trimmed();
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text;
}

} // namespace

CopyStatement translateStatement(const QString& text, const TableLookup& lookup)
{
    const QList<Token> tokens = tokenize(text);
    const int tableIndex = tableTokenIndex(tokens, text);
    const StatementTable table = lookup(tokens[tableIndex].text);

    CopyStatement statement;
    statement.table = table.name;
    bool inFilter = false;
    bool inOrder = false;
    bool ordered = false;
    for (int i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (isKeyword(token, "where")) {
            inFilter = true;
        } else if (isKeyword(token, "order") && !ordered) {
            inFilter = false;
            inOrder = true;
            ordered = true;
            statement.unorderedSql = statement.sql;
        }
        if (token.kind != Token::Name) {
            statement.sql += token.text;
            continue;
        }
        if (i == tableIndex) {
            statement.sql += quotedIdentifier(table.name);
            continue;
        }
        const auto column = std::find_if(table.columns.begin(), table.columns.end(), [&](const QString& name) {
            return name.compare(token.text, Qt::CaseInsensitive) == 0;
        });
        if (column == table.columns.end())
            throw SourceError(QStringLiteral("Le champ [%1] n'existe pas dans la table [%2].")
                                  .arg(token.text, table.name));
        statement.sql += quotedIdentifier(*column);
        if (inFilter && !statement.filterColumns.contains(*column))
            statement.filterColumns.append(*column);
        if (inOrder && !statement.orderColumns.contains(*column))
            statement.orderColumns.append(*column);
    }
    // The copy wraps the text (to count its rows): a closing semicolon cannot stay.
    statement.sql = withoutClosingSemicolon(statement.sql);
    statement.unorderedSql = ordered ? statement.unorderedSql.trimmed() : statement.sql;
    if (ordered)
        statement.sql += QStringLiteral(", ") + physicalOrderName(table.columns);
    return statement;
}

} // namespace p1
