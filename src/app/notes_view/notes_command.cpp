#include "notes_command.h"

#include <QMainWindow>

#include "app/window_placement.h"
#include "app/workspace.h"
#include "notes_window.h"

namespace tarrowin::app {

NotesCommand::NotesCommand(Workspace& workspace, QMainWindow* mainWindow)
    : QObject(mainWindow), ws_(workspace), mainWindow_(mainWindow) {}

void NotesCommand::setNotesShown(bool on) {
    if (on && notes_ == nullptr) {
        notes_ = new NotesWindow(ws_, mainWindow_);
        connect(notes_, &NotesWindow::closed, this, [this] {
            shown_ = false;
            Q_EMIT notesShownChanged(false);
        });
    }
    shown_ = on;
    if (notes_ != nullptr) {
        if (on) {
            showBeside(notes_, mainWindow_, ws_.preferences);
            notes_->setPlaying(playing_);
        } else {
            notes_->hide();
        }
    }
    Q_EMIT notesShownChanged(on);
}

void NotesCommand::stabilize(const UiState& state) {
    playing_ = state.playing;
    if (notes_ == nullptr) return;
    notes_->setPlaying(state.playing);
    notes_->refresh();
}

}  // namespace tarrowin::app
