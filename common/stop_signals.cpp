#include "common/stop_signals.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <signal.h>

namespace p1 {

namespace {

std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch a lock-free atomic");

constexpr int caught[] = {SIGINT, SIGTERM, SIGHUP};

// The first signal asks; a second one, while the run stops, ends the process as its default does.
extern "C" void onStopSignal(int signal)
{
    int none = 0;
    if (requested.compare_exchange_strong(none, signal))
        return;
    // Both are async-signal-safe; the signal is blocked while its handler runs, and is delivered
    // with its default action as soon as the handler returns.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

struct SavedDispositions {
    struct sigaction stop[std::size(caught)];
    struct sigaction pipe;
};

SavedDispositions saved;
int installed = 0; // nested runs (none today) keep the outermost dispositions

} // namespace

StopSignals::StopSignals()
{
    forgetStopRequest();
    if (installed++ > 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A system call the signal interrupts goes on (a statement to the server, a file's write).
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(caught); ++i)
        ::sigaction(caught[i], &action, &saved.stop[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &saved.pipe);
}

StopSignals::~StopSignals()
{
    if (--installed > 0)
        return;
    for (std::size_t i = 0; i < std::size(caught); ++i)
        ::sigaction(caught[i], &saved.stop[i], nullptr);
    ::sigaction(SIGPIPE, &saved.pipe, nullptr);
}

int stopSignal()
{
    return requested.load();
}

void forgetStopRequest()
{
    requested.store(0);
}

QString stopReason()
{
    switch (stopSignal()) {
    case 0: return {};
    case SIGINT: return QStringLiteral("l'arrêt a été demandé au clavier (Ctrl+C, signal SIGINT).");
    case SIGTERM: return QStringLiteral("l'arrêt du programme a été demandé (signal SIGTERM).");
    case SIGHUP: return QStringLiteral("le terminal du programme a été fermé (signal SIGHUP).");
    default: return QStringLiteral("l'arrêt du programme a été demandé (signal %1).").arg(stopSignal());
    }
}

void pauseWhenATestAsks(const QString& stageWord, int rowNumber)
{
    static const QString asked = qEnvironmentVariable("P1_TEST_PAUSE_AT_ROW");
    static bool paused = false;
    if (asked.isEmpty() || paused || asked != stageWord + u':' + QString::number(rowNumber))
        return;
    paused = true;
    std::fprintf(stderr, "P1_TEST_PAUSE_AT_ROW : en pause avant la ligne %d de l'étape %s\n", rowNumber,
                 stageWord.toUtf8().constData());
    std::fflush(stderr);
    QElapsedTimer waited;
    waited.start();
    while (stopSignal() == 0 && waited.elapsed() < 60'000)
        QThread::msleep(10);
}

} // namespace p1
