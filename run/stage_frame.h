#pragma once

#include "run/run_context.h"

#include <exception>
#include <functional>

namespace p1 {

// Thrown when a stage's source table cannot be opened: its error dialog has been shown and the
// whole run ends through its clean-up, with no end line, log file or closing message.
class RunEnded : public std::exception {
public:
    const char* what() const noexcept override { return "run ended"; }
};

// The fixed texts of a stage.
struct StageTexts {
    QString status;       // status line at the start, e.g. "Importation des patients..."
    QString openingError; // dialog text before the error's message
    QString singular;     // summary words for a count of 0 or 1, e.g. " patient créé"
    QString plural;       // summary words for 2 or more
};

// The frame every stage follows: start status, source opened (or the run ends), progress sized
// to the source rows, one step and one pump per row, failure lines, summary line. A stage writes
// only its own columns and texts on top of it.
class StageFrame {
public:
    StageFrame(RunContext& run, StageTexts texts);

    // Shows the start status and pumps; then opens the prepared query, sets the progress maximum
    // (and the position to 0 unless keepPosition). On failure: error dialog, then RunEnded.
    void start(SourceQuery& source, bool keepPosition = false);

    // Walks the source rows: progress + 1 and a pump before each call of importRow.
    void forEachRow(SourceQuery& source, const std::function<void()>& importRow);

    // Runs store(); on an error writes the two failure lines (stamp + wording, then
    // "   ERREUR : " + message), cancels the pending row of each given dataset and returns false.
    bool guard(const QString& wording, const std::function<void()>& store,
               std::initializer_list<TargetDataset*> cancelOnFailure);
    void logFailure(const QString& wording, const QString& message);

    void showStatus(const QString& text); // status line, then a pump
    void addLogLine(const QString& line);

    // Empties the status line, pumps, adds the summary line, puts the progress back to 0.
    void finish(qint64 createdCount);

private:
    RunContext& run_;
    StageTexts texts_;
};

} // namespace p1
