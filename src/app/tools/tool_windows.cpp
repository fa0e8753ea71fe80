#include "tool_windows.h"

#include <QWidget>

namespace tarrowin::app {

struct ToolWindows::Impl {};

ToolWindows::ToolWindows(Workspace&, TarrowinView&, VoiceDialogs&, QWidget* mainWindow)
    : QObject(mainWindow), impl_(new Impl) {}
ToolWindows::~ToolWindows() { delete impl_; }

void ToolWindows::openCompositionMaker() {}
bool ToolWindows::isMakerOpen() const { return false; }
void ToolWindows::openRandomizer() {}
void ToolWindows::openMultipleVoiceEditor() {}
void ToolWindows::closeAll() {}
void ToolWindows::stabilize(const UiState&) {}

}  // namespace tarrowin::app
