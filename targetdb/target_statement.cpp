#include "common/errors.h"
#include "common/locale_texts.h"
#include "targetdb/target_sql.h"
#include "targetdb/target_values.h"

#include <QRegularExpression>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace p1 {

bool TargetField::isNull() const
{
    return !value_.isValid() || value_.isNull();
}

QString TargetField::asText() const
{
    if (isNull())
        return {};
    switch (value_.typeId()) {
    case QMetaType::QDateTime:
    case QMetaType::QDate:
        return dateTimeText(asDateTime());
    case QMetaType::Bool:
        return value_.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return value_.toString();
    }
}

qint64 TargetField::asInteger() const
{
    if (isNull())
        return 0;
    const auto number = valueForColumn(value_, ColumnKind::Integer);
    if (!number)
        throw TargetError(QStringLiteral("La valeur « %1 » n'est pas un nombre entier.").arg(value_.toString()));
    return number->toLongLong();
}

QDateTime TargetField::asDateTime() const
{
    if (isNull())
        return {};
    const auto dateTime = valueForColumn(value_, ColumnKind::DateTime);
    if (!dateTime)
        throw TargetError(QStringLiteral("La valeur « %1 » n'est pas une date.").arg(value_.toString()));
    return dateTime->toDateTime();
}

bool TargetField::asBoolean() const
{
    if (isNull())
        return false;
    const auto flag = valueForColumn(value_, ColumnKind::Boolean);
    if (!flag)
        throw TargetError(QStringLiteral("La valeur « %1 » n'est ni vrai ni faux.").arg(value_.toString()));
    return flag->toBool();
}

struct TargetStatement::Impl {
    TargetConnection& connection;
    QStringList lines;
    StatementParameters parameters;
    QStringList columnNames;
    QList<QList<QVariant>> rows;
    bool open = false;
    int current = 0;

    ParameterisedRun runner;

    explicit Impl(TargetConnection& target) : connection(target) {}
    QSqlQuery& run() { return runner.run(connection, lines.join('\n'), parameters); }
};

// The ":name" parameters a statement text uses ("::" is a PostgreSQL cast, not a parameter).
QStringList parameterNames(const QString& text)
{
    static const QRegularExpression parameter(QStringLiteral(R"((?<![:\w]):(\w+))"));
    QStringList names;
    for (const QRegularExpressionMatch& match : parameter.globalMatch(text)) {
        if (!names.contains(match.captured(1)))
            names.append(match.captured(1));
    }
    return names;
}

void StatementParameters::set(const QString& name, const QVariant& value)
{
    const QString key = name.startsWith(':') ? name.mid(1) : name;
    values_.insert(key.toLower(), value);
}

std::optional<QVariant> StatementParameters::value(const QString& name) const
{
    const auto found = values_.constFind(name.toLower());
    if (found == values_.constEnd())
        return std::nullopt;
    return *found;
}

QSqlQuery& ParameterisedRun::run(TargetConnection& connection, const QString& text,
                                 const StatementParameters& parameters)
{
    QSqlDatabase db = connection.database();
    const QString preparing = db.connectionName() + u'\n' + text;
    if (preparing != preparedFor_) {
        preparedFor_.clear();
        query_ = connection.preparedQuery();
        query_->setForwardOnly(true);
        names_ = parameterNames(text);
        QSqlQuery& query = *query_;
        if (names_.isEmpty()) {
            connection.runStatement(query, [&] { return query.exec(text); });
            return query;
        }
        connection.runStatement(query, [&] { return query.prepare(text); }, Counting::Uncounted);
        preparedFor_ = preparing;
    }
    const TargetEngineUnit& unit = connection.unit();
    for (const QString& name : std::as_const(names_)) {
        // A parameter left unset would be bound as NULL and match nothing without a word.
        const std::optional<QVariant> value = parameters.value(name);
        if (!value)
            throw TargetError(QStringLiteral("Le paramètre :%1 de la requête %2 n'a pas de valeur.").arg(name, text));
        query_->bindValue(':' + name, statementParameter(*value, unit));
    }
    QSqlQuery& query = *query_;
    connection.runStatement(query, [&] { return query.exec(); });
    return query;
}

TargetStatement::TargetStatement(TargetConnection& connection, QStringList lines)
    : impl_(std::make_unique<Impl>(connection))
{
    impl_->lines = std::move(lines);
}

TargetStatement::~TargetStatement() = default;

QStringList& TargetStatement::sql()
{
    return impl_->lines;
}

const QStringList& TargetStatement::sql() const
{
    return impl_->lines;
}

void TargetStatement::setParameter(const QString& name, const QVariant& value)
{
    impl_->parameters.set(name, value);
}

void TargetStatement::execute()
{
    close();
    impl_->run().finish();
}

void TargetStatement::open()
{
    close();
    QSqlQuery& query = impl_->run();
    const QSqlRecord record = query.record();
    // SQLite reports date-times and booleans as texts and integers: TargetField reads them so.
    QList<ColumnKind> kinds;
    for (int column = 0; column < record.count(); ++column) {
        impl_->columnNames.append(record.fieldName(column));
        kinds.append(columnKindOf(record.field(column).metaType()));
    }
    while (query.next()) {
        QList<QVariant> row;
        row.reserve(record.count());
        for (int column = 0; column < record.count(); ++column)
            row.append(valueFromEngine(query.value(column), query.isNull(column), kinds.at(column)));
        impl_->rows.append(row);
    }
    if (query.lastError().isValid())
        impl_->connection.throwFailure(query);
    query.finish();
    impl_->open = true;
}

void TargetStatement::close()
{
    impl_->open = false;
    impl_->columnNames.clear();
    impl_->rows.clear();
    impl_->current = 0;
}

int TargetStatement::recordCount() const
{
    return impl_->rows.size();
}

bool TargetStatement::eof() const
{
    return impl_->current >= impl_->rows.size();
}

void TargetStatement::next()
{
    if (!eof())
        ++impl_->current;
}

TargetField TargetStatement::field(const QString& name) const
{
    const qsizetype column = indexOfName(impl_->columnNames, name);
    if (column < 0 || !impl_->open)
        throw TargetError(QStringLiteral("Champ %1 introuvable").arg(name));
    if (eof())
        return TargetField();
    return TargetField(impl_->rows.at(impl_->current).at(column));
}

} // namespace p1
