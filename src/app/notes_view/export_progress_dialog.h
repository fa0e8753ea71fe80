#pragma once
// The progress of the audio export: its file, a bar, the time left, and Cancel. Cancel (or
// Escape, or the close box) asks the rendering to stop; the dialog stays, saying so, until
// the rendering has stopped and taken its file away, and then its owner closes it.

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarrowin::app {

// "About 12 s left", "About 2 min 5 s left" from the time a work has taken and the part of it
// done (0..1); while too little is done to tell, that the time is being estimated.
QString timeLeftText(qint64 elapsedMs, double fraction);

class ExportProgressDialog : public QDialog {
    Q_OBJECT
   public:
    ExportProgressDialog(const QString& text, int steps, QWidget* parent);
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
