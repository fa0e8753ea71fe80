#include "export_progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/accessibility.h"

namespace tarrowin::app {

namespace {

// Before this much is done, or this much time has passed, an estimate would jump about.
constexpr double kLeastFraction = 0.02;
constexpr qint64 kLeastElapsedMs = 1000;

}  // namespace

QString timeLeftText(qint64 elapsedMs, double fraction) {
    if (!(fraction >= kLeastFraction) || elapsedMs < kLeastElapsedMs) return QStringLiteral("Estimating the time left...");
    if (fraction >= 1.0) return QStringLiteral("Finishing...");
    const auto seconds = static_cast<qint64>(std::ceil(static_cast<double>(elapsedMs) * (1.0 - fraction) / fraction / 1000.0));
    if (seconds < 60) return QStringLiteral("About %1 s left").arg(std::max<qint64>(1, seconds));
    return QStringLiteral("About %1 min %2 s left").arg(seconds / 60).arg(seconds % 60);
}

ExportProgressDialog::ExportProgressDialog(const QString& text, int steps, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Export Audio"));
    label_ = new QLabel(text, this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, steps);
    bar_->setValue(0);
    bar_->setMinimumWidth(320);
    nameControl(bar_, QStringLiteral("Progress"));
    timeLeft_ = new QLabel(timeLeftText(0, 0.0), this);
    describeControl(timeLeft_, QStringLiteral("Time left"));  // its name is its text
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel_, &QPushButton::clicked, this, &ExportProgressDialog::reject);
    elapsed_.start();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(timeLeft_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
}

void ExportProgressDialog::setProgress(int done) {
    bar_->setValue(done);
    if (!cancelRequested_ && bar_->maximum() > 0)
        timeLeft_->setText(timeLeftText(elapsed_.elapsed(), static_cast<double>(done) / bar_->maximum()));
}
int ExportProgressDialog::progress() const { return bar_->value(); }

void ExportProgressDialog::reject() {
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

void ExportProgressDialog::closeEvent(QCloseEvent* event) {
    if (finished_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    reject();
}

void ExportProgressDialog::finish() {
    finished_ = true;
    done(cancelRequested_ ? Rejected : Accepted);
}

}  // namespace tarrowin::app
