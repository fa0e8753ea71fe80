#include "sound_and_notes.h"

#include <QFileInfo>
#include <QMainWindow>
#include <QStatusBar>

#include "app/qt_prompter.h"
#include "app/wait_cursor.h"
#include "app/workspace.h"
#include "audio_export.h"
#include "notes_window.h"
#include "playback/synth.h"
#include "soundfont_dialog.h"

namespace tarrowin::app {

namespace {

constexpr int kStatusMs = 6000;

QString duration(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

SoundAndNotes::SoundAndNotes(Workspace& workspace, TarrowinView& view, QMainWindow* mainWindow)
    : QObject(mainWindow), ws_(workspace), mainWindow_(mainWindow), audio_(new AudioExport(workspace, view, mainWindow)) {
    audio_->preferredSoundFont = [this] { return ws_.preferences.soundFont(); };
    applySoundFont();
    connect(audio_, &AudioExport::exported, this, [this](const QString& path, qint64 ms) {
        mainWindow_->statusBar()->showMessage(
            QStringLiteral("Exported %1 (%2)").arg(QFileInfo(path).fileName(), duration(ms)), kStatusMs);
    });
}

SoundAndNotes::~SoundAndNotes() = default;

bool SoundAndNotes::notesShown() const { return shown_; }

void SoundAndNotes::setNotesShown(bool on) {
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
            notes_->show();
            notes_->raise();
            notes_->activateWindow();
            notes_->setPlaying(playing_);
        } else {
            notes_->hide();
        }
    }
    Q_EMIT notesShownChanged(on);
}

void SoundAndNotes::exportAudio() { audio_->run(); }

void SoundAndNotes::chooseSoundFont() {
    SoundFontDialog dialog(ws_.preferences.soundFont(), mainWindow_);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString path = dialog.choice();
    if (path == ws_.preferences.soundFont()) return;
    if (!path.isEmpty()) {
        std::string problem;
        {
            WaitCursor wait;  // FluidSynth reads the whole file
            problem = soundFontProblem(path.toStdString());
        }
        if (!problem.empty()) {
            showMessage(mainWindow_, QString::fromStdString(problem), QStringLiteral("Tarrowin"),
                        MessageIcon::Exclamation);
            return;
        }
    }
    ws_.preferences.setSoundFont(path);
    applySoundFont();
    ws_.playback.output().prepare();  // the synthesizer's stream moves to the new SoundFont
}

void SoundAndNotes::applySoundFont() {
    const std::string path = ws_.preferences.soundFont().toStdString();
    for (const auto& backend : ws_.playback.output().backends()) {
        if (auto* synth = dynamic_cast<SynthBackend*>(backend.get())) synth->setPreferredSoundFont(path);
    }
}

void SoundAndNotes::stabilize(const UiState& state) {
    playing_ = state.playing;
    if (notes_ == nullptr) return;
    notes_->setPlaying(state.playing);
    notes_->refresh();
}

}  // namespace tarrowin::app
