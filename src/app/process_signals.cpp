#include "process_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace tarrowin::app {

namespace {

constexpr std::array kEndingSignals{SIGTERM, SIGHUP, SIGINT};
constexpr std::array kWriteSignals{SIGXFSZ, SIGPIPE};
// The pipe the handler writes into: [0] read by the window's thread, [1] written by the handler.
std::array<int, 2> g_pipe{-1, -1};

// Caught, not ignored: a write past a file size limit or into a pipe whose reader went
// fails with EFBIG or EPIPE all the same, and the programs the window starts (the MIDI file
// player, the calculator) get the default actions back at exec, where SIG_IGN would stay.
extern "C" void overlookSignal(int) {}

// Async-signal-safe: one write() of one byte, errno kept for the code it interrupted.
extern "C" void noteSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

ProcessSignals::ProcessSignals(QObject* parent) : QObject(parent) {
    struct sigaction overlook {};
    overlook.sa_handler = overlookSignal;
    sigemptyset(&overlook.sa_mask);
    overlook.sa_flags = SA_RESTART;
    for (int s : kWriteSignals) ::sigaction(s, &overlook, nullptr);
    if (::pipe2(g_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("tarrowin: no pipe for the signals: SIGTERM and SIGHUP end the program at once");
        g_pipe = {-1, -1};
        return;
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ProcessSignals::readPipe);
    struct sigaction note {};
    note.sa_handler = noteSignal;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;
    for (int s : kEndingSignals) ::sigaction(s, &note, nullptr);
}

ProcessSignals::~ProcessSignals() {
    for (int s : kEndingSignals) ::signal(s, SIG_DFL);
    for (int s : kWriteSignals) ::signal(s, SIG_DFL);
    for (int& fd : g_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void ProcessSignals::readPipe() {
    unsigned char byte = 0;
    int first = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (first == 0) first = byte;
    }
    if (first == 0 || exitCode_ != 0) return;
    exitCode_ = 128 + first;
    Q_EMIT received(first);
}

}  // namespace tarrowin::app
