#include "dbaccess/id_allocator.h"

#include "common/errors.h"

#include <algorithm>
#include <utility>

namespace p1 {

namespace {
// The statement as the warning dialogs show it: every line followed by CR LF.
QString fullText(const TargetStatement& statement)
{
    QString text;
    for (const QString& line : statement.sql())
        text += line + "\r\n";
    return text;
}
// The raise of QryUpdateIDValues and the raise that never lowers, with "?" placeholders, for what
// is written with a group just before its commit.
const QString raiseText = QStringLiteral("UPDATE ID_VALUES SET LAST_VALUE = ? WHERE KEY_NAME = ?");
const QString keepText = QStringLiteral("UPDATE ID_VALUES SET LAST_VALUE = ? WHERE KEY_NAME = ? AND LAST_VALUE < ?");
} // namespace

IdAllocator::IdAllocator(TargetConnection& target, RunMonitor& ui)
    : target_(target), ui_(&ui),
      QryReadIDValues(target, {QStringLiteral("SELECT LAST_VALUE FROM ID_VALUES WHERE KEY_NAME=:chaine")}),
      QryInsertIDValues(target, {QStringLiteral("INSERT INTO ID_VALUES values (:chaine, 0)")}),
      QryUpdateIDValues(target,
                        {QStringLiteral("UPDATE ID_VALUES SET LAST_VALUE = :last_value WHERE KEY_NAME = :key_name")})
{
}

qint64 IdAllocator::ReadLastValue(const QString& key)
{
    const auto remembered = known_.constFind(key);
    if (remembered != known_.constEnd())
        return *remembered;
    QryReadIDValues.setParameter(QStringLiteral("chaine"), key);
    QryReadIDValues.open();
    qint64 lastValue = 0;
    if (QryReadIDValues.recordCount() > 0) {
        // A key stored twice keeps its highest value: reading it as 0 would hand out identifiers
        // already in use, and inserting yet another row would only add to the confusion.
        lastValue = QryReadIDValues.field(QStringLiteral("LAST_VALUE")).asInteger();
        for (QryReadIDValues.next(); !QryReadIDValues.eof(); QryReadIDValues.next())
            lastValue = std::max(lastValue, QryReadIDValues.field(QStringLiteral("LAST_VALUE")).asInteger());
    } else {
        QryInsertIDValues.setParameter(QStringLiteral("chaine"), key);
        try {
            QryInsertIDValues.execute();
        } catch (const TargetUnavailable&) {
            throw;
        } catch (const std::exception&) {
            ui_->showWarning("La requête " + fullText(QryInsertIDValues) + " avec le paramètre chaine=" + key
                            + " a échoué.");
            QryInsertIDValues.close();
            QryReadIDValues.close();
            return lastValue;
        }
        QryInsertIDValues.close();
    }
    QryReadIDValues.close();
    known_.insert(key, lastValue);
    return lastValue;
}

void IdAllocator::RaiseLastValue(const QString& key, qint64 value, bool force)
{
    const qint64 current = ReadLastValue(key);
    if (current >= value && !force)
        return;
    if (!force && target_.sendsRowsAhead()) {
        target_.writeBeforeCommit(QStringLiteral("raise ") + key, raiseText, {value, key}, Counting::Counted);
        known_.insert(key, value);
        return;
    }
    writeRaise(key, value);
}

bool IdAllocator::keepAtLeast(const QString& key, qint64 value)
{
    try {
        target_.writeBeforeCommit(QStringLiteral("keep ") + key, keepText, {value, key, value}, Counting::Uncounted);
        return true;
    } catch (const TargetUnavailable&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

RunMonitor& IdAllocator::reportTo(RunMonitor& ui)
{
    return *std::exchange(ui_, &ui);
}

void IdAllocator::writeRaise(const QString& key, qint64 value)
{
    QryUpdateIDValues.setParameter(QStringLiteral("last_value"), value);
    QryUpdateIDValues.setParameter(QStringLiteral("key_name"), key);
    try {
        QryUpdateIDValues.execute();
    } catch (const TargetUnavailable&) {
        throw;
    } catch (const std::exception&) {
        ui_->showWarning("La requête " + fullText(QryUpdateIDValues) + " avec les paramètres key_name=" + key
                        + " et last_value=" + QString::number(value) + " a échoué.");
        QryUpdateIDValues.close();
        known_.remove(key);
        return;
    }
    known_.insert(key, value);
    // Not made durable here: the stage's end makes every raise durable with its rows, and a raise
    // lost in a crash before it goes with the rows stored after it (commits survive in order).
    QryUpdateIDValues.close();
}

void IdAllocator::forgetValues()
{
    known_.clear();
}

void IdAllocator::restore(Memory memory)
{
    known_ = std::move(memory.known);
}

} // namespace p1
