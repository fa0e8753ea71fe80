#pragma once
// The composition tools as the main window opens them: the Composition Maker (modeless,
// at most one), the Composition Randomizer and the Multiple Voice Editor (modal; their
// choices are kept for the window's lifetime so they last between openings).

#include <QObject>
#include <memory>

#include "app/command_state.h"

class QWidget;

namespace tarrowin {
class CompositionRandomizer;
class MultipleVoiceEditor;
}  // namespace tarrowin

namespace tarrowin::app {

class Workspace;
class CompositionMakerWindow;

class ToolWindows : public QObject {
    Q_OBJECT
   public:
    ToolWindows(Workspace& workspace, QWidget* mainWindow);
    ~ToolWindows() override;

    // Opens the Composition Maker unless it is open.
    void openCompositionMaker();
    bool isMakerOpen() const { return maker_ != nullptr; }
    // The open Composition Maker, or null.
    CompositionMakerWindow* maker() const { return maker_; }
    // Opens the Composition Maker if needed and brings it to the front ("Create" does).
    CompositionMakerWindow& raiseCompositionMaker();
    void closeCompositionMaker();

    void openRandomizer();
    void openMultipleVoiceEditor();
    // What the two modal dialogs keep between openings.
    CompositionRandomizer& randomizer() { return *randomizer_; }
    MultipleVoiceEditor& voiceEditor() { return *voiceEditor_; }

    // New and Open: the Composition Maker closes.
    void closeAll();
    // The Composition Maker's buttons follow the play state.
    void stabilize(const UiState& state);

   Q_SIGNALS:
    // A tool window opened or closed: the commands that open them are stabilized again.
    void windowsChanged();

   private:
    Workspace& ws_;
    QWidget* mainWindow_;
    CompositionMakerWindow* maker_ = nullptr;
    std::unique_ptr<CompositionRandomizer> randomizer_;
    std::unique_ptr<MultipleVoiceEditor> voiceEditor_;
    UiState state_;
};

}  // namespace tarrowin::app
