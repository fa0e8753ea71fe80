#include "export_progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.h"

namespace tarrowin::app {

ExportProgressDialog::ExportProgressDialog(const QString& text, int steps, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Export Audio"));
    label_ = new QLabel(text, this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, steps);
    bar_->setValue(0);
    bar_->setMinimumWidth(320);
    nameControl(bar_, QStringLiteral("Progress"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel_, &QPushButton::clicked, this, &ExportProgressDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
}

void ExportProgressDialog::setProgress(int done) { bar_->setValue(done); }
int ExportProgressDialog::progress() const { return bar_->value(); }

void ExportProgressDialog::reject() {
    if (finished_) {
        QDialog::reject();
        return;
    }
    if (cancelRequested_) return;
    cancelRequested_ = true;
    label_->setText(QStringLiteral("Cancelling..."));
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
