#include "sound_and_notes.h"

#include <QMainWindow>

namespace tarrowin::app {

struct SoundAndNotes::Impl {
    bool shown = false;
};

SoundAndNotes::SoundAndNotes(Workspace&, TarrowinView&, QMainWindow* mainWindow)
    : QObject(mainWindow), impl_(new Impl) {}
SoundAndNotes::~SoundAndNotes() { delete impl_; }

bool SoundAndNotes::notesShown() const { return impl_->shown; }
void SoundAndNotes::setNotesShown(bool on) {
    impl_->shown = on;
    Q_EMIT notesShownChanged(on);
}
void SoundAndNotes::exportAudio() {}
void SoundAndNotes::chooseSoundFont() {}
void SoundAndNotes::stabilize(const UiState&) {}

}  // namespace tarrowin::app
