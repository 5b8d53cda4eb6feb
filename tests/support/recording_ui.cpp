#include "tests/support/recording_ui.h"

#include "run/location_texts.h"

namespace p1 {

namespace {
const QList<Box> allBoxes = {Box::Vider,          Box::ImportMedecins,      Box::ImportCorrespondants,
                             Box::ImportPatients, Box::ImportAnteced,       Box::ImportConsultations,
                             Box::ImportCourriers, Box::ImportOrdo};
}

RecordingUi::RecordingUi()
{
    for (Location location : {Location::SourceBase, Location::SourceLetters, Location::TargetBase})
        locations_[location] = defaultLocationText(location);
    setAllTicked(true);
}

void RecordingUi::setTicked(Box box, bool ticked)
{
    boxes_[box] = ticked;
}

void RecordingUi::setAllTicked(bool ticked)
{
    for (Box box : allBoxes)
        boxes_[box] = ticked;
}

void RecordingUi::scriptConfirmAnswers(const QList<bool>& answers)
{
    confirmAnswers_ = answers;
}

void RecordingUi::setElapsedText(const QString& text)
{
    elapsedText_ = text;
}

QStringList RecordingUi::dialogTexts(DialogKind kind) const
{
    QStringList texts;
    for (const Dialog& dialog : dialogs_)
        if (dialog.kind == kind)
            texts.append(dialog.text);
    return texts;
}

QString RecordingUi::locationText(Location location) const
{
    return locations_.value(location);
}

void RecordingUi::setLocationText(Location location, const QString& text)
{
    locations_[location] = text;
}

bool RecordingUi::isTicked(Box box) const
{
    return boxes_.value(box);
}

void RecordingUi::setStatus(const QString& text)
{
    status_ = text;
    statusHistory_.append(text);
}

void RecordingUi::showError(const QString& text)
{
    dialogs_.append({DialogKind::Error, text});
}

void RecordingUi::showWarning(const QString& text)
{
    dialogs_.append({DialogKind::Warning, text});
}

bool RecordingUi::confirm(const QString& text)
{
    dialogs_.append({DialogKind::Confirm, text});
    return confirmAnswers_.isEmpty() ? true : confirmAnswers_.takeFirst();
}

void RecordingUi::showMessage(const QString& text)
{
    dialogs_.append({DialogKind::Message, text});
}

} // namespace p1
