#pragma once
// "Composition Information": the modeless report on the open document's composition, a
// global summary and the settings of the event chosen in its "Events" list. It reads the
// document when it opens and on "&Update"; a change to the document leaves the report as
// it was until then. Enter leaves it open; Escape and the close box close it.

#include <QDialog>

class QListWidget;
class QPushButton;

namespace tarrowin::app {

class DocumentController;
class ReportList;

class CompositionInfoWindow : public QDialog {
    Q_OBJECT
   public:
    explicit CompositionInfoWindow(const DocumentController& document, QWidget* parent = nullptr);

    // Rebuilds the lists from the document: the events, the global report, event 0.
    void updateReport();

    ReportList* globalList() const { return global_; }
    ReportList* eventList() const { return event_; }
    QListWidget* eventsList() const { return events_; }
    QPushButton* updateButton() const { return update_; }

    void accept() override {}  // Enter does not close the report
    // Escape and the close box: the window goes, and with it the report.
    void done(int result) override;

   private:
    void reportEvent(int row);

    const DocumentController& document_;
    ReportList* global_;
    ReportList* event_;
    QListWidget* events_;
    QPushButton* update_;
};

}  // namespace tarrowin::app
