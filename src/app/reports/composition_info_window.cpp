#include "composition_info_window.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/document_controller.h"
#include "report_list.h"
#include "reports/composition_info.h"

namespace tarrowin::app {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

CompositionInfoWindow::CompositionInfoWindow(const DocumentController& document, QWidget* parent)
    : QDialog(parent), document_(document) {
    setWindowTitle(qs(kCompositionInfoCaption));
    setObjectName(QStringLiteral("CompositionInformation"));
    setModal(false);

    auto* globalLabel = new QLabel(qs(kGlobalInfoLabel), this);
    global_ = new ReportList(this);
    nameControl(global_, globalLabel, qs(kGlobalInfoLabel));
    update_ = new QPushButton(QStringLiteral("&Update"), this);
    update_->setAutoDefault(false);  // Enter must not refill the report of the chosen event
    auto* eventLabel = new QLabel(qs(kEventInfoLabel), this);
    event_ = new ReportList(this);
    nameControl(event_, eventLabel, qs(kEventInfoLabel));
    auto* eventsLabel = new QLabel(QStringLiteral("Events"), this);
    eventsLabel->setAlignment(Qt::AlignCenter);
    events_ = new QListWidget(this);
    events_->setSelectionMode(QAbstractItemView::SingleSelection);
    nameControl(events_, eventsLabel, QStringLiteral("Events"));

    // The lines of a report are long and the event report is the longer one.
    const QFontMetrics fm(font());
    global_->setMinimumSize(fm.averageCharWidth() * 50, fm.height() * 7);
    event_->setMinimumSize(fm.averageCharWidth() * 50, fm.height() * 12);
    events_->setFixedWidth(fm.averageCharWidth() * 12);

    auto* layout = new QGridLayout(this);
    layout->addWidget(globalLabel, 0, 0);
    layout->addWidget(global_, 1, 0);
    layout->addWidget(update_, 1, 1, Qt::AlignCenter);
    layout->addWidget(eventLabel, 2, 0);
    layout->addWidget(event_, 3, 0);
    auto* eventsColumn = new QVBoxLayout;
    eventsColumn->addStretch(1);
    eventsColumn->addWidget(eventsLabel);
    eventsColumn->addWidget(events_, 4);
    eventsColumn->addStretch(1);
    layout->addLayout(eventsColumn, 3, 1);
    layout->setRowStretch(1, 78);  // the heights of the two reports as they always were
    layout->setRowStretch(3, 134);
    layout->setColumnStretch(0, 1);
    resize(fm.averageCharWidth() * 80, fm.height() * 40);

    connect(update_, &QPushButton::clicked, this, &CompositionInfoWindow::updateReport);
    connect(events_, &QListWidget::currentRowChanged, this, &CompositionInfoWindow::reportEvent);
    updateReport();
}

void CompositionInfoWindow::updateReport() {
    const CompositionInfoContents contents =
        updateCompositionInfo(document_.doc().composition(), document_.fileVersion());
    {
        const QSignalBlocker block(events_);
        events_->clear();
        for (const std::string& e : contents.events) events_->addItem(QString::fromStdString(e));
        if (events_->count() > 0) events_->setCurrentRow(0);  // the event whose report shows
    }
    global_->setRows(contents.global);
    event_->setRows(contents.event);
    global_->setEnabled(contents.listsEnabled);
    event_->setEnabled(contents.listsEnabled);
    events_->setEnabled(contents.listsEnabled);
}

void CompositionInfoWindow::done(int result) {
    QDialog::done(result);
    deleteLater();
}

void CompositionInfoWindow::reportEvent(int row) {
    if (row < 0) return;
    event_->setRows(eventReport(document_.doc().composition(), row));
}

}  // namespace tarrowin::app
