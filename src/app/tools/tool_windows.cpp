#include "tool_windows.h"

#include <QWidget>

#include "app/window_placement.h"
#include "app/workspace.h"
#include "composition_maker_window.h"
#include "randomizer_dialog.h"
#include "tools/composition_randomizer.h"
#include "tools/multiple_voice_editor.h"
#include "voice_editor_dialog.h"

namespace tarrowin::app {

ToolWindows::ToolWindows(Workspace& workspace, QWidget* mainWindow)
    : QObject(mainWindow),
      ws_(workspace),
     
      mainWindow_(mainWindow),
      randomizer_(std::make_unique<CompositionRandomizer>()),
      voiceEditor_(std::make_unique<MultipleVoiceEditor>()) {}

ToolWindows::~ToolWindows() = default;

void ToolWindows::openCompositionMaker() {
    if (maker_) return;
    maker_ = new CompositionMakerWindow(ws_, mainWindow_);
    connect(maker_, &CompositionMakerWindow::closeRequested, this, &ToolWindows::closeCompositionMaker);
    maker_->stabilize(state_);
    showBeside(maker_, mainWindow_, ws_.preferences);
    Q_EMIT windowsChanged();
}

CompositionMakerWindow& ToolWindows::raiseCompositionMaker() {
    openCompositionMaker();
    maker_->showNormal();
    maker_->raise();
    maker_->activateWindow();
    return *maker_;
}

void ToolWindows::closeCompositionMaker() {
    if (!maker_) return;
    maker_->hide();
    maker_->deleteLater();
    maker_ = nullptr;
    Q_EMIT windowsChanged();
}

void ToolWindows::openRandomizer() {
    // The Randomizer reads the voices: what is typed in the form counts.
    if (!ws_.document.takeTypedInput()) return;
    RandomizerDialog dialog(ws_, *randomizer_, [this] { raiseCompositionMaker(); }, mainWindow_);
    dialog.exec();
}

void ToolWindows::openMultipleVoiceEditor() {
    // The editor's "Change Settings" starts from the voices: what is typed in the form counts.
    if (!ws_.document.takeTypedInput()) return;
    VoiceEditorDialog dialog(ws_, *voiceEditor_, mainWindow_);
    dialog.exec();
}

void ToolWindows::closeAll() { closeCompositionMaker(); }

void ToolWindows::stabilize(const UiState& state) {
    state_ = state;
    if (maker_) maker_->stabilize(state);
}

}  // namespace tarrowin::app
