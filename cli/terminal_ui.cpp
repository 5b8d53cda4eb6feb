#include "cli/terminal_ui.h"

#include "common/locale_texts.h"
#include "run/location_texts.h"

#include <QTime>

#include <unistd.h>

namespace p1 {

namespace {

constexpr int barWidth = 30;
constexpr qint64 redrawIntervalMs = 100;

// Dialog texts separate their lines with a lone carriage return, which a terminal would overwrite.
QString forTerminal(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace('\r', '\n');
    return lines;
}

bool isYes(const QString& answer)
{
    static const QStringList yes = {"o", "oui", "y", "yes"};
    return yes.contains(answer.trimmed().toLower());
}

} // namespace

TerminalUi::TerminalUi(TerminalStreams streams) : streams_(streams), progressShown_(isatty(fileno(streams.err)) != 0) {}

QString TerminalUi::locationText(Location location) const
{
    return locations_.value(location, defaultLocationText(location));
}

void TerminalUi::setStatus(const QString& text)
{
    status_ = text;
    drawProgress();
}

void TerminalUi::setStatusVisible(bool visible)
{
    statusVisible_ = visible;
    if (!visible)
        clearProgress();
}

void TerminalUi::setProgressPosition(int position)
{
    progressPosition_ = position;
    drawProgress();
}

void TerminalUi::addPanelLine(const QString& line)
{
    logLines_.append(line);
    clearProgress();
    printText(streams_.out, line + '\n');
}

void TerminalUi::stopElapsedTimer()
{
    if (elapsed_.isValid())
        lastElapsedMs_ = elapsed_.elapsed();
    elapsed_.invalidate();
}

QString TerminalUi::elapsedText() const
{
    const qint64 elapsedMs = elapsed_.isValid() ? elapsed_.elapsed() : lastElapsedMs_;
    return timeText(QTime(0, 0).addSecs(elapsedMs / 1000));
}

void TerminalUi::showError(const QString& text)
{
    printError(forTerminal(text));
}

void TerminalUi::showWarning(const QString& text)
{
    printError(QStringLiteral("Avertissement : ") + forTerminal(text));
}

bool TerminalUi::confirm(const QString& text)
{
    clearProgress();
    if (answerYes_) {
        printText(streams_.err, forTerminal(text) + QStringLiteral(" oui (--yes)\n"));
        return true;
    }
    printText(streams_.err, forTerminal(text) + QStringLiteral(" [o/N] "));
    char answer[64] = {};
    if (std::fgets(answer, sizeof answer, streams_.in) == nullptr) {
        printText(streams_.err, QStringLiteral("\nPas de réponse : non.\n"));
        return false;
    }
    return isYes(QString::fromUtf8(answer));
}

void TerminalUi::showMessage(const QString& text)
{
    printError(forTerminal(text));
}

void TerminalUi::printError(const QString& text)
{
    clearProgress();
    printText(streams_.err, text + '\n');
}

void TerminalUi::drawProgress()
{
    if (!progressShown_ || !statusVisible_ || (lastDraw_.isValid() && lastDraw_.elapsed() < redrawIntervalMs))
        return;
    lastDraw_.start();
    const int filled = progressMaximum_ > 0 ? qBound(0, progressPosition_ * barWidth / progressMaximum_, barWidth) : 0;
    const QString bar = QString(filled, '#') + QString(barWidth - filled, '.');
    printText(streams_.err, QStringLiteral("\r\033[K[%1] %2/%3 %4").arg(bar).arg(progressPosition_).arg(progressMaximum_).arg(status_.left(60)));
    barDrawn_ = true;
}

void TerminalUi::clearProgress()
{
    if (!barDrawn_)
        return;
    printText(streams_.err, QStringLiteral("\r\033[K"));
    barDrawn_ = false;
    lastDraw_.invalidate();
}

void printText(FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace p1
