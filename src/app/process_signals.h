#pragma once
// The signals that would end the window in the middle of its work. SIGTERM (a session
// manager, a logout, kill), SIGHUP (the terminal went) and SIGINT (Ctrl-C in it) are only
// noted by their handler, which writes the signal's number into a pipe; the window's thread
// reads it and ends the program in order (received()), after keeping the unsaved work.
// SIGXFSZ (past a file size limit, `ulimit -f`) and SIGPIPE (a pipe whose reader went) are
// caught and passed over, so that such a write fails with its reason ("File too large")
// instead of ending the program and its unsaved work with it.

#include <QObject>

class QSocketNotifier;

namespace tarrowin::app {

class ProcessSignals : public QObject {
    Q_OBJECT
   public:
    // Installs the handlers; one object at a time. The handlers go back to the system's
    // defaults with it.
    explicit ProcessSignals(QObject* parent = nullptr);
    ~ProcessSignals() override;
    ProcessSignals(const ProcessSignals&) = delete;
    ProcessSignals& operator=(const ProcessSignals&) = delete;

    // The exit code of a program ended by the first signal received (128 + its number, as
    // a shell reports it); 0 before one came.
    int exitCode() const { return exitCode_; }

   Q_SIGNALS:
    // The first of the signals, on the thread of this object. Later ones are not repeated.
    void received(int signal);

   private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
    int exitCode_ = 0;
};

}  // namespace tarrowin::app
