#pragma once
// "&Notes" as the main window runs it: shows or hides the "Notes" window (a piano roll of
// what plays), made the first time it shows; closing the window unchecks the command.

#include <QObject>

#include "app/command_state.h"

class QMainWindow;

namespace tarrowin::app {

class Workspace;
class NotesWindow;

class NotesCommand : public QObject {
    Q_OBJECT
   public:
    NotesCommand(Workspace& workspace, QMainWindow* mainWindow);

    bool notesShown() const { return shown_; }
    void setNotesShown(bool on);
    // The window, once it was shown (else null).
    NotesWindow* notesWindow() const { return notes_; }
    // The playhead follows the play state; the notes follow the play mode and the
    // percussion channel.
    void stabilize(const UiState& state);

   Q_SIGNALS:
    void notesShownChanged(bool on);

   private:
    Workspace& ws_;
    QMainWindow* mainWindow_;
    NotesWindow* notes_ = nullptr;
    bool shown_ = false;
    bool playing_ = false;
};

}  // namespace tarrowin::app
