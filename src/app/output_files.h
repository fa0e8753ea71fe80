#pragma once
// Where the window's outputs go and how they are written: one save dialog for every output
// (documents, MIDI files, audio, images), one writer, the document layer's ReplacingFile, and
// one check before the notes of the document are exported as MIDI or audio.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "midifile/midi_export.h"

class QFileDialog;
class QWidget;

namespace tarrowin::app {

class Workspace;

// Before "Save Midi file..." or "Export Audio...", ahead of any file dialog: takes what is
// typed into the form and checks that the play mode has notes to export (events in the
// composition, End above Start) and that the file or the synthesizer can give the tuned
// voices their tuning. The mode to export, or none after the refusal was shown.
enum class ExportKind { Midi, Audio };
std::optional<ExportMode> exportModeIfReady(Workspace& workspace, QWidget* parent, ExportKind kind);

// A kind of file a save dialog offers: "PNG images (*.png)" and its suffix "png".
struct OutputFormat {
    QString filter;
    QString suffix;
};

// Asks where an output goes. The dialog opens in `folder` with `name` typed in (either may
// be empty) and offers `formats`, the first one chosen. A name typed without a suffix gets
// the chosen format's suffix before the dialog asks whether to replace an existing file,
// so no file is replaced unasked. Empty when cancelled. `addControls`, when given, adds
// controls of the caller's below the dialog's own (the dialog is then Qt's, never the
// desktop's, which could not show them).
QString askOutputPath(QWidget* parent, const QString& title, const QString& folder, const QString& name,
                      const QList<OutputFormat>& formats,
                      const std::function<void(QFileDialog&)>& addControls = {});

// Writes `bytes` to `path` by the writer's rules: a file is replaced only once the new one
// is complete and on the disk, a pipe or a character device is written into directly, and
// a folder, a block device, a socket or a pipe that nothing reads is refused. Empty on
// success, else the reason ("File too large", "no program reads from the pipe").
QString writeOutput(const QString& path, const QByteArray& bytes);

}  // namespace tarrowin::app
