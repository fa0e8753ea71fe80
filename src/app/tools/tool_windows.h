#pragma once
// The composition tools as the main window opens them: the Composition Maker (modeless,
// at most one), the Composition Randomizer and the Multiple Voice Editor (modal, kept for
// the window's lifetime so their choices last between openings).

#include <QObject>

#include "app/command_state.h"

class QWidget;

namespace tarrowin::app {

class Workspace;
class TarrowinView;
class VoiceDialogs;

class ToolWindows : public QObject {
    Q_OBJECT
   public:
    ToolWindows(Workspace& workspace, TarrowinView& view, VoiceDialogs& voiceDialogs, QWidget* mainWindow);
    ~ToolWindows() override;

    void openCompositionMaker();
    bool isMakerOpen() const;
    void openRandomizer();
    void openMultipleVoiceEditor();
    // New and Open: the Composition Maker closes.
    void closeAll();
    // The Composition Maker's buttons follow the play state.
    void stabilize(const UiState& state);

   Q_SIGNALS:
    // A tool window opened or closed: the commands that open them are stabilized again.
    void windowsChanged();

   private:
    struct Impl;
    Impl* impl_;
};

}  // namespace tarrowin::app
