#pragma once

#include <QString>

namespace p1 {

// SIGINT (Ctrl+C), SIGTERM (the system or another program asking the program to end) and SIGHUP
// (its terminal closed) ask a run to stop, for the length of the run: instead of ending the
// process at once, without its log, its report or the release of its claim, the first of them only
// notes the request (an atomic store, all a signal handler may safely do), and the run stops at
// its next row boundary, or between two stages, through its stopped-run path. A second one, while
// the run is stopping, ends the process at once as the signal does by default. SIGPIPE is ignored
// meanwhile: a closed pipe on standard output (a `| tee` ended by the same Ctrl+C) makes a write
// fail instead of ending the process. UI thread only.
class StopSignals {
public:
    // Forgets any earlier request and catches the three signals.
    StopSignals();
    // Puts back the dispositions it found.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

// The signal that asked the last run to stop, 0 when none did; kept after the run, so that the
// window and the command line can give the stopped run's exit status.
int stopSignal();
// A run begins: no stop has been asked of it yet.
void forgetStopRequest();

// Why the run stops, as the log's last line gives it after "Traitement interrompu : "; empty when
// no stop was asked.
QString stopReason();

// Test only, P1_TEST_PAUSE_AT_ROW=<stage word>:<n> in the environment: before the stage's n-th
// source row (from 1), the first time it is reached, the run prints a line on standard error and
// waits until a stop is asked (or a minute has gone by), so that a test can send a signal to a
// run at a known row. Nothing otherwise.
void pauseWhenATestAsks(const QString& stageWord, int rowNumber);

} // namespace p1
