#pragma once
// The Composition Maker: the modeless window in which a composition is built by hand. It
// lists the events ("[start -> end]"), appends or inserts the current settings as an event,
// removes one event or all, loads an event into the form on a double-click, and auditions
// the selected event; Delete in the list removes it. Its selection is the "Play from Event"
// choice. Enter and Escape do nothing and there is no close box: "Close" is the only way out.

#include <QWidget>
#include <functional>
#include <optional>

#include "app/command_state.h"
#include "tools/event_commands.h"

class QListWidget;
class QPushButton;

namespace tarrowin::app {

class Workspace;

class CompositionMakerWindow : public QWidget {
    Q_OBJECT
   public:
    CompositionMakerWindow(Workspace& workspace, QWidget* parent);

    // The buttons: all while idle, only "Stop" while an event is auditioned, only "Close"
    // while the main window plays.
    void stabilize(const UiState& state);
    // Shows the composition's events; the selected line stays where it is when it still exists.
    void refresh();

    // The commands of the buttons and the list.
    void add();
    void insert();
    void remove();
    void clear();
    void play();
    void stop();
    void loadEvent(int row);

    std::optional<int> selectedRow() const;
    void selectRow(std::optional<int> row);
    QListWidget* list() const { return list_; }

   Q_SIGNALS:
    // "Close" was pressed: the owner destroys the window.
    void closeRequested();

   protected:
    void closeEvent(QCloseEvent* event) override;

   private:
    QPushButton* makeButton(const char* text);
    // Runs one event command as one undo step and follows what it did.
    void apply(const QString& name, const std::function<EventEdit(CTarrowinDoc&)>& command);
    void userSelected();

    Workspace& ws_;
    QListWidget* list_;
    QPushButton* add_;
    QPushButton* insert_;
    QPushButton* remove_;
    QPushButton* clear_;
    QPushButton* play_;
    QPushButton* stop_;
    QPushButton* close_;
    bool closing_ = false;
};

}  // namespace tarrowin::app
