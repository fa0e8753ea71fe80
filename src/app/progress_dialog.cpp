#include "progress_dialog.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <thread>

#include "app/accessibility.h"
#include "app/thread_mailbox.h"

namespace tarrowin::app {

namespace {

// Before this much is done, or this much time has passed, an estimate would jump about.
constexpr double kLeastFraction = 0.02;
constexpr qint64 kLeastElapsedMs = 1000;
constexpr int kSteps = 1000;
constexpr int kShowProgressMs = 50;
constexpr int kShowAfterMs = 400;

}  // namespace

void runWithProgress(QWidget* parent, const QString& title, const QString& text,
                     const std::function<void(const WorkProgress&)>& work) {
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> over{false};
    QEventLoop briefWait;
    ProgressDialog progress(title, text, kSteps, parent);
    QObject::connect(&progress, &ProgressDialog::cancelled, &progress, [&cancel] { cancel.store(true); });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] { progress.setProgress(done.load()); });
    tick.start(kShowProgressMs);
    ThreadMailbox mailbox;
    std::thread worker([&] {
        work(WorkProgress{[&done](double fraction) { done.store(static_cast<int>(fraction * kSteps)); }, &cancel});
        over.store(true);
        // Delivered only while this call runs its event loops; the mailbox's end drops it otherwise.
        mailbox.post([&] {
            briefWait.quit();
            progress.finish();
        });
    });
    // Short work is over before a dialog would only flash: the dialog shows once the work has
    // taken a moment. Until then clicks and keys wait, as they would for work on this thread.
    QTimer::singleShot(kShowAfterMs, &briefWait, &QEventLoop::quit);
    briefWait.exec(QEventLoop::ExcludeUserInputEvents);
    if (!over.load()) progress.exec();
    // The dialog also ends when the program is ended from outside: the work stops then.
    // After a work that has finished, the flag changes nothing.
    cancel.store(true);
    worker.join();
}

QString timeLeftText(qint64 elapsedMs, double fraction) {
    if (!(fraction >= kLeastFraction) || elapsedMs < kLeastElapsedMs) return QStringLiteral("Estimating the time left...");
    if (fraction >= 1.0) return QStringLiteral("Finishing...");
    const auto seconds = static_cast<qint64>(std::ceil(static_cast<double>(elapsedMs) * (1.0 - fraction) / fraction / 1000.0));
    if (seconds < 60) return QStringLiteral("About %1 s left").arg(std::max<qint64>(1, seconds));
    return QStringLiteral("About %1 min %2 s left").arg(seconds / 60).arg(seconds % 60);
}

ProgressDialog::ProgressDialog(const QString& title, const QString& text, int steps, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    label_ = new QLabel(text, this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, steps);
    bar_->setValue(0);
    bar_->setMinimumWidth(320);
    nameControl(bar_, QStringLiteral("Progress"));
    timeLeft_ = new QLabel(timeLeftText(0, 0.0), this);
    describeControl(timeLeft_, QStringLiteral("Time left"));  // its name is its text
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);
    elapsed_.start();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(timeLeft_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
}

void ProgressDialog::setProgress(int done) {
    bar_->setValue(done);
    if (!cancelRequested_ && bar_->maximum() > 0)
        timeLeft_->setText(timeLeftText(elapsed_.elapsed(), static_cast<double>(done) / bar_->maximum()));
}
int ProgressDialog::progress() const { return bar_->value(); }

void ProgressDialog::reject() {
    if (finished_) {
        QDialog::reject();
        return;
    }
    if (cancelRequested_) return;
    cancelRequested_ = true;
    label_->setText(QStringLiteral("Cancelling..."));
    timeLeft_->clear();
    cancel_->setEnabled(false);
    Q_EMIT cancelled();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    if (finished_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    reject();
}

void ProgressDialog::finish() {
    finished_ = true;
    done(cancelRequested_ ? Rejected : Accepted);
}

}  // namespace tarrowin::app
