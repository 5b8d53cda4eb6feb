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
} // namespace

IdAllocator::IdAllocator(TargetConnection& target, RunMonitor& ui)
    : ui_(ui),
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
            ui_.showWarning("La requête " + fullText(QryInsertIDValues) + " avec le paramètre chaine=" + key
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
    if (deferred_ && !force) {
        known_.insert(key, value);
        unwritten_.insert(key, value);
        return;
    }
    writeRaise(key, value);
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
        ui_.showWarning("La requête " + fullText(QryUpdateIDValues) + " avec les paramètres key_name=" + key
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
    known_.removeIf([this](const auto& known) { return !unwritten_.contains(known.key()); });
}

void IdAllocator::deferRaises(bool deferred)
{
    deferred_ = deferred;
    if (!deferred) {
        for (auto raise = unwritten_.cbegin(); raise != unwritten_.cend(); ++raise)
            known_.remove(raise.key());
        unwritten_.clear();
    }
}

void IdAllocator::restore(Memory memory)
{
    known_ = std::move(memory.known);
    unwritten_ = std::move(memory.unwritten);
}

void IdAllocator::writeDeferredRaises()
{
    const QMap<QString, qint64> raises = std::exchange(unwritten_, {});
    for (auto raise = raises.cbegin(); raise != raises.cend(); ++raise)
        writeRaise(raise.key(), raise.value());
}

} // namespace p1
