#pragma once
// Long work the user waits for (an audio export, the image of a long composition) runs on a
// worker thread behind a modal progress dialog: what is being done, a bar, the time left and
// Cancel. The windows keep painting meanwhile. Cancel (or Escape, or the close box) asks the
// work to stop; the dialog stays, saying so, until the work has stopped.

#include <QDialog>
#include <QElapsedTimer>
#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarrowin::app {

// "About 12 s left", "About 2 min 5 s left" from the time a work has taken and the part of it
// done (0..1); while too little is done to tell, that the time is being estimated.
QString timeLeftText(qint64 elapsedMs, double fraction);

// What the work on the worker thread is given: where to tell how far it is (0..1), and the
// flag that turns true when it should stop.
struct WorkProgress {
    std::function<void(double)> report;
    const std::atomic<bool>* cancel = nullptr;
};

// Runs `work` on a worker thread while the dialog shows `text` under `title`, and returns
// once the work has returned. The dialog shows once the work has taken a moment (short work
// never flashes one); it is modal to the whole program, so no window starts a second work
// meanwhile. If the dialog ends before the work (the program is ended from outside), the
// work is asked to stop as well.
void runWithProgress(QWidget* parent, const QString& title, const QString& text,
                     const std::function<void(const WorkProgress&)>& work);

class ProgressDialog : public QDialog {
    Q_OBJECT
   public:
    ProgressDialog(const QString& title, const QString& text, int steps, QWidget* parent);
    void setProgress(int done);
    int progress() const;
    bool cancelRequested() const { return cancelRequested_; }
    // Closes the dialog once the work is over.
    void finish();

   Q_SIGNALS:
    void cancelled();

   protected:
    void reject() override;  // Escape and the close box ask to cancel
    void closeEvent(QCloseEvent* event) override;

   private:
    QLabel* label_;
    QProgressBar* bar_;
    QLabel* timeLeft_;
    QElapsedTimer elapsed_;
    QPushButton* cancel_;
    bool cancelRequested_ = false;
    bool finished_ = false;
};

}  // namespace tarrowin::app
